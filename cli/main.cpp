// saalwacht-cli: sends a classroom command to student PCs from a terminal or
// a script, the way the teacher console does.

#include <filesystem>
#include <iostream>
#include <map>

#include "cli/command_client.h"
#include "platform/system.h"

namespace fs = std::filesystem;
using namespace saalwacht;

namespace {

void usage(std::ostream& out) {
  out << "usage: saalwacht-cli [--timeout SECONDS] [--key FILE] [--from ADDRESS] HOST... COMMAND\n"
         "       saalwacht-cli keygen FILE [COMMENT]\n"
         "commands:\n"
         "  reset              end screen blanking\n"
         "  blank              blank the screen\n"
         "  shutdown           tell the student and power the PC off\n"
         "  message TEXT       show TEXT to the student\n"
         "  screenshot FILE    save the student's screen as a JPEG file\n"
         "                     (with several hosts: FILE gets -HOST before its extension)\n"
         "--key FILE proves every command with the private key FILE (made by keygen); PCs whose\n"
         "kursdienst trusts its public key (FILE.pub) take only such commands.\n"
         "--from ADDRESS connects from that local address (a PC with several networks).\n"
         "keygen writes a new private key to FILE (readable by you only) and its public key to FILE.pub.\n"
         "Exit status 0 when every host got its command.\n";
}

fs::path pictureFile(const fs::path& file, const std::string& host, bool severalHosts) {
  if (!severalHosts) return file;
  fs::path named = file;
  named.replace_filename(file.stem().string() + "-" + host + file.extension().string());
  return named;
}

int keygen(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    usage(std::cerr);
    return 2;
  }
  const fs::path file = argv[2];
  std::error_code error;
  if (fs::exists(file, error)) {
    std::cerr << "saalwacht-cli: " << file.string() << " exists already; a key is never overwritten\n";
    return 1;
  }
  const std::string comment = argc == 4 ? argv[3] : platform::environmentValue("USER").value_or("saalwacht");
  const auto key = crypto::PrivateKey::generate(comment);
  if (const auto failure = crypto::savePrivateKey(file, key)) {
    std::cerr << "saalwacht-cli: " << *failure << "\n";
    return 1;
  }
  std::cout << "private key: " << file.string() << "\npublic key:  " << file.string() << ".pub\nfingerprint: "
            << crypto::fingerprint(key.publicKey().bytes) << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "keygen") return keygen(argc, argv);
  const std::map<std::string, protocol::CommandCode> commands = {
      {"reset", protocol::CommandCode::Reset},
      {"blank", protocol::CommandCode::Blank},
      {"shutdown", protocol::CommandCode::Shutdown},
      {"message", protocol::CommandCode::Message},
      {"screenshot", protocol::CommandCode::ScreenshotRequest},
  };
  cli::CommandRequest request;
  std::vector<std::string> hosts;
  std::optional<std::string> commandWord;
  std::string argument;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      usage(std::cout);
      return 0;
    }
    if (arg == "--timeout" && i + 1 < argc && !commandWord) {
      char* end = nullptr;
      const double seconds = std::strtod(argv[++i], &end);
      if (*end != '\0' || seconds <= 0) {
        std::cerr << "saalwacht-cli: --timeout needs a positive number of seconds\n";
        return 2;
      }
      request.connectTimeout = std::chrono::milliseconds(static_cast<long>(seconds * 1000));
      request.exchangeTimeout = request.connectTimeout + std::chrono::seconds(15);
      continue;
    }
    if (arg == "--from" && i + 1 < argc && !commandWord) {
      request.source = argv[++i];
      continue;
    }
    if (arg == "--key" && i + 1 < argc && !commandWord) {
      std::string error;
      request.key = crypto::loadPrivateKey(argv[++i], error);
      if (!request.key) {
        std::cerr << "saalwacht-cli: " << error << "\n";
        return 2;
      }
      continue;
    }
    if (const auto it = commands.find(arg); it != commands.end() && !commandWord) {
      commandWord = arg;
      request.code = it->second;
      const bool needsArgument = it->second == protocol::CommandCode::Message ||
                                 it->second == protocol::CommandCode::ScreenshotRequest;
      if (needsArgument) {
        if (i + 1 >= argc) {
          std::cerr << "saalwacht-cli: " << arg << " needs " << (arg == "message" ? "a TEXT" : "a FILE") << "\n";
          return 2;
        }
        argument = argv[++i];
      }
      if (i + 1 < argc) {
        std::cerr << "saalwacht-cli: unexpected argument after the command: " << argv[i + 1] << "\n";
        return 2;
      }
      continue;
    }
    hosts.push_back(arg);
  }
  if (!commandWord || hosts.empty()) {
    usage(std::cerr);
    return 2;
  }
  if (request.code == protocol::CommandCode::Message) {
    if (argument.empty()) {
      std::cerr << "saalwacht-cli: the message text is empty\n";
      return 2;
    }
    request.text = argument;
  }

  bool allOk = true;
  for (auto& result : cli::sendToHosts(hosts, request)) {
    if (result.ok && request.code == protocol::CommandCode::ScreenshotRequest) {
      const fs::path file = pictureFile(argument, result.host, hosts.size() > 1);
      const auto error = platform::replaceFile(file, result.picture);
      if (!error) {
        std::cout << result.host << ": screenshot saved to " << file.string() << " (" << result.picture.size()
                  << " bytes)\n";
        continue;
      }
      result.ok = false;
      result.error = *error;
    }
    if (result.ok) {
      std::cout << result.host << ": " << *commandWord << " delivered\n";
    } else {
      std::cout << result.host << ": error: " << result.error << "\n";
      allOk = false;
    }
  }
  return allOk ? 0 : 1;
}

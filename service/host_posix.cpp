// kursdienst on Linux: runs in the foreground under systemd; /INSTALL and
// /UNINSTALL register it as a systemd unit.

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <asio.hpp>
#include <cctype>
#include <cstring>
#include <csignal>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/console_lock.h"
#include "platform/posix/spawn_posix.h"
#include "platform/power.h"
#include "platform/processes.h"
#include "platform/session.h"
#include "platform/spool.h"
#include "platform/system.h"
#include "service/serve.h"
#include "service/settings.h"

namespace fs = std::filesystem;
using namespace saalwacht;

namespace {

constexpr const char* kUnitName = "kursdienst.service";

struct Options {
  enum class Action { Run, Install, Uninstall, Check } action = Action::Run;
  bool silent = false;
  std::optional<std::string> bindAddress;
};

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
  return text;
}

void usage(std::ostream& out) {
  out << "Aufruf: kursdienst [--bind ADRESSE]\n"
         "        kursdienst /INSTALL [/SILENT]     als systemd-Dienst einrichten\n"
         "        kursdienst /UNINSTALL [/SILENT]   Dienst entfernen\n"
         "        kursdienst /CHECK                 kursdienst.conf und die Schlüssel prüfen\n";
}

std::optional<Options> parseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--bind" && i + 1 < argc) {
      options.bindAddress = argv[++i];
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      usage(std::cout);
      std::exit(0);
    }
    const std::string name = upper(arg.size() > 1 && (arg[0] == '/' || arg[0] == '-') ? arg.substr(1) : "");
    if (name == "INSTALL") {
      options.action = Options::Action::Install;
    } else if (name == "UNINSTALL") {
      options.action = Options::Action::Uninstall;
    } else if (name == "CHECK") {
      options.action = Options::Action::Check;
    } else if (name == "SILENT") {
      options.silent = true;
    } else {
      std::cerr << "kursdienst: unbekannter Schalter " << arg << "\n";
      usage(std::cerr);
      return std::nullopt;
    }
  }
  return options;
}

// ---- registration with systemd ----

fs::path unitFolder() {
  return platform::environmentValue("KURSDIENST_SYSTEMD_DIR").value_or("/etc/systemd/system");
}

bool run(const std::string& program, const std::vector<std::string>& args, std::string& error) {
  auto child = platform::posix::spawn({program, args, std::nullopt, std::nullopt});
  if (!child) {
    error = program + " konnte nicht gestartet werden";
    return false;
  }
  int status = 0;
  waitpid(child->pid(), &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    error = fs::path(program).filename().string();
    for (const auto& a : args) error += " " + a;
    error += " ist fehlgeschlagen";
    return false;
  }
  return true;
}

bool systemctl(const std::vector<std::string>& args, std::string& error) {
  return run(platform::environmentValue("KURSDIENST_SYSTEMCTL").value_or("/bin/systemctl"), args, error);
}

// The settings folder, closed to all but root, with a commented file that
// changes nothing until the admin sets a key. An admin's own file is kept.
bool installSettings(std::string& error) {
  const fs::path file = service::settingsFile("/etc/kursdienst/kursdienst.conf");
  const fs::path folder = file.parent_path();
  std::error_code fsError;
  fs::create_directories(folder / "trusted-keys", fsError);
  for (const fs::path& dir : {folder, folder / "trusted-keys"}) {
    if (::chmod(dir.c_str(), 0755) != 0 || (::geteuid() == 0 && ::chown(dir.c_str(), 0, 0) != 0)) {
      error = dir.string() + ": " + std::strerror(errno);
      return false;
    }
  }
  if (fs::exists(file, fsError)) return true;
  if (const auto failure = platform::replaceFile(file, service::sampleSettings())) {
    error = *failure;
    return false;
  }
  ::chmod(file.c_str(), 0644);
  return true;
}

// The dedicated account the helpers run as, so that the student can neither
// signal nor trace them nor touch their files.
bool installHelperUser(std::string& error) {
  const std::string name = platform::environmentValue("KURSDIENST_HELPER_USER").value_or("kursdienst");
  if (::getpwnam(name.c_str())) return true;
  const std::string useradd = platform::environmentValue("KURSDIENST_USERADD").value_or("/usr/sbin/useradd");
  return run(useradd, {"--system", "--user-group", "--no-create-home", "--home-dir", "/nonexistent", "--shell",
                       "/usr/sbin/nologin", "--comment", "kursdienst helpers", name},
             error);
}

bool install(std::string& error) {
  if (!installSettings(error) || !installHelperUser(error)) return false;
  const fs::path exe = platform::executableDir() / "kursdienst";
  const fs::path unit = unitFolder() / kUnitName;
  // The packaged unit with its hardening, pointed at this program.
  std::string text(service::systemdUnit());
  const std::string packaged = "ExecStart=/usr/lib/kursdienst/kursdienst";
  if (const auto at = text.find(packaged); at != std::string::npos) {
    text.replace(at, packaged.size(), "ExecStart=" + exe.string());
  }
  if (const auto failure = platform::replaceFile(unit, text)) {
    error = *failure;
    return false;
  }
  ::chmod(unit.c_str(), 0644);
  return systemctl({"daemon-reload"}, error) && systemctl({"enable", kUnitName}, error);
}

bool uninstall(std::string& error) {
  const fs::path unit = unitFolder() / kUnitName;
  if (!fs::exists(unit)) {
    error = "Der Dienst ist nicht installiert (" + unit.string() + " fehlt)";
    return false;
  }
  if (!systemctl({"disable", kUnitName}, error)) return false;
  std::error_code fsError;
  fs::remove(unit, fsError);
  if (fsError) {
    error = unit.string() + ": " + fsError.message();
    return false;
  }
  return systemctl({"daemon-reload"}, error);
}

int registerService(const Options& options) {
  std::string error;
  const bool installing = options.action == Options::Action::Install;
  const bool ok = installing ? install(error) : uninstall(error);
  if (!options.silent) {
    if (ok) {
      std::cout << (installing ? "Service erfolgreich installiert" : "Service erfolgreich deinstalliert") << "\n";
    } else {
      std::cout << "Service1: " << error << "\n";
    }
  }
  return ok ? 0 : 1;
}

// ---- serving ----

int run(const Options& options) {
  const fs::path stateDir = platform::environmentValue("KURSDIENST_STATE_DIR").value_or("/var/lib/kursdienst");
  std::error_code error;
  fs::create_directories(stateDir, error);
  if (error) {
    std::cerr << "kursdienst: state folder " << stateDir << ": " << error.message() << "\n";
    return 1;
  }

  // Helpers carry the service's state folder in their environment, so that
  // services side by side on one machine (a test room) each see only their own.
  const std::string marker = "KURSDIENST_INSTANCE=" + fs::weakly_canonical(stateDir).string();
  auto processes = platform::posix::createMarkedProcessControl(marker);
  const auto log = [](const std::string& line) { std::cout << "kursdienst: " << line << std::endl; };
  auto launcher = platform::createSessionLauncher({
      .useOwnSession = platform::environmentValue("KURSDIENST_SESSION") == "service",
      .helperEnvironment = {marker},
      .helperUser = platform::environmentValue("KURSDIENST_HELPER_USER").value_or("kursdienst"),
      .runtimeDir = platform::environmentValue("KURSDIENST_RUNTIME_DIR")
                        .value_or(platform::environmentValue("RUNTIME_DIRECTORY").value_or("/run/kursdienst")),
      .sessionUser = platform::environmentValue("KURSDIENST_SESSION_USER"),
      .log = log,
  });
  auto switchLock = platform::createConsoleSwitchLock(platform::environmentValue("KURSDIENST_CONSOLE_DEVICE"));
  auto power = platform::createPowerControl(platform::environmentValue("KURSDIENST_POWEROFF"));
  auto spool = platform::createScreenshotSpool(stateDir);

  // SIGTERM and SIGINT stop the service; SIGCHLD collects ended helpers.
  std::optional<asio::signal_set> stopSignals, childSignals;
  std::function<void()> armReaper;
  std::signal(SIGPIPE, SIG_IGN);
  return service::serveStudentService(
      {*processes, *launcher, *power, *spool, *switchLock, stateDir, options.bindAddress,
       service::settingsFile("/etc/kursdienst/kursdienst.conf")},
      [&](const service::ServiceControl& control) {
        stopSignals.emplace(control.io, SIGTERM, SIGINT);
        stopSignals->async_wait([stop = control.stop](const asio::error_code&, int) { stop(); });
        childSignals.emplace(control.io, SIGCHLD);
        armReaper = [&, childChanged = control.childChanged] {
          childSignals->async_wait([&, childChanged](const asio::error_code& e, int) {
            if (e) return;
            platform::posix::reapChildren();
            // Also a stopped helper raises SIGCHLD: the blanker is replaced at once.
            childChanged();
            armReaper();
          });
        };
        armReaper();
      });
}

}  // namespace

int main(int argc, char** argv) {
  const auto options = parseOptions(argc, argv);
  if (!options) return 2;
  try {
    if (options->action == Options::Action::Check) {
      return service::checkSettings(service::settingsFile("/etc/kursdienst/kursdienst.conf"), std::cout);
    }
    if (options->action != Options::Action::Run) return registerService(*options);
    return run(*options);
  } catch (const std::exception& e) {
    std::cerr << "kursdienst: " << e.what() << "\n";
    return 1;
  }
}

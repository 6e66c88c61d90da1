#include "platform/posix/launcher_posix.h"

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/launcher.h"
#include "platform/posix/spawn_posix.h"
#include "platform/system.h"

namespace saalwacht::platform::posix {

std::optional<std::vector<std::string>> splitWords(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == '\\') {
      if (i + 1 < text.size()) word += text[++i];
    } else if (c == '\'') {
      const auto end = text.find('\'', i + 1);
      if (end == std::string_view::npos) return std::nullopt;
      word.append(text.substr(i + 1, end - i - 1));
      i = end;
    } else if (c == '"') {
      std::size_t j = i + 1;
      for (; j < text.size() && text[j] != '"'; ++j) {
        if (text[j] == '\\' && j + 1 < text.size() && std::string_view("\"\\$`").find(text[j + 1]) != std::string_view::npos) {
          ++j;
        }
        word += text[j];
      }
      if (j >= text.size()) return std::nullopt;
      i = j;
    } else {
      word += c;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

namespace {

namespace fs = std::filesystem;

std::optional<fs::path> findOnPath(const std::string& name) {
  const auto path = environmentValue("PATH").value_or("/usr/local/bin:/usr/bin:/bin");
  std::size_t start = 0;
  while (start <= path.size()) {
    const auto end = std::min(path.find(':', start), path.size());
    const fs::path dir = end == start ? fs::path(".") : fs::path(path.substr(start, end - start));
    const fs::path candidate = dir / name;
    std::error_code error;
    if (fs::is_regular_file(candidate, error) && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return std::nullopt;
}

bool looksLikeUrl(const std::string& file) {
  const auto colon = file.find(':');
  if (colon == std::string::npos || colon < 2) return false;
  for (std::size_t i = 0; i < colon; ++i) {
    const char c = file[i];
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

int resultOfExecError(int error) {
  switch (error) {
    case ENOENT: return kLaunchFileNotFound;
    case ENOTDIR: return kLaunchPathNotFound;
    case EACCES:
    case EPERM: return kLaunchAccessDenied;
    case ENOEXEC: return kLaunchBadFormat;
    default: return 0;
  }
}

// The started program is not ours to wait for; one thread per program collects
// its exit so that it never lingers as a zombie.
void collectLater(std::unique_ptr<ChildProcess> child) {
  std::thread([pid = child->pid()] { ::waitpid(pid, nullptr, 0); }).detach();
}

class PosixProgramLauncher : public ProgramLauncher {
 public:
  int open(const std::string& file, const std::string& parameters) override {
    if (file.empty()) return kLaunchFileNotFound;
    if (looksLikeUrl(file)) return openWithDesktop(file);

    std::optional<fs::path> target;
    if (file.find('/') != std::string::npos) {
      std::error_code error;
      if (fs::exists(file, error)) {
        target = fs::path(file);
      } else {
        const auto parent = fs::path(file).parent_path();
        return parent.empty() || fs::is_directory(parent, error) ? kLaunchFileNotFound : kLaunchPathNotFound;
      }
    } else {
      target = findOnPath(file);
      std::error_code error;
      if (!target && fs::exists(file, error)) target = fs::absolute(file);
      if (!target) return kLaunchFileNotFound;
    }

    std::error_code error;
    const bool executable = fs::is_regular_file(*target, error) && ::access(target->c_str(), X_OK) == 0;
    if (!executable) return openWithDesktop(target->string());

    const auto words = splitWords(parameters);
    if (!words) return 0;
    auto child = spawn({*target, *words, std::nullopt, std::nullopt});
    if (!child) return resultOfExecError(errno);
    collectLater(std::move(child));
    return kLaunchStarted;
  }

 private:
  // Documents, folders and web addresses go to the desktop's handler.
  static int openWithDesktop(const std::string& file) {
    const auto opener = findOnPath("xdg-open");
    if (!opener) return kLaunchNoAssociation;
    auto child = spawn({*opener, {file}, std::nullopt, std::nullopt});
    if (!child) return kLaunchNoAssociation;
    // xdg-open returns quickly when it has handed the file over; its exit code
    // tells a missing file or handler apart. A handler that keeps it waiting
    // counts as started.
    if (child->waitForExit(std::chrono::seconds(3))) {
      int status = 0;
      if (::waitpid(child->pid(), &status, 0) == child->pid() && WIFEXITED(status)) {
        switch (WEXITSTATUS(status)) {
          case 0: return kLaunchStarted;
          case 2: return kLaunchFileNotFound;
          case 3: return kLaunchNoAssociation;
          default: return 0;
        }
      }
      return kLaunchStarted;
    }
    collectLater(std::move(child));
    return kLaunchStarted;
  }
};

}  // namespace
}  // namespace saalwacht::platform::posix

namespace saalwacht::platform {

std::string quoteParameter(const std::string& text) {
  if (!text.empty() && text.find_first_of(" \t\r\n'\"\\$`") == std::string::npos) return text;
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::unique_ptr<ProgramLauncher> createProgramLauncher() {
  return std::make_unique<posix::PosixProgramLauncher>();
}

}  // namespace saalwacht::platform

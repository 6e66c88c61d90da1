#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <dirent.h>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#include "platform/posix/spawn_posix.h"
#include "platform/processes.h"
#include "platform/system.h"

namespace saalwacht::platform {

namespace {

std::string baseName(std::string path) {
  const std::string deleted = " (deleted)";
  if (path.size() > deleted.size() && path.ends_with(deleted)) path.resize(path.size() - deleted.size());
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isZombie(const std::string& procDir) {
  const auto stat = readFile(procDir + "/stat");
  if (!stat) return true;  // gone meanwhile
  // The state follows the command name, which is in parentheses and may hold blanks.
  const auto close = stat->rfind(')');
  return close == std::string::npos || close + 2 >= stat->size() || (*stat)[close + 2] == 'Z' ||
         (*stat)[close + 2] == 'X';
}

// The full path of a process's executable, or empty where it cannot be read.
std::string executablePath(const std::string& procDir) {
  char target[4096];
  const ssize_t n = ::readlink((procDir + "/exe").c_str(), target, sizeof target - 1);
  if (n <= 0) return {};
  std::string path(target, static_cast<std::size_t>(n));
  const std::string deleted = " (deleted)";
  if (path.size() > deleted.size() && path.ends_with(deleted)) path.resize(path.size() - deleted.size());
  return path;
}

// The executable file name of a process: the base name of its executable,
// or of argv[0] where the executable cannot be read (another user's process).
std::string executableName(const std::string& procDir) {
  char target[4096];
  const ssize_t n = ::readlink((procDir + "/exe").c_str(), target, sizeof target - 1);
  if (n > 0) return baseName(std::string(target, static_cast<std::size_t>(n)));
  const auto cmdline = readFile(procDir + "/cmdline");
  if (!cmdline || cmdline->empty()) return {};
  return baseName(cmdline->substr(0, cmdline->find('\0')));
}

// Whether the process's environment holds exactly `entry` ("NAME=value").
bool hasEnvironmentEntry(const std::string& procDir, const std::string& entry) {
  const auto environ = readFile(procDir + "/environ");
  if (!environ) return false;
  std::size_t start = 0;
  while (start < environ->size()) {
    const auto end = std::min(environ->find('\0', start), environ->size());
    if (environ->compare(start, end - start, entry) == 0) return true;
    start = end + 1;
  }
  return false;
}

// Live processes whose executable `matches`, lowest process id first (the
// order of a process snapshot); with a marker, only those whose environment
// holds it.
template <typename Matches>
std::vector<pid_t> findProcessesWhere(Matches matches, const std::string& marker) {
  std::vector<pid_t> found;
  DIR* dir = ::opendir("/proc");
  if (!dir) return found;
  while (const dirent* entry = ::readdir(dir)) {
    pid_t pid = 0;
    const char* name = entry->d_name;
    const auto [end, error] = std::from_chars(name, name + std::char_traits<char>::length(name), pid);
    if (error != std::errc() || *end != '\0') continue;
    const std::string procDir = std::string("/proc/") + name;
    if (matches(procDir) && !isZombie(procDir) && (marker.empty() || hasEnvironmentEntry(procDir, marker))) {
      found.push_back(pid);
    }
  }
  ::closedir(dir);
  std::sort(found.begin(), found.end());
  return found;
}

std::vector<pid_t> findProcesses(std::string_view exeName, const std::string& marker = {}) {
  return findProcessesWhere([exeName](const std::string& procDir) { return executableName(procDir) == exeName; },
                            marker);
}

bool kill(pid_t pid, int pidfd) {
#ifdef SYS_pidfd_send_signal
  if (pidfd >= 0) return ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0) == 0;
#endif
  return ::kill(pid, SIGKILL) == 0;
}

class PosixProcessControl final : public ProcessControl {
 public:
  explicit PosixProcessControl(std::string marker = {}) : marker_(std::move(marker)) {}

  int count(std::string_view exeName) override { return static_cast<int>(findProcesses(exeName, marker_).size()); }

  bool terminateFirst(std::string_view exeName) override {
    const auto pids = findProcesses(exeName, marker_);
    if (pids.empty()) return false;
    const pid_t pid = pids.front();
    const int pidfd = posix::openPidfd(pid);
    if (pidfd < 0 && errno != ENOSYS) return false;
    const bool endedByItself = posix::waitForPidExit(pid, pidfd, std::chrono::milliseconds(100));
    const bool killed = !endedByItself && kill(pid, pidfd);
    // Returns only once the process is gone, so a count right after this
    // call no longer sees it (a blank request that follows a reset at once).
    if (killed) posix::waitForPidExit(pid, pidfd, std::chrono::seconds(1));
    if (pidfd >= 0) ::close(pidfd);
    return killed;
  }

  int terminateProgram(const std::filesystem::path& program) override {
    std::error_code error;
    const std::string wanted = std::filesystem::weakly_canonical(program, error).string();
    const auto pids = findProcessesWhere(
        [&wanted](const std::string& procDir) { return executablePath(procDir) == wanted; }, marker_);
    int ended = 0;
    for (const pid_t pid : pids) {
      const int pidfd = posix::openPidfd(pid);
      if (pidfd < 0 && errno != ENOSYS) continue;
      if (kill(pid, pidfd)) {
        posix::waitForPidExit(pid, pidfd, std::chrono::seconds(1));
        ++ended;
      }
      if (pidfd >= 0) ::close(pidfd);
    }
    return ended;
  }

 private:
  std::string marker_;
};

}  // namespace

std::unique_ptr<ProcessControl> createProcessControl() { return std::make_unique<PosixProcessControl>(); }

namespace posix {

std::unique_ptr<ProcessControl> createMarkedProcessControl(const std::string& marker) {
  return std::make_unique<PosixProcessControl>(marker);
}

}  // namespace posix

}  // namespace saalwacht::platform

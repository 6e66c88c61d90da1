#include "xvfb.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace saalwacht::testing {

namespace {

// Generous: only bounds a hang on a slow or overloaded machine.
constexpr auto kStartBound = std::chrono::seconds(30);
constexpr auto kStopBound = std::chrono::seconds(5);

std::string findInPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (dir.empty()) continue;
    const std::string candidate = dir + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

std::string describeStatus(int status) {
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "was killed by signal " + std::to_string(WTERMSIG(status));
  return "ended";
}

}  // namespace

XvfbDisplay::~XvfbDisplay() { stop(); }

std::string XvfbDisplay::readLog() const {
  std::ifstream in(logPath_);
  std::stringstream text;
  text << in.rdbuf();
  std::string log = text.str();
  constexpr std::size_t kTail = 2000;
  if (log.size() > kTail) log = "..." + log.substr(log.size() - kTail);
  return log;
}

bool XvfbDisplay::start(int width, int height, int depth,
                        const std::vector<std::string>& extraArgs) {
  stop();
  message_.clear();
  const std::string xvfb = findInPath("Xvfb");
  if (xvfb.empty()) {
    message_ = "Xvfb is not installed (package xvfb)";
    return false;
  }

  char logTemplate[] = "/tmp/saalwacht-xvfb-XXXXXX";
  const int logFd = ::mkstemp(logTemplate);
  if (logFd < 0) {
    message_ = std::string("cannot create Xvfb log file: ") + std::strerror(errno);
    return false;
  }
  logPath_ = logTemplate;

  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) {
    ::close(logFd);
    message_ = std::string("pipe: ") + std::strerror(errno);
    return false;
  }

  // Everything the child needs is prepared before fork: between fork and
  // exec only async-signal-safe calls are allowed.
  const std::string screen =
      std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
  const std::string fdText = std::to_string(ready[1]);
  std::vector<const char*> args = {xvfb.c_str(), "-displayfd", fdText.c_str(),
                                   "-screen",    "0",          screen.c_str(),
                                   "-nolisten",  "tcp",        "-noreset"};
  for (const std::string& arg : extraArgs) args.push_back(arg.c_str());
  args.push_back(nullptr);
  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child < 0) {
    message_ = std::string("fork: ") + std::strerror(errno);
    ::close(ready[0]);
    ::close(ready[1]);
    ::close(logFd);
    return false;
  }
  if (child == 0) {
    // Do not outlive a test process that crashes before its destructor runs.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) _exit(127);
    // The write end must survive exec: Xvfb reports its display number there.
    ::fcntl(ready[1], F_SETFD, 0);
    const int devnull = ::open("/dev/null", O_RDONLY);
    ::dup2(devnull, 0);
    ::dup2(logFd, 1);
    ::dup2(logFd, 2);
    ::execv(xvfb.c_str(), const_cast<char* const*>(args.data()));
    _exit(127);
  }
  pid_ = child;
  ::close(ready[1]);
  ::close(logFd);

  // Xvfb writes "N\n" once it accepts connections.
  std::string number;
  const auto deadline = std::chrono::steady_clock::now() + kStartBound;
  bool done = false;
  while (!done) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd pfd{ready[0], POLLIN, 0};
    const int n = ::poll(&pfd, 1, static_cast<int>(left.count()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    char buffer[32];
    const ssize_t got = ::read(ready[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // Xvfb closed the pipe without a number: it failed
    for (ssize_t i = 0; i < got; ++i) {
      if (buffer[i] == '\n') {
        done = true;
        break;
      }
      number += buffer[i];
    }
  }
  ::close(ready[0]);

  if (!done || number.empty()) {
    int status = 0;
    std::string why = "did not report a display in time";
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      why = describeStatus(status);
      pid_ = -1;
    }
    message_ = "Xvfb " + why + "; its output:\n" + readLog();
    stop();
    return false;
  }
  name_ = ":" + number;
  return true;
}

void XvfbDisplay::stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kStopBound;
    int status = 0;
    pid_t done = 0;
    while ((done = ::waitpid(pid_, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (done == 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }
  if (!logPath_.empty()) {
    ::unlink(logPath_.c_str());
    logPath_.clear();
  }
  name_.clear();
}

}  // namespace saalwacht::testing

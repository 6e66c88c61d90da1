#include "platform/posix/spawn_posix.h"

#include <asio.hpp>

#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif

extern char** environ;

namespace saalwacht::platform::posix {

namespace {

// Reports the failed step to the parent and ends the child. Only
// async-signal-safe calls from here on.
[[noreturn]] void failChild(int pipeFd) {
  const int error = errno;
  [[maybe_unused]] auto written = ::write(pipeFd, &error, sizeof error);
  _exit(127);
}

void markDescriptorsCloseOnExec() {
  if (::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
  const long max = ::sysconf(_SC_OPEN_MAX);
  for (int fd = 3; fd < (max > 0 ? max : 1024); ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

}  // namespace

int openPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

bool waitForPidExit(pid_t pid, int pidfd, std::chrono::milliseconds timeout) {
  if (pidfd >= 0) {
    pollfd fd{pidfd, POLLIN, 0};
    int rc;
    do {
      rc = ::poll(&fd, 1, static_cast<int>(timeout.count()));
    } while (rc < 0 && errno == EINTR);
    return rc > 0;
  }
  // Without pidfds: look every 10 ms whether the process is gone or a zombie.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid) {
      return true;
    }
    if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// The pidfd becomes readable when the process ends; without pidfds a timer
// looks every 50 ms.
struct ChildProcess::Watch {
  std::optional<asio::posix::stream_descriptor> descriptor;
  std::optional<asio::steady_timer> timer;
  std::function<void()> onExit;
  pid_t pid = -1;

  void poll() {
    timer->expires_after(std::chrono::milliseconds(50));
    // Destroying the watch cancels the wait; the handler then only sees the error.
    timer->async_wait([this](const asio::error_code& error) {
      if (error) return;
      if (waitForPidExit(pid, -1, std::chrono::milliseconds(0))) {
        onExit();
      } else {
        poll();
      }
    });
  }
};

ChildProcess::ChildProcess(pid_t pid, int pidfd) : pid_(pid), pidfd_(pidfd) {}

ChildProcess::~ChildProcess() {
  watch_.reset();
  if (pidfd_ >= 0) ::close(pidfd_);
}

bool ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
  return waitForPidExit(pid_, pidfd_, timeout);
}

void ChildProcess::asyncWaitForExit(asio::io_context& io, std::function<void()> onExit) {
  watch_ = std::make_unique<Watch>();
  watch_->pid = pid_;
  const int copy = pidfd_ >= 0 ? ::fcntl(pidfd_, F_DUPFD_CLOEXEC, 3) : -1;
  if (copy >= 0) {
    watch_->descriptor.emplace(io, copy);
    watch_->descriptor->async_wait(asio::posix::stream_descriptor::wait_read,
                                   [onExit = std::move(onExit)](const asio::error_code& error) {
                                     if (!error) onExit();
                                   });
    return;
  }
  watch_->onExit = std::move(onExit);
  watch_->timer.emplace(io);
  watch_->poll();
}

bool ChildProcess::terminate() {
  if (hasExited()) return false;
#ifdef SYS_pidfd_send_signal
  if (pidfd_ >= 0) return ::syscall(SYS_pidfd_send_signal, pidfd_, SIGKILL, nullptr, 0) == 0;
#endif
  return ::kill(pid_, SIGKILL) == 0;
}

bool ChildProcess::stopped() {
  const auto state = processState(pid_);
  // The pid is ours as long as the pidfd says the process has not ended.
  return state && (*state == 'T' || *state == 't') && !hasExited();
}

std::optional<char> processState(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buffer[512];
  const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
  ::close(fd);
  if (n <= 0) return std::nullopt;
  // The state follows the command name, which is in parentheses and may hold blanks.
  const std::string_view stat(buffer, static_cast<std::size_t>(n));
  const auto close = stat.rfind(')');
  if (close == std::string_view::npos || close + 2 >= stat.size()) return std::nullopt;
  return stat[close + 2];
}

std::unique_ptr<ChildProcess> spawn(const SpawnRequest& request) {
  // Everything the child needs is built before the fork.
  const std::string program = request.program.string();
  std::vector<std::string> argStrings;
  argStrings.push_back(request.program.filename().string());
  argStrings.insert(argStrings.end(), request.args.begin(), request.args.end());
  std::vector<char*> argv;
  for (auto& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStrings = request.environment.value_or(std::vector<std::string>{});
  std::vector<char*> envp;
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);
  char* const* childEnv = request.environment ? envp.data() : environ;

  int errorPipe[2];
  if (::pipe2(errorPipe, O_CLOEXEC) != 0) return nullptr;

  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(errorPipe[0]);
    ::close(errorPipe[1]);
    return nullptr;
  }
  if (pid == 0) {
    ::close(errorPipe[0]);
    sigset_t all;
    sigemptyset(&all);
    ::sigprocmask(SIG_SETMASK, &all, nullptr);
    for (int sig : {SIGCHLD, SIGPIPE, SIGTERM, SIGINT, SIGHUP}) ::signal(sig, SIG_DFL);
    ::setsid();
    const int devnull = ::open("/dev/null", O_RDONLY);
    if (devnull >= 0 && devnull != 0) {
      ::dup2(devnull, 0);
      ::close(devnull);
    }
    markDescriptorsCloseOnExec();
    if (request.account) {
      const auto& account = *request.account;
      if (::setgroups(account.groups.size(), account.groups.data()) != 0) failChild(errorPipe[1]);
      if (::setgid(account.gid) != 0) failChild(errorPipe[1]);
      if (::setuid(account.uid) != 0) failChild(errorPipe[1]);
    }
    ::execve(program.c_str(), argv.data(), childEnv);
    failChild(errorPipe[1]);
  }

  ::close(errorPipe[1]);
  int childError = 0;
  ssize_t got;
  do {
    got = ::read(errorPipe[0], &childError, sizeof childError);
  } while (got < 0 && errno == EINTR);
  ::close(errorPipe[0]);
  if (got > 0) {
    ::waitpid(pid, nullptr, 0);
    errno = childError;
    return nullptr;
  }
  return std::make_unique<ChildProcess>(pid, openPidfd(pid));
}

void reapChildren() {
  while (::waitpid(-1, nullptr, WNOHANG) > 0) {
  }
}

}  // namespace saalwacht::platform::posix

#pragma once
// Starting programs without a shell (POSIX).

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "platform/processes.h"
#include "platform/session.h"

namespace saalwacht::platform::posix {

struct SpawnRequest {
  std::filesystem::path program;
  std::vector<std::string> args;              // argv[1..]
  std::optional<std::vector<std::string>> environment;  // "NAME=value"; nothing: inherit
  // Account to switch to in the child; nothing: keep the caller's.
  struct Account {
    uid_t uid;
    gid_t gid;
    std::vector<gid_t> groups;
  };
  std::optional<Account> account;
};

// A started child process, owned through a pidfd where the kernel has them.
class ChildProcess : public LaunchedProcess {
 public:
  ChildProcess(pid_t pid, int pidfd);
  ~ChildProcess() override;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool waitForExit(std::chrono::milliseconds timeout) override;
  void asyncWaitForExit(asio::io_context& io, std::function<void()> onExit) override;
  bool terminate() override;
  bool stopped() override;
  pid_t pid() const { return pid_; }

 private:
  struct Watch;
  pid_t pid_;
  int pidfd_;
  std::unique_ptr<Watch> watch_;
};

// The state letter of /proc/PID/stat ('R', 'S', 'T', ...), or nothing.
std::optional<char> processState(pid_t pid);

// Forks and executes the program. Returns nothing when the program could not
// be executed (the child reports exec failures back through a pipe). The child
// gets no open descriptors besides 0, 1 and 2, with standard input on
// /dev/null, and the default signal handling.
std::unique_ptr<ChildProcess> spawn(const SpawnRequest& request);

// Collects every child of this process that has ended, so that none lingers
// as a zombie. Call it when SIGCHLD arrives.
void reapChildren();

// Counts and ends only processes whose environment holds `marker`
// ("NAME=value"): the helpers of one service, when several run side by side.
std::unique_ptr<ProcessControl> createMarkedProcessControl(const std::string& marker);

// Opens a pidfd for `pid`, or -1.
int openPidfd(pid_t pid);

// Waits on a pidfd (or, without one, polls the process) until it ends or the
// time-out passes. True if it has ended.
bool waitForPidExit(pid_t pid, int pidfd, std::chrono::milliseconds timeout);

}  // namespace saalwacht::platform::posix

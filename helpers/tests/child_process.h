#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace saalwacht::helpers_test {

// A program started by a test. Its stdout and stderr go to a temporary
// file; the destructor kills it by pid (SIGKILL) and reaps it if it is still
// running, so a failing test leaves nothing behind.
class ChildProcess {
 public:
  // Environment changes: a value sets the variable, nullopt removes it.
  using EnvChanges = std::map<std::string, std::optional<std::string>>;

  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool start(const std::string& program, const std::vector<std::string>& args,
             const EnvChanges& env = {});
  bool running();
  // Wait status once the process ended within the bound, else nullopt.
  std::optional<int> waitFor(std::chrono::milliseconds bound);
  void signal(int signo);
  std::string output() const;
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
  std::string outputPath_;
};

// Starts, waits (bounded) and returns the wait status, or nullopt if it did
// not end in time (it is killed then).
struct RunResult {
  std::optional<int> status;
  std::string output;
};
RunResult runToEnd(const std::string& program, const std::vector<std::string>& args,
                   const ChildProcess::EnvChanges& env,
                   std::chrono::milliseconds bound = std::chrono::seconds(30));

// Full path of a program found in $PATH, or empty.
std::string findProgram(const std::string& name);

}  // namespace saalwacht::helpers_test

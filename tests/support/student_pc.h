#pragma once
// A student PC for end-to-end tests: a real kursdienst on its own loopback
// address, with its own state folder, a power-off stand-in and the helpers
// showing on the given X display. Everything it started is ended by process id.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace saalwacht::testing {

class StudentPc {
 public:
  StudentPc(std::string address, std::string display);
  ~StudentPc();
  StudentPc(const StudentPc&) = delete;
  StudentPc& operator=(const StudentPc&) = delete;

  // Before start(): the service's settings file (kursdienst.conf) holds `text`.
  void configure(const std::string& text);
  // Before start(): the service may open at most `n` descriptors, as under
  // systemd's default limit.
  void limitDescriptors(int n) { descriptorLimit_ = n; }
  // Before start(): a variable of the service's environment (empty: unset).
  void setEnvironment(const std::string& name, const std::string& value) { environment_[name] = value; }
  // Before start(): run the kursdienst (and helpers) of this folder.
  void setProgramFolder(std::filesystem::path folder) { programFolder_ = std::move(folder); }

  // Starts the service and waits until it accepts connections (a refusing
  // one, too: a connection that is closed at once counts).
  bool start();
  void stop();

  const std::string& address() const { return address_; }
  pid_t servicePid() const { return pid_; }
  const std::filesystem::path& stateDir() const { return stateDir_; }
  std::filesystem::path flagFile() const { return stateDir_ / "swdkl.bin"; }
  // File that the power-off stand-in writes when it runs.
  std::filesystem::path powerOffMarker() const { return stateDir_ / "powered-off"; }
  std::filesystem::path settingsFile() const { return stateDir_ / "kursdienst.conf"; }
  // What the service wrote to its journal so far.
  std::string journal() const;

  // Helper processes that the service started, by executable name.
  std::vector<pid_t> helpers(const std::string& name) const;
  // The arguments (argv) of a process.
  static std::vector<std::string> arguments(pid_t pid);

 private:
  std::vector<pid_t> children() const;

  std::string address_;
  std::string display_;
  std::filesystem::path stateDir_;
  pid_t pid_ = -1;
  int descriptorLimit_ = 0;
  std::map<std::string, std::string> environment_;
  std::filesystem::path programFolder_;
};

// Runs saalwacht-cli with the arguments; returns its exit status and output.
struct CliRun {
  int status = -1;
  std::string output;
};
CliRun runCli(const std::vector<std::string>& args);

// Polls `condition` every 50 ms until it holds or `limit` passes.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    struct timespec pause {0, 50'000'000};
    nanosleep(&pause, nullptr);
  }
}

std::filesystem::path binDir();

}  // namespace saalwacht::testing

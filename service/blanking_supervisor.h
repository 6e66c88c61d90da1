#pragma once
// Keeps the student's screen blanked for as long as the teacher wants it:
// the wish is recorded in a flag file; the blanking helper is the service's
// own child, watched through its handle and started again the moment it
// ends, is stopped, or is gone after a log-off or a restart of the PC. A
// program of the same name counts for nothing. Service thread only.

#include <asio.hpp>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/console_lock.h"
#include "platform/processes.h"
#include "platform/session.h"

namespace saalwacht::service {

class BlankingSupervisor {
 public:
  struct Parts {
    asio::io_context& io;
    platform::ProcessControl& processes;
    platform::SessionLauncher& launcher;
    platform::ConsoleSwitchLock& switchLock;
    std::filesystem::path helper;    // the blanking program; only it, by full path
    std::filesystem::path flagFile;
    std::function<void(const std::string&)> log = [](const std::string&) {};
  };

  explicit BlankingSupervisor(Parts parts);
  ~BlankingSupervisor();
  BlankingSupervisor(const BlankingSupervisor&) = delete;
  BlankingSupervisor& operator=(const BlankingSupervisor&) = delete;

  // At service start: ends blankers left by an earlier run (they are not
  // ours to watch) and blanks at once when the file says so.
  void resume();
  // Command "blank": starts the helper unless ours runs, then records "on".
  void blank();
  // Command "reset": ends the helper and records "off", always.
  void reset();
  // The periodic check (every 5 s), the fallback for everything else.
  void check();
  // A child of the service was stopped or continued (SIGCHLD).
  void childChanged();

  bool blankFlag() const { return blankFlag_; }
  // Our blanker runs and is not stopped.
  bool blankerRunning() const;

 private:
  void startBlanker();
  void onBlankerEnded(unsigned generation);
  void dropBlanker();
  void writeFlagFile() const;
  std::optional<bool> readFlagFile() const;
  void lockSwitch();

  Parts parts_;
  asio::steady_timer restart_;
  std::unique_ptr<platform::LaunchedProcess> blanker_;
  std::chrono::steady_clock::time_point startedAt_{};
  unsigned generation_ = 0;
  int quickEnds_ = 0;
  bool blankFlag_ = false;
  bool warnedWayland_ = false;
  bool warnedSwitch_ = false;
};

}  // namespace saalwacht::service

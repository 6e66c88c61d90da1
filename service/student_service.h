#pragma once
// What the student service does with each command of the teacher console.
// Runs on the service's one thread; owns no sockets.

#include <asio.hpp>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/console_lock.h"
#include "platform/power.h"
#include "platform/processes.h"
#include "platform/session.h"
#include "platform/spool.h"
#include "protocol/message.h"
#include "service/blanking_supervisor.h"
#include "service/screenshot_capture.h"

namespace saalwacht::service {

// Delay between the shut-down notice and the power-off.
inline constexpr std::chrono::milliseconds kShutdownDelay{16500};
// Period of the blanking check.
inline constexpr std::chrono::milliseconds kCheckPeriod{5000};

// At most this many message windows are open at a time; more are refused.
inline constexpr std::size_t kMaxMessageWindows = 8;

// Screenshot state of one console connection: the picture announced on it.
struct ExchangeState {
  std::shared_ptr<const std::string> picture;
  bool capturing = false;  // "40" taken, the picture is being made
};

struct ServiceDependencies {
  asio::io_context& io;  // the service's thread
  platform::ProcessControl& processes;
  platform::SessionLauncher& launcher;
  platform::PowerControl& power;
  platform::ScreenshotSpool& spool;
  platform::ConsoleSwitchLock& switchLock;
  std::filesystem::path helperDir;  // the helpers and the fallback picture
  std::filesystem::path stateDir;   // the flag file
  // Runs `action` once after `delay` on the service's thread.
  std::function<void(std::chrono::milliseconds delay, std::function<void()> action)> schedule;
  // Diagnostic status texts.
  std::function<void(const std::string&)> status = [](const std::string&) {};
  // Lines for the service's journal.
  std::function<void(const std::string&)> log = [](const std::string&) {};
  std::chrono::milliseconds captureTimeout = std::chrono::seconds(10);
};

class StudentService {
 public:
  explicit StudentService(ServiceDependencies dependencies);

  using Reply = std::function<void(std::shared_ptr<const std::string>)>;

  // Carries out one command that arrived on a connection whose screenshot
  // state is `exchange`. The bytes to send back on that connection go to
  // `reply`, at once or (a screenshot) later; commands without a reply never
  // call it.
  void handle(const protocol::Command& command, const std::shared_ptr<ExchangeState>& exchange, Reply reply);

  // At start: blankers of an earlier run go, the recorded state is restored.
  void resume() { blanking_.resume(); }
  // The periodic blanking check.
  void onTimer() { blanking_.check(); }
  // A child process was stopped or continued.
  void onChildChanged() { blanking_.childChanged(); }

  // Status text for a closed console connection.
  void onDisconnect() { deps_.status("disconnected"); }

  const BlankingSupervisor& blanking() const { return blanking_; }

 private:
  std::filesystem::path helper(std::string_view name) const;
  void shutdown();
  void showMessage(const std::string& wirePayload);
  void prepareScreenshot(const std::shared_ptr<ExchangeState>& exchange, Reply reply);
  void sendPicture(ExchangeState& exchange, const Reply& reply);

  ServiceDependencies deps_;
  BlankingSupervisor blanking_;
  ScreenshotCapture capture_;
  bool shutdownPending_ = false;
  std::unique_ptr<platform::LaunchedProcess> shutdownNotice_;
  std::vector<std::unique_ptr<platform::LaunchedProcess>> messageWindows_;
};

}  // namespace saalwacht::service

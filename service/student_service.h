#pragma once
// What the student service does with each command of the teacher console.
// Runs on the service's one thread; owns no sockets.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

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

// Screenshot state of one console connection: the picture announced on it.
struct ExchangeState {
  std::shared_ptr<const std::string> picture;
};

struct ServiceDependencies {
  platform::ProcessControl& processes;
  platform::SessionLauncher& launcher;
  platform::PowerControl& power;
  platform::ScreenshotSpool& spool;
  std::filesystem::path helperDir;  // the helpers and the fallback picture
  std::filesystem::path stateDir;   // the flag file
  // Runs `action` once after `delay` on the service's thread.
  std::function<void(std::chrono::milliseconds delay, std::function<void()> action)> schedule;
  // Diagnostic status texts.
  std::function<void(const std::string&)> status = [](const std::string&) {};
  std::chrono::milliseconds captureTimeout = std::chrono::seconds(10);
};

class StudentService {
 public:
  explicit StudentService(ServiceDependencies dependencies);

  // Carries out one command that arrived on a connection whose screenshot
  // state is `exchange`. Returns the bytes to send back on that connection,
  // or null when the command has no reply.
  std::shared_ptr<const std::string> handle(const protocol::Command& command, ExchangeState& exchange);

  // The periodic blanking check.
  void onTimer() { blanking_.check(); }

  // Status text for a closed console connection.
  void onDisconnect() { deps_.status("disconnected"); }

  const BlankingSupervisor& blanking() const { return blanking_; }

 private:
  std::filesystem::path helper(std::string_view name) const;
  void shutdown();
  void showMessage(const std::string& wirePayload);
  std::shared_ptr<const std::string> prepareScreenshot(ExchangeState& exchange);
  std::shared_ptr<const std::string> sendPicture(ExchangeState& exchange);

  ServiceDependencies deps_;
  BlankingSupervisor blanking_;
  ScreenshotCapture capture_;
  bool shutdownPending_ = false;
};

}  // namespace saalwacht::service

#pragma once
// The student service's serving loop, the same on every platform: the
// service object, the command server on port 4000 and the 5 s check, all on
// one io_context. The platform hosts wrap it with their own start and stop.

#include <asio.hpp>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "service/settings.h"

namespace saalwacht::platform {
class ConsoleSwitchLock;
class PowerControl;
class ProcessControl;
class ScreenshotSpool;
class SessionLauncher;
}  // namespace saalwacht::platform

namespace saalwacht::service {

struct ServeParts {
  platform::ProcessControl& processes;
  platform::SessionLauncher& launcher;
  platform::PowerControl& power;
  platform::ScreenshotSpool& spool;
  platform::ConsoleSwitchLock& switchLock;
  std::filesystem::path stateDir;
  std::optional<std::string> bindAddress;  // all addresses when empty
  // Who may command this PC; read at start, a fault in it ends the start.
  std::filesystem::path settingsFile;
};

// Reads the settings file and the trusted keys as a start would and says on
// `out` what the service would take; 1 when it would refuse to start.
int checkSettings(const std::filesystem::path& file, std::ostream& out);

// The settings file: KURSDIENST_CONFIG, else `standard`.
std::filesystem::path settingsFile(const std::filesystem::path& standard);

// Listens and serves until stopped; returns the exit code (1 when the
// settings are faulty or the port cannot be opened). Once listening it calls
// `started` on the service's thread with its io_context, a stop function
// that any thread may call, also after the loop has ended (it then does
// nothing), and a function the host calls when a child process changed.
struct ServiceControl {
  asio::io_context& io;
  std::function<void()> stop;          // any thread
  std::function<void()> childChanged;  // the service's thread
};
int serveStudentService(const ServeParts& parts, const std::function<void(const ServiceControl&)>& started);

}  // namespace saalwacht::service

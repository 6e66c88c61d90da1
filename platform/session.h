#pragma once
// Starting helper programs in the session of the student who sits at the PC.

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <functional>
#include <vector>

namespace asio {
class io_context;
}

namespace saalwacht::platform {

// A started process, known by its handle (a pidfd on Linux), never by its
// name. The owner may wait for it or end it; dropping it neither waits for
// nor ends the process.
class LaunchedProcess {
 public:
  virtual ~LaunchedProcess() = default;
  // Blocks until the process has ended or `timeout` has passed, without
  // spinning. True if it has ended.
  virtual bool waitForExit(std::chrono::milliseconds timeout) = 0;
  bool hasExited() { return waitForExit(std::chrono::milliseconds(0)); }

  // Calls `onExit` on the thread that runs `io` once the process has ended
  // (soon, if it already has). One wait at a time; a new call replaces the
  // old one, and destroying this object drops it without calling it.
  virtual void asyncWaitForExit(asio::io_context& io, std::function<void()> onExit) = 0;

  // Ends the process at once. True if it was running and has been told to end.
  virtual bool terminate() = 0;

  // Whether the process is stopped (by a signal or a tracer) where the
  // platform can tell; a stopped program shows nothing new and defends nothing.
  virtual bool stopped() { return false; }
};

// NoSession: none; Coverable: X11 (Linux) or the Windows desktop, which the
// helpers can cover; Wayland: native Wayland windows, which they cannot.
enum class SessionKind { NoSession, Coverable, Wayland };

class SessionLauncher {
 public:
  virtual ~SessionLauncher() = default;

  // Whether a student session exists that helpers could be shown in.
  virtual bool interactiveSessionExists() = 0;

  // What kind of desktop the next launch would reach.
  virtual SessionKind sessionKind() = 0;

  // Starts `program` with `args` (each one argument, passed on unchanged) in
  // the interactive session and returns at once. Nothing when no session
  // exists or the program cannot be started.
  virtual std::unique_ptr<LaunchedProcess> launch(const std::filesystem::path& program,
                                                  const std::vector<std::string>& args) = 0;

  // The account the next launch would run as, where the platform starts
  // helpers under another account than the service's own (the helper
  // account on Linux); nothing otherwise.
  virtual std::optional<unsigned> sessionUserId() = 0;
};

struct SessionOptions {
  // Run helpers as the service's own user with its own environment, even
  // where a session manager could be asked for the student's session.
  bool useOwnSession = false;
  // "NAME=value" entries added to every helper's environment.
  std::vector<std::string> helperEnvironment;
  // Linux, service run as root: the account the helpers run as, so that the
  // student can neither signal nor trace them nor touch their files.
  std::string helperUser = "kursdienst";
  // Linux: where the private copies of the session's X cookie go.
  std::filesystem::path runtimeDir = "/run/kursdienst";
  // Linux, for trials and tests on a machine without logind: the student's
  // account, whose display is the service's own DISPLAY and XAUTHORITY.
  std::optional<std::string> sessionUser;
  // Lines for the service's journal.
  std::function<void(const std::string&)> log = [](const std::string&) {};
};

std::unique_ptr<SessionLauncher> createSessionLauncher(const SessionOptions& options);

}  // namespace saalwacht::platform

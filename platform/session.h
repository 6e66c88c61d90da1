#pragma once
// Starting helper programs in the session of the student who sits at the PC.

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace saalwacht::platform {

// A started process. The owner may wait for it; dropping it neither waits for
// nor ends the process.
class LaunchedProcess {
 public:
  virtual ~LaunchedProcess() = default;
  // Blocks until the process has ended or `timeout` has passed, without
  // spinning. True if it has ended.
  virtual bool waitForExit(std::chrono::milliseconds timeout) = 0;
};

class SessionLauncher {
 public:
  virtual ~SessionLauncher() = default;

  // Whether a student session exists that helpers could be shown in.
  virtual bool interactiveSessionExists() = 0;

  // Starts `program` with `args` (each one argument, passed on unchanged) in
  // the interactive session and returns at once. Nothing when no session
  // exists or the program cannot be started.
  virtual std::unique_ptr<LaunchedProcess> launch(const std::filesystem::path& program,
                                                  const std::vector<std::string>& args) = 0;

  // The account the next launch would run as, where the platform starts
  // helpers under another account than the service's own; nothing otherwise.
  virtual std::optional<unsigned> sessionUserId() = 0;
};

struct SessionOptions {
  // Run helpers as the service's own user with its own environment, even
  // where a session manager could be asked for the student's session.
  bool useOwnSession = false;
  // "NAME=value" entries added to every helper's environment.
  std::vector<std::string> helperEnvironment;
};

std::unique_ptr<SessionLauncher> createSessionLauncher(const SessionOptions& options);

}  // namespace saalwacht::platform

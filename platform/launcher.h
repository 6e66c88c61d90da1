#pragma once
// Opening programs, documents and web addresses for the teacher.

#include <memory>
#include <string>

namespace saalwacht::platform {

// Results follow the shell's "open" convention: above 32 means started.
inline constexpr int kLaunchFileNotFound = 2;
inline constexpr int kLaunchPathNotFound = 3;
inline constexpr int kLaunchAccessDenied = 5;
inline constexpr int kLaunchBadFormat = 11;
inline constexpr int kLaunchNoAssociation = 31;
inline constexpr int kLaunchStarted = 42;
// The launch was not tried at all; nothing is to be shown.
inline constexpr int kLaunchNotAttempted = -1;

class ProgramLauncher {
 public:
  virtual ~ProgramLauncher() = default;

  // Opens `file` with the parameter text `parameters` and returns at once
  // (never waits for the program). An executable is started with the text
  // split into words; a document or URL goes to the system's handler. Runs on
  // the caller's thread.
  virtual int open(const std::string& file, const std::string& parameters) = 0;
};

std::unique_ptr<ProgramLauncher> createProgramLauncher();

// `text` as one word of a parameter text, quoted the way this platform's
// launcher splits parameters; unchanged when it needs no quoting.
std::string quoteParameter(const std::string& text);

// The German message for a failed result; empty when `result` means started
// or not attempted. Portable.
std::string launchFailureText(int result);

}  // namespace saalwacht::platform

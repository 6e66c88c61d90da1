#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace saalwacht::testing {

// A private Xvfb server for one test. The display number is picked by Xvfb
// itself (-displayfd), so tests can run next to other X servers. The
// destructor terminates the server by pid and reaps it.
class XvfbDisplay {
 public:
  XvfbDisplay() = default;
  ~XvfbDisplay();
  XvfbDisplay(const XvfbDisplay&) = delete;
  XvfbDisplay& operator=(const XvfbDisplay&) = delete;

  // Starts "Xvfb -screen 0 WIDTHxHEIGHTxDEPTH -nolisten tcp" and waits until
  // it accepts clients. Returns false, with message() saying why, when Xvfb
  // is not installed or does not come up. extraArgs go to Xvfb as they are,
  // e.g. {"-extension", "MIT-SHM"} to switch an extension off.
  bool start(int width, int height, int depth = 24,
             const std::vector<std::string>& extraArgs = {});
  void stop();

  // ":N" once started.
  const std::string& name() const { return name_; }
  const std::string& message() const { return message_; }
  pid_t pid() const { return pid_; }

 private:
  std::string readLog() const;

  pid_t pid_ = -1;
  std::string name_;
  std::string message_;
  std::string logPath_;
};

}  // namespace saalwacht::testing

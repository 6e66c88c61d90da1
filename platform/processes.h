#pragma once
// Counting and ending running processes by their executable file name.

#include <filesystem>
#include <memory>
#include <string_view>

namespace saalwacht::platform {

// All calls run on the caller's thread and keep no state between calls.
class ProcessControl {
 public:
  virtual ~ProcessControl() = default;

  // Number of running processes whose executable file name equals `exeName`
  // exactly, with case. 0 when the process list cannot be read.
  virtual int count(std::string_view exeName) = 0;

  // Ends the first such process: if it does not end by itself within 100 ms it
  // is killed. True only when this call killed it.
  virtual bool terminateFirst(std::string_view exeName) = 0;

  // Ends every running process whose executable is the file `program` (its
  // full path, not a name a student can give a program of his own) and
  // returns how many it ended. Returns once they are gone.
  virtual int terminateProgram(const std::filesystem::path& program) = 0;
};

std::unique_ptr<ProcessControl> createProcessControl();

}  // namespace saalwacht::platform

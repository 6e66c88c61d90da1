#pragma once
// Locking the switch between virtual terminals, so that a blanked student
// cannot step from the covered desktop to a text console. Where the platform
// has no such switch, or the service may not lock it, nothing happens.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace saalwacht::platform {

class ConsoleSwitchLock {
 public:
  virtual ~ConsoleSwitchLock() = default;
  // Locks the switch; an error text when it cannot (the switch stays as it was).
  virtual std::optional<std::string> lock() = 0;
  // Releases it; harmless when it is not locked.
  virtual void unlock() = 0;
  virtual bool locked() const = 0;
};

// `device`: the console device to lock (Linux: /dev/tty0 by default).
std::unique_ptr<ConsoleSwitchLock> createConsoleSwitchLock(std::optional<std::filesystem::path> device = {});

}  // namespace saalwacht::platform

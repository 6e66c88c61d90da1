#include "platform/console_lock.h"

namespace saalwacht::platform {

namespace {

// Windows has no text consoles to switch to; the secure desktop
// (Ctrl+Alt+Del) cannot be held by any program.
class NoSwitchLock final : public ConsoleSwitchLock {
 public:
  std::optional<std::string> lock() override { return std::nullopt; }
  void unlock() override {}
  bool locked() const override { return false; }
};

}  // namespace

std::unique_ptr<ConsoleSwitchLock> createConsoleSwitchLock(std::optional<std::filesystem::path>) {
  return std::make_unique<NoSwitchLock>();
}

}  // namespace saalwacht::platform

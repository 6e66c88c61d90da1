#pragma once
// Powering the PC off.

#include <filesystem>
#include <memory>
#include <optional>

namespace saalwacht::platform {

class PowerControl {
 public:
  virtual ~PowerControl() = default;
  // Powers the PC off at once, without asking running programs. Failures are
  // written to the service's log; the caller goes on either way.
  virtual void powerOff() = 0;
};

// With `replacement`, powerOff() runs that program instead and never touches
// the machine (tests, demo, trial installs).
std::unique_ptr<PowerControl> createPowerControl(std::optional<std::filesystem::path> replacement);

}  // namespace saalwacht::platform

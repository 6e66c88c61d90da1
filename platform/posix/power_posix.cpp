#include <iostream>
#include <systemd/sd-bus.h>

#include "platform/posix/spawn_posix.h"
#include "platform/power.h"

namespace saalwacht::platform {

namespace {

class ReplacedPowerControl final : public PowerControl {
 public:
  explicit ReplacedPowerControl(std::filesystem::path program) : program_(std::move(program)) {}
  void powerOff() override {
    if (!posix::spawn({program_, {}, std::nullopt, std::nullopt})) {
      std::cerr << "kursdienst: power-off replacement " << program_ << " could not be started\n";
    }
  }

 private:
  std::filesystem::path program_;
};

class SystemPowerControl final : public PowerControl {
 public:
  void powerOff() override {
    if (askLogind()) return;
    // Without logind on the bus, systemctl is the other way systemd offers.
    if (!posix::spawn({"/bin/systemctl", {"poweroff", "--ignore-inhibitors"}, std::nullopt, std::nullopt})) {
      std::cerr << "kursdienst: the PC could not be powered off\n";
    }
  }

 private:
  static bool askLogind() {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return false;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int rc = sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                                      "org.freedesktop.login1.Manager", "PowerOff", &error, nullptr, "b", 0);
    if (rc < 0) std::cerr << "kursdienst: logind refused to power off: " << (error.message ? error.message : "") << "\n";
    sd_bus_error_free(&error);
    sd_bus_unref(bus);
    return rc >= 0;
  }
};

}  // namespace

std::unique_ptr<PowerControl> createPowerControl(std::optional<std::filesystem::path> replacement) {
  if (replacement) return std::make_unique<ReplacedPowerControl>(std::move(*replacement));
  return std::make_unique<SystemPowerControl>();
}

}  // namespace saalwacht::platform

#include "service/blanking_supervisor.h"

#include <fstream>

namespace saalwacht::service {

BlankingSupervisor::BlankingSupervisor(platform::ProcessControl& processes, platform::SessionLauncher& launcher,
                                       std::filesystem::path helper, std::filesystem::path flagFile)
    : processes_(processes),
      launcher_(launcher),
      helper_(std::move(helper)),
      helperName_(helper_.filename().string()),
      flagFile_(std::move(flagFile)) {}

void BlankingSupervisor::blank() {
  if (processes_.count(helperName_) != 0) return;
  // A failed start is retried by the next check, because the flag says "on".
  launcher_.launch(helper_, {});
  blankFlag_ = true;
  writeFlagFile();
}

void BlankingSupervisor::reset() {
  processes_.terminateFirst(helperName_);
  blankFlag_ = false;
  writeFlagFile();
}

void BlankingSupervisor::check() {
  if (!launcher_.interactiveSessionExists()) return;
  if (processes_.count(helperName_) != 0) return;
  if (const auto recorded = readFlagFile()) blankFlag_ = *recorded;
  if (blankFlag_) blank();
}

void BlankingSupervisor::writeFlagFile() const {
  // A failed write leaves only the in-memory flag; nothing to report to.
  std::ofstream out(flagFile_, std::ios::binary | std::ios::trunc);
  out << (blankFlag_ ? '1' : '0');
}

std::optional<bool> BlankingSupervisor::readFlagFile() const {
  std::ifstream in(flagFile_, std::ios::binary);
  long value = -1;
  if (!(in >> value)) return std::nullopt;
  if (value == 0) return false;
  if (value == 1) return true;
  return std::nullopt;
}

}  // namespace saalwacht::service

#pragma once
// Keeps the student's screen blanked for as long as the teacher wants it:
// the wish is recorded in a flag file, and a periodic check starts the
// blanking helper again whenever it has gone (ended by the student, log-off,
// restart of the PC).

#include <filesystem>
#include <optional>

#include "platform/processes.h"
#include "platform/session.h"

namespace saalwacht::service {

class BlankingSupervisor {
 public:
  // `helper` is the blanking program's path; its file name is the process
  // name that is watched. Both platform objects must outlive this one.
  BlankingSupervisor(platform::ProcessControl& processes, platform::SessionLauncher& launcher,
                     std::filesystem::path helper, std::filesystem::path flagFile);

  // Command "blank": starts the helper unless one runs, then records "on".
  void blank();
  // Command "reset": ends the helper and records "off", always.
  void reset();
  // The periodic check (every 5 s, on the service's thread).
  void check();

  bool blankFlag() const { return blankFlag_; }

 private:
  void writeFlagFile() const;
  std::optional<bool> readFlagFile() const;

  platform::ProcessControl& processes_;
  platform::SessionLauncher& launcher_;
  std::filesystem::path helper_;
  std::string helperName_;
  std::filesystem::path flagFile_;
  bool blankFlag_ = false;
};

}  // namespace saalwacht::service

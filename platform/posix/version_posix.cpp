#include <algorithm>
#include <system_error>

#include "platform/system.h"
#include "platform/version.h"

namespace saalwacht::platform {

// Linux programs carry no version resource; the running program knows its
// own version from the build.
std::string fileVersionText(const std::filesystem::path& executable) {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || !std::filesystem::equivalent(executable, self, error) || error) return {};
  std::string version = SAALWACHT_VERSION;
  // Four numbers, as a version resource would give them.
  for (int dots = static_cast<int>(std::count(version.begin(), version.end(), '.')); dots < 3; ++dots) version += ".0";
  return version;
}

}  // namespace saalwacht::platform

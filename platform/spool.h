#pragma once
// The place where the capture helper leaves its picture for the service.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace saalwacht::platform {

class ScreenshotSpool {
 public:
  virtual ~ScreenshotSpool() = default;

  // Makes the spool ready for a helper that runs as `helperUser` (nothing: the
  // service's own account) and removes any old picture. Returns the path the
  // helper is to write, or nothing when the spool cannot be made safe.
  virtual std::optional<std::filesystem::path> prepare(std::optional<unsigned> helperUser) = 0;

  // Takes the picture the helper wrote: only a plain file (no link) of the
  // helper's account, at most `maxBytes` long. The file is removed once read.
  virtual std::optional<std::string> collect(std::size_t maxBytes) = 0;
};

std::unique_ptr<ScreenshotSpool> createScreenshotSpool(const std::filesystem::path& stateDir);

}  // namespace saalwacht::platform

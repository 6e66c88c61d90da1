#pragma once
// Takes a picture of the student's screen through the capture helper.

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/session.h"
#include "platform/spool.h"

namespace saalwacht::service {

// Largest picture the service passes on; a bigger file is not a screenshot.
inline constexpr std::size_t kMaxPictureBytes = 64 * 1024 * 1024;

// True for data that starts like a JPEG file and carries its end marker.
bool looksLikeJpeg(std::string_view data);

// The picture sent when neither a screenshot nor the fallback file is to be had.
std::string_view builtInFallbackPicture();

class ScreenshotCapture {
 public:
  ScreenshotCapture(platform::SessionLauncher& launcher, platform::ScreenshotSpool& spool,
                    std::filesystem::path helper, std::filesystem::path fallbackFile,
                    std::chrono::milliseconds helperTimeout = std::chrono::seconds(10));

  // Runs the helper, waits for it (blocking, at most the time-out) and returns
  // JPEG bytes: the screenshot, else the fallback file, else the built-in
  // picture. Never empty.
  std::string capture();

  enum class Source { Screenshot, FallbackFile, BuiltIn };
  Source lastSource() const { return lastSource_; }

 private:
  platform::SessionLauncher& launcher_;
  platform::ScreenshotSpool& spool_;
  std::filesystem::path helper_;
  std::filesystem::path fallbackFile_;
  std::chrono::milliseconds helperTimeout_;
  Source lastSource_ = Source::BuiltIn;
};

}  // namespace saalwacht::service

#include "service/screenshot_capture.h"

#include "platform/system.h"

namespace saalwacht::service {

bool looksLikeJpeg(std::string_view data) {
  if (data.size() < 4 || data.substr(0, 3) != "\xff\xd8\xff") return false;
  // Some writers pad after the end marker; allow a little of that.
  const std::size_t tail = data.size() > 64 ? data.size() - 64 : 0;
  return data.find("\xff\xd9", tail) != std::string_view::npos;
}

ScreenshotCapture::ScreenshotCapture(platform::SessionLauncher& launcher, platform::ScreenshotSpool& spool,
                                     std::filesystem::path helper, std::filesystem::path fallbackFile,
                                     std::chrono::milliseconds helperTimeout)
    : launcher_(launcher),
      spool_(spool),
      helper_(std::move(helper)),
      fallbackFile_(std::move(fallbackFile)),
      helperTimeout_(helperTimeout) {}

std::string ScreenshotCapture::capture() {
  if (const auto target = spool_.prepare(launcher_.sessionUserId())) {
    const auto helper = launcher_.launch(helper_, {target->string()});
    // A helper that does not end in time is left alone; the next request
    // clears whatever it writes later.
    if (helper && helper->waitForExit(helperTimeout_)) {
      auto picture = spool_.collect(kMaxPictureBytes);
      if (picture && looksLikeJpeg(*picture)) {
        lastSource_ = Source::Screenshot;
        return std::move(*picture);
      }
    }
  }
  if (auto fallback = platform::readFile(fallbackFile_); fallback && looksLikeJpeg(*fallback)) {
    lastSource_ = Source::FallbackFile;
    return std::move(*fallback);
  }
  lastSource_ = Source::BuiltIn;
  return std::string(builtInFallbackPicture());
}

}  // namespace saalwacht::service

#include "service/screenshot_capture.h"

#include "platform/system.h"

namespace saalwacht::service {

bool looksLikeJpeg(std::string_view data) {
  if (data.size() < 4 || data.substr(0, 3) != "\xff\xd8\xff") return false;
  // Some writers pad after the end marker; allow a little of that.
  const std::size_t tail = data.size() > 64 ? data.size() - 64 : 0;
  return data.find("\xff\xd9", tail) != std::string_view::npos;
}

ScreenshotCapture::ScreenshotCapture(asio::io_context& io, platform::SessionLauncher& launcher,
                                     platform::ScreenshotSpool& spool, std::filesystem::path helper,
                                     std::filesystem::path fallbackFile, std::chrono::milliseconds helperTimeout)
    : io_(io),
      launcher_(launcher),
      spool_(spool),
      helper_(std::move(helper)),
      fallbackFile_(std::move(fallbackFile)),
      helperTimeout_(helperTimeout),
      timer_(io) {}

void ScreenshotCapture::capture(Done done) {
  waiting_.push_back(std::move(done));
  startNext();
}

void ScreenshotCapture::startNext() {
  if (busy_ || waiting_.empty()) return;
  busy_ = true;
  const auto target = spool_.prepare(launcher_.sessionUserId());
  if (target) running_ = launcher_.launch(helper_, {target->string()});
  if (!running_) {
    // Handed over on a later turn, as a real capture would be.
    asio::post(io_, [this] { deliver(fallback()); });
    return;
  }
  // A late handler of an earlier capture must not end this one.
  const unsigned generation = ++generation_;
  running_->asyncWaitForExit(io_, [this, generation] { helperDone(generation, true); });
  timer_.expires_after(helperTimeout_);
  timer_.async_wait([this, generation](const asio::error_code& error) {
    if (!error) helperDone(generation, false);
  });
}

void ScreenshotCapture::helperDone(unsigned generation, bool ended) {
  if (!running_ || generation != generation_) return;
  timer_.cancel();
  // A helper that does not end in time is left alone; the next request
  // clears whatever it writes later.
  running_.reset();
  if (ended) {
    auto picture = spool_.collect(kMaxPictureBytes);
    if (picture && looksLikeJpeg(*picture)) {
      lastSource_ = Source::Screenshot;
      deliver(std::move(*picture));
      return;
    }
  }
  deliver(fallback());
}

std::string ScreenshotCapture::fallback() {
  if (auto file = platform::readFile(fallbackFile_); file && looksLikeJpeg(*file)) {
    lastSource_ = Source::FallbackFile;
    return std::move(*file);
  }
  lastSource_ = Source::BuiltIn;
  return std::string(builtInFallbackPicture());
}

void ScreenshotCapture::deliver(std::string picture) {
  Done done = std::move(waiting_.front());
  waiting_.pop_front();
  busy_ = false;
  done(std::move(picture));
  startNext();
}

}  // namespace saalwacht::service

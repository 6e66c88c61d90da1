#pragma once
// Takes a picture of the student's screen through the capture helper. The
// helper runs in the background; the service keeps serving meanwhile.

#include <asio.hpp>
#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
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
  using Done = std::function<void(std::string picture)>;

  ScreenshotCapture(asio::io_context& io, platform::SessionLauncher& launcher, platform::ScreenshotSpool& spool,
                    std::filesystem::path helper, std::filesystem::path fallbackFile,
                    std::chrono::milliseconds helperTimeout = std::chrono::seconds(10));
  ScreenshotCapture(const ScreenshotCapture&) = delete;
  ScreenshotCapture& operator=(const ScreenshotCapture&) = delete;

  // Runs the helper and hands `done` JPEG bytes on the io_context's thread:
  // the screenshot, else the fallback file, else the built-in picture; never
  // empty. Requests wait their turn: one helper at a time, each at most the
  // time-out.
  void capture(Done done);

  enum class Source { Screenshot, FallbackFile, BuiltIn };
  Source lastSource() const { return lastSource_; }

 private:
  void startNext();
  void helperDone(unsigned generation, bool ended);
  void deliver(std::string picture);
  std::string fallback();

  asio::io_context& io_;
  platform::SessionLauncher& launcher_;
  platform::ScreenshotSpool& spool_;
  std::filesystem::path helper_;
  std::filesystem::path fallbackFile_;
  std::chrono::milliseconds helperTimeout_;
  asio::steady_timer timer_;
  std::deque<Done> waiting_;
  std::unique_ptr<platform::LaunchedProcess> running_;
  bool busy_ = false;
  unsigned generation_ = 0;
  Source lastSource_ = Source::BuiltIn;
};

}  // namespace saalwacht::service

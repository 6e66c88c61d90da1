#pragma once
// The console's side of a screenshot exchange, as a state machine without a
// socket: the caller feeds it what each read delivered and sends what it says.
//
//   connect, send "40"  ->  WaitingForSize
//   size text arrives   ->  reply "41", ReceivingPicture   (or "42" when cancelled)
//   picture bytes       ->  when complete: reply "42", close, Received

#include <cstdint>
#include <string>
#include <string_view>

namespace saalwacht::protocol {

// The largest picture the console accepts: far above any real screen's JPEG,
// low enough that a faulty service cannot make it reserve gigabytes.
inline constexpr std::int32_t kMaxScreenshotBytes = 64 * 1024 * 1024;

class ScreenshotExchange {
 public:
  enum class State {
    WaitingForSize,    // "40" sent, the service is capturing
    ReceivingPicture,  // size known, "41" sent, bytes arriving
    Received,          // the whole picture is here
    Cancelled,         // the teacher gave up; "42" sent
    Failed,            // the service answered something that is no size text
  };

  // What the caller must do after feeding data: send `reply` (if not empty),
  // then close the connection if `close` is set.
  struct Step {
    std::string reply;
    bool close = false;
  };

  // Feeds the bytes of one read event.
  Step onData(std::string_view bytes);

  // Marks the exchange as cancelled; takes effect at the next read event, so
  // that the service always gets its "42".
  void cancel() { cancelRequested_ = true; }

  State state() const { return state_; }
  bool finished() const { return state_ != State::WaitingForSize && state_ != State::ReceivingPicture; }
  // The announced size, once known.
  std::int32_t announcedSize() const { return announcedSize_; }
  // The received JPEG bytes; complete when state() is Received.
  const std::string& picture() const { return picture_; }
  std::string takePicture() { return std::move(picture_); }

 private:
  Step finish(State state);

  State state_ = State::WaitingForSize;
  bool cancelRequested_ = false;
  std::int32_t announcedSize_ = 0;
  std::string picture_;
};

}  // namespace saalwacht::protocol

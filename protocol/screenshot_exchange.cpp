#include "protocol/screenshot_exchange.h"

#include "protocol/message.h"

namespace saalwacht::protocol {

ScreenshotExchange::Step ScreenshotExchange::finish(State state) {
  state_ = state;
  return {codeText(CommandCode::EndScreenshot), true};
}

ScreenshotExchange::Step ScreenshotExchange::onData(std::string_view bytes) {
  switch (state_) {
    case State::WaitingForSize: {
      if (cancelRequested_) return finish(State::Cancelled);
      const auto size = parseSizeText(bytes);
      // A size of nothing would leave us waiting for bytes that never come.
      if (!size || *size == 0 || *size > kMaxScreenshotBytes) return finish(State::Failed);
      announcedSize_ = *size;
      picture_.clear();
      picture_.reserve(static_cast<std::size_t>(*size));
      state_ = State::ReceivingPicture;
      return {codeText(CommandCode::SendPicture), false};
    }
    case State::ReceivingPicture: {
      if (cancelRequested_) return finish(State::Cancelled);
      const std::size_t missing = static_cast<std::size_t>(announcedSize_) - picture_.size();
      picture_.append(bytes.substr(0, missing));
      if (picture_.size() == static_cast<std::size_t>(announcedSize_)) return finish(State::Received);
      return {};
    }
    case State::Received:
    case State::Cancelled:
    case State::Failed:
      break;
  }
  // Bytes after the end of the exchange are ignored.
  return {};
}

}  // namespace saalwacht::protocol

#include "protocol/signed_link.h"

#include "protocol/message.h"

namespace saalwacht::protocol {

namespace {

constexpr std::string_view kContext = "saalwacht command v1\n";
constexpr char kHexDigits[] = "0123456789abcdef";

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string lengthText(std::size_t n) {
  std::string text(8, '0');
  for (int i = 7; i >= 0; --i, n >>= 4) text[static_cast<std::size_t>(i)] = kHexDigits[n & 15];
  return text;
}

}  // namespace

std::string toHex(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    text += kHexDigits[c >> 4];
    text += kHexDigits[c & 15];
  }
  return text;
}

std::optional<std::string> fromHex(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = hexValue(text[i]);
    const int low = hexValue(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes += static_cast<char>(high * 16 + low);
  }
  return bytes;
}

std::string encodeChallenge(std::string_view challenge) { return "51" + toHex(challenge); }

std::string signedData(std::string_view challenge, std::string_view command) {
  std::string data(kContext);
  data.append(challenge);
  data.append(command);
  return data;
}

std::string encodeSignedCommand(const SignedCommand& command) {
  return "53" + toHex(command.key) + toHex(command.signature) + lengthText(command.command.size()) +
         command.command;
}

SignedParse parseSignedCommand(std::string_view bytes, std::size_t maxCommandBytes) {
  SignedParse result;
  // Junk is told as early as its first bytes allow.
  const std::size_t known = std::min(bytes.size(), kSignedHeaderBytes);
  if ((known >= 1 && bytes[0] != '5') || (known >= 2 && bytes[1] != '3')) {
    result.status = SignedParse::Status::Invalid;
    return result;
  }
  for (std::size_t i = 2; i < known; ++i) {
    if (hexValue(bytes[i]) < 0) {
      result.status = SignedParse::Status::Invalid;
      return result;
    }
  }
  if (bytes.size() < kSignedHeaderBytes) return result;
  std::size_t offset = 2;
  result.command.key = *fromHex(bytes.substr(offset, 2 * kKeyBytes));
  offset += 2 * kKeyBytes;
  result.command.signature = *fromHex(bytes.substr(offset, 2 * kSignatureBytes));
  offset += 2 * kSignatureBytes;
  std::size_t length = 0;
  for (char c : bytes.substr(offset, 8)) length = length * 16 + static_cast<std::size_t>(hexValue(c));
  offset += 8;
  if (length < 2 || length > maxCommandBytes) {
    result.status = SignedParse::Status::Invalid;
    return result;
  }
  if (bytes.size() < offset + length) return result;
  result.command.command.assign(bytes.substr(offset, length));
  result.status = SignedParse::Status::Complete;
  return result;
}

ClientLink::ClientLink(std::string command, std::optional<Signer> signer)
    : command_(std::move(command)),
      signer_(std::move(signer)),
      screenshot_(readCodeNumber(command_) == static_cast<int>(CommandCode::ScreenshotRequest)) {}

ClientLink::Step ClientLink::end(Outcome outcome) {
  phase_ = Phase::Done;
  outcome_ = outcome;
  return {{}, true};
}

ClientLink::Step ClientLink::sendPlain() {
  if (screenshot_) {
    phase_ = Phase::Exchange;
    return {command_, false};
  }
  phase_ = Phase::Done;
  outcome_ = Outcome::Delivered;
  return {command_, true};
}

ClientLink::Step ClientLink::feedExchange(std::string_view bytes) {
  const auto step = exchange_.onData(bytes);
  if (exchange_.finished()) {
    phase_ = Phase::Done;
    outcome_ = exchange_.state() == ScreenshotExchange::State::Failed ? Outcome::Failed : Outcome::Delivered;
  }
  return {step.reply, step.close};
}

ClientLink::Step ClientLink::onData(std::string_view bytes) {
  switch (phase_) {
    case Phase::Greeting: {
      buffer_.append(bytes);
      if (buffer_.size() < 2) return {};
      const std::string_view head = std::string_view(buffer_).substr(0, 2);
      if (head == kOpenReply) {
        buffer_.clear();
        return sendPlain();
      }
      if (head == kRefusedReply) return end(Outcome::Refused);
      if (head != "51") return end(Outcome::Failed);
      if (buffer_.size() < kChallengeReplyBytes) return {};
      const auto challenge = fromHex(std::string_view(buffer_).substr(2, 2 * kChallengeBytes));
      buffer_.clear();
      if (!challenge) return end(Outcome::Failed);
      if (!signer_) return end(Outcome::KeyRequired);
      SignedCommand signedCommand{signer_->publicKey, signer_->sign(signedData(*challenge, command_)), command_};
      phase_ = Phase::AwaitingVerdict;
      return {encodeSignedCommand(signedCommand), false};
    }
    case Phase::AwaitingVerdict: {
      buffer_.append(bytes);
      if (buffer_.size() < 2) return {};
      const std::string head = buffer_.substr(0, 2);
      const std::string rest = buffer_.substr(2);
      buffer_.clear();
      if (head == kRefusedReply) return end(Outcome::Refused);
      if (head != kAcceptedReply) return end(Outcome::Failed);
      proven_ = true;
      if (!screenshot_) return end(Outcome::Delivered);
      phase_ = Phase::Exchange;
      if (rest.empty()) return {};
      return feedExchange(rest);
    }
    case Phase::Exchange:
      return feedExchange(bytes);
    case Phase::Done:
      break;
  }
  return {};
}

ClientLink::Step ClientLink::onGreetingTimeout() {
  if (phase_ != Phase::Greeting || !buffer_.empty()) return {};
  return sendPlain();
}

void ClientLink::onClosed() {
  if (phase_ == Phase::Done) return;
  // Closed before any answer: the service turns this PC away before reading
  // anything (its list of allowed sources).
  if (phase_ == Phase::Greeting && buffer_.empty()) {
    phase_ = Phase::Done;
    outcome_ = Outcome::Refused;
    return;
  }
  phase_ = Phase::Done;
  outcome_ = Outcome::Failed;
}

}  // namespace saalwacht::protocol

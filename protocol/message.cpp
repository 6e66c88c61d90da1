#include "protocol/message.h"

#include <charconv>

namespace saalwacht::protocol {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isCommand(int number) {
  switch (static_cast<CommandCode>(number)) {
    case CommandCode::Reset:
    case CommandCode::Blank:
    case CommandCode::Shutdown:
    case CommandCode::Message:
    case CommandCode::ScreenshotRequest:
    case CommandCode::SendPicture:
    case CommandCode::EndScreenshot:
      return true;
  }
  return false;
}

}  // namespace

std::string codeText(CommandCode code) {
  const int n = static_cast<int>(code);
  return {static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10)};
}

std::optional<int> readCodeNumber(std::string_view wireBytes) {
  const std::string_view head = wireBytes.substr(0, 2);
  if (head.empty()) return std::nullopt;
  int value = 0;
  for (char c : head) {
    if (!isDigit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::optional<Command> parseCommand(std::string_view wireBytes) {
  const auto number = readCodeNumber(wireBytes);
  if (!number || !isCommand(*number)) return std::nullopt;
  Command command{static_cast<CommandCode>(*number), {}};
  if (command.code == CommandCode::Message && wireBytes.size() > 2) {
    command.payload.assign(wireBytes.substr(2));
  }
  return command;
}

std::string encodeCommand(CommandCode code, std::string_view text) {
  std::string bytes = codeText(code);
  if (code == CommandCode::Message) bytes.append(text);
  return bytes;
}

std::string encodeSizeText(std::uint64_t size) { return std::to_string(size); }

std::optional<std::int32_t> parseSizeText(std::string_view text) {
  if (text.empty()) return std::nullopt;
  for (char c : text) {
    if (!isDigit(c)) return std::nullopt;
  }
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string withCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out.push_back('\r');
    out.push_back(text[i]);
  }
  return out;
}

}  // namespace saalwacht::protocol

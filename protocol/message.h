#pragma once
// The messages of the command link between console and student service.
// Pure code: bytes in, a message out. No sockets.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace saalwacht::protocol {

// TCP port of the student service; fixed on both sides.
inline constexpr std::uint16_t kServicePort = 4000;

// Upper bound for the text of a message command, in wire bytes; excess is dropped.
inline constexpr std::size_t kMaxMessageTextBytes = 64 * 1024;

enum class CommandCode : int {
  Reset = 0,
  Blank = 10,
  Shutdown = 20,
  Message = 30,
  ScreenshotRequest = 40,
  SendPicture = 41,
  EndScreenshot = 42,
};

// The two-digit text of a code, as the console sends it ("00", "10", ...).
std::string codeText(CommandCode code);

// A received command: its code and, for Message, the payload bytes as they came
// off the wire (still in the wire encoding).
struct Command {
  CommandCode code;
  std::string payload;

  bool operator==(const Command&) const = default;
};

// The decimal value of the first two characters (one if that is all there is),
// or nothing when they are not decimal digits or the text is empty.
std::optional<int> readCodeNumber(std::string_view wireBytes);

// Parses one received message. Returns nothing for junk and for numbers that
// are no command ("05", "99", a lone "1"); the service ignores those.
// Whatever follows the two code characters is kept only for Message.
std::optional<Command> parseCommand(std::string_view wireBytes);

// Builds the bytes the console sends for a command; `text` is already in the
// wire encoding and is used only for Message.
std::string encodeCommand(CommandCode code, std::string_view text = {});

// Line breaks as the console sends them: every lone "\n" becomes "\r\n".
std::string withCrLf(std::string_view text);

// The size text that announces a picture: decimal digits, no sign, no padding.
std::string encodeSizeText(std::uint64_t size);

// Reads a size text as the console does: a non-negative 32-bit number written
// only in decimal digits. Nothing for anything else.
std::optional<std::int32_t> parseSizeText(std::string_view text);

}  // namespace saalwacht::protocol

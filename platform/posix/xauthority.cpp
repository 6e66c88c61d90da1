#include "platform/posix/xauthority.h"

namespace saalwacht::platform::posix {

namespace {

bool readCounted(std::string_view& bytes, std::string& out) {
  if (bytes.size() < 2) return false;
  const std::size_t n = (static_cast<unsigned char>(bytes[0]) << 8) | static_cast<unsigned char>(bytes[1]);
  if (bytes.size() < 2 + n) return false;
  out.assign(bytes.substr(2, n));
  bytes.remove_prefix(2 + n);
  return true;
}

void writeCounted(std::string& out, std::string_view value) {
  out += static_cast<char>((value.size() >> 8) & 0xff);
  out += static_cast<char>(value.size() & 0xff);
  out += value;
}

}  // namespace

std::optional<std::vector<XauthEntry>> parseXauthority(std::string_view bytes) {
  std::vector<XauthEntry> entries;
  while (!bytes.empty()) {
    if (bytes.size() < 2) return std::nullopt;
    XauthEntry entry;
    entry.family = static_cast<std::uint16_t>((static_cast<unsigned char>(bytes[0]) << 8) |
                                              static_cast<unsigned char>(bytes[1]));
    bytes.remove_prefix(2);
    if (!readCounted(bytes, entry.address) || !readCounted(bytes, entry.number) || !readCounted(bytes, entry.name) ||
        !readCounted(bytes, entry.data)) {
      return std::nullopt;
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string formatXauthority(const std::vector<XauthEntry>& entries) {
  std::string out;
  for (const auto& entry : entries) {
    out += static_cast<char>(entry.family >> 8);
    out += static_cast<char>(entry.family & 0xff);
    writeCounted(out, entry.address);
    writeCounted(out, entry.number);
    writeCounted(out, entry.name);
    writeCounted(out, entry.data);
  }
  return out;
}

std::optional<std::string> displayNumber(std::string_view display) {
  const auto colon = display.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view number = display.substr(colon + 1);
  number = number.substr(0, number.find('.'));
  if (number.empty() || number.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  return std::string(number);
}

std::vector<XauthEntry> entriesForDisplay(const std::vector<XauthEntry>& entries, std::string_view display) {
  std::vector<XauthEntry> found;
  const auto number = displayNumber(display);
  if (!number) return found;
  for (const auto& entry : entries) {
    if (entry.number == *number) found.push_back(entry);
  }
  return found;
}

}  // namespace saalwacht::platform::posix

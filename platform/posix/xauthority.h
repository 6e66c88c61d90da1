#pragma once
// X authority files (~/.Xauthority): reading the session's cookie for one
// display and writing a private copy for another account. Pure code.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace saalwacht::platform::posix {

struct XauthEntry {
  std::uint16_t family = 0;  // 256 local, 65535 any host, 0 IPv4, ...
  std::string address;
  std::string number;        // the display number as text
  std::string name;          // "MIT-MAGIC-COOKIE-1"
  std::string data;
};

// Nothing when the file is damaged.
std::optional<std::vector<XauthEntry>> parseXauthority(std::string_view bytes);
std::string formatXauthority(const std::vector<XauthEntry>& entries);

// The display number of a DISPLAY value (":0", ":1.0", "host:10.0"), or nothing.
std::optional<std::string> displayNumber(std::string_view display);

// The entries that let a client reach that display.
std::vector<XauthEntry> entriesForDisplay(const std::vector<XauthEntry>& entries, std::string_view display);

}  // namespace saalwacht::platform::posix

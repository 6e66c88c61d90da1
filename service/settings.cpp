#include "service/settings.h"

#include <asio/ip/address_v4.hpp>
#include <asio/ip/address_v6.hpp>
#include <array>
#include <charconv>

#include "platform/system.h"

namespace saalwacht::service {

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool validHostName(std::string_view name) {
  if (name.empty() || name.size() > 253 || name.front() == '.' || name.front() == '-') return false;
  std::size_t label = 0;
  for (char c : name) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
    if (c == '.') {
      if (label == 0) return false;
      label = 0;
    } else if (!letter || ++label > 63) {
      return false;
    }
  }
  return true;
}

}  // namespace

asio::ip::address normalized(const asio::ip::address& address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
  }
  return address;
}

std::optional<SourceRule> parseSourceRule(std::string_view text) {
  SourceRule rule;
  rule.text = std::string(text);
  const auto slash = text.find('/');
  asio::error_code error;
  const auto address = asio::ip::make_address(std::string(text.substr(0, slash)), error);
  if (slash != std::string_view::npos) {
    if (error) return std::nullopt;
    const std::string_view bits = text.substr(slash + 1);
    unsigned prefix = 0;
    const auto [end, failed] = std::from_chars(bits.data(), bits.data() + bits.size(), prefix);
    const unsigned width = address.is_v4() ? 32 : 128;
    if (bits.empty() || failed != std::errc() || end != bits.data() + bits.size() || prefix > width) {
      return std::nullopt;
    }
    rule.kind = SourceRule::Kind::Network;
    rule.address = normalized(address);
    rule.prefix = prefix;
    return rule;
  }
  if (!error) {
    rule.kind = SourceRule::Kind::Address;
    rule.address = normalized(address);
    return rule;
  }
  // Something shaped like an address that is none is a typo, not a host.
  const bool allDigitsAndDots = text.find_first_not_of("0123456789.") == std::string_view::npos;
  if (allDigitsAndDots || text.find(':') != std::string_view::npos || !validHostName(text)) return std::nullopt;
  rule.kind = SourceRule::Kind::HostName;
  rule.host = std::string(text);
  return rule;
}

bool matches(const SourceRule& rule, const asio::ip::address& peer) {
  const auto address = normalized(peer);
  switch (rule.kind) {
    case SourceRule::Kind::Address:
      return address == rule.address;
    case SourceRule::Kind::Network: {
      if (address.is_v4() != rule.address.is_v4()) return false;
      std::array<unsigned char, 16> mine{}, theirs{};
      if (address.is_v4()) {
        const auto x = address.to_v4().to_bytes();
        const auto y = rule.address.to_v4().to_bytes();
        std::copy(x.begin(), x.end(), mine.begin());
        std::copy(y.begin(), y.end(), theirs.begin());
      } else {
        mine = address.to_v6().to_bytes();
        theirs = rule.address.to_v6().to_bytes();
      }
      unsigned bits = rule.prefix;
      for (std::size_t i = 0; bits > 0; ++i) {
        const unsigned take = bits >= 8 ? 8 : bits;
        const unsigned mask = (0xffu << (8 - take)) & 0xffu;
        if ((mine[i] & mask) != (theirs[i] & mask)) return false;
        bits -= take;
      }
      return true;
    }
    case SourceRule::Kind::HostName:
      return false;
  }
  return false;
}

ServiceSettings parseServiceSettings(std::string_view text, const std::filesystem::path& file) {
  ServiceSettings settings;
  settings.file = file;
  int lineNumber = 0;
  int trustedKeysLine = 0;
  auto fail = [&](std::string_view key, const std::string& why) {
    std::string message = file.string() + ", line " + std::to_string(lineNumber);
    if (!key.empty()) message += ", key \"" + std::string(key) + "\"";
    throw SettingsError(message + ": " + why);
  };
  while (!text.empty()) {
    ++lineNumber;
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (const auto hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    line = trim(line);
    if (line.empty()) continue;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) fail({}, "expected \"key = value\", found \"" + std::string(line) + "\"");
    const std::string_view key = trim(line.substr(0, equals));
    const std::string_view value = trim(line.substr(equals + 1));
    if (key == "allow") {
      if (!settings.allow) settings.allow.emplace();
      std::size_t start = 0;
      bool any = false;
      while (start < value.size()) {
        const auto stop = value.find_first_of(" \t,", start);
        const std::string_view item = value.substr(start, stop == std::string_view::npos ? stop : stop - start);
        start = stop == std::string_view::npos ? value.size() : stop + 1;
        if (item.empty()) continue;
        auto rule = parseSourceRule(item);
        if (!rule) fail(key, "\"" + std::string(item) + "\" is no address, network (ADDRESS/BITS) or host name");
        settings.allow->push_back(std::move(*rule));
        any = true;
      }
      if (!any) fail(key, "needs at least one address, network or host name");
    } else if (key == "trusted-keys") {
      if (trustedKeysLine != 0) fail(key, "is given twice (first in line " + std::to_string(trustedKeysLine) + ")");
      trustedKeysLine = lineNumber;
      const std::filesystem::path folder(std::string{value});
      if (value.empty() || !folder.is_absolute()) fail(key, "needs the full path of a folder");
      settings.trustedKeys = folder;
    } else {
      fail(key, "unknown key (known keys: allow, trusted-keys)");
    }
  }
  return settings;
}

ServiceSettings loadServiceSettings(const std::filesystem::path& file) {
  std::error_code error;
  if (!std::filesystem::exists(file, error)) {
    ServiceSettings open;
    open.file = file;
    return open;
  }
  const auto text = platform::readFile(file);
  if (!text) throw SettingsError(file.string() + ": cannot be read");
  ServiceSettings settings = parseServiceSettings(*text, file);
  if (settings.trustedKeys) {
    const auto& folder = *settings.trustedKeys;
    if (!std::filesystem::is_directory(folder, error)) {
      throw SettingsError(file.string() + ", key \"trusted-keys\": " + folder.string() + " is no folder");
    }
    // Whoever may add a key there may command the PC.
    if (platform::writableByOthers(folder)) {
      throw SettingsError(file.string() + ", key \"trusted-keys\": others than its owner may write to " +
                          folder.string() + " (chmod 755 it, owned by root)");
    }
  }
  return settings;
}

}  // namespace saalwacht::service

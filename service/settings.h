#pragma once
// The student PC's own settings, kursdienst.conf: who may command this PC.
// Lines "key = value", '#' starts a comment. Without the file, or with every
// key commented out, the service takes commands from anyone, as it always
// did. A fault in the file stops the start: never open by mistake.

#include <asio/ip/address.hpp>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace saalwacht::service {

// One entry of `allow`.
struct SourceRule {
  enum class Kind { Address, Network, HostName } kind = Kind::Address;
  asio::ip::address address;  // Address, Network
  unsigned prefix = 0;        // Network: the number of leading bits that count
  std::string host;           // HostName
  std::string text;           // as written, for messages
};

struct ServiceSettings {
  std::filesystem::path file;                   // where they were read from
  std::optional<std::vector<SourceRule>> allow;  // nothing: every source
  std::optional<std::filesystem::path> trustedKeys;
};

// The message names the file, the line and the key.
class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses the text of a settings file; `file` only names it in messages.
// Throws SettingsError.
ServiceSettings parseServiceSettings(std::string_view text, const std::filesystem::path& file);

// Reads the settings file. A missing file gives the open defaults; an
// unreadable file, a fault in it, or a trusted-keys folder that is missing or
// that others than its owner may change throws SettingsError.
ServiceSettings loadServiceSettings(const std::filesystem::path& file);

// One rule as read from its text ("10.0.0.0/8", "2001:db8::1", "lehrer-pc");
// nothing when it is none of these.
std::optional<SourceRule> parseSourceRule(std::string_view text);

// The commented settings file that an install puts in place.
std::string_view sampleSettings();
// The systemd unit of the service, as the Debian package ships it.
std::string_view systemdUnit();

// Whether `address` matches an address or network rule (host names are
// matched through their resolved addresses by the caller).
bool matches(const SourceRule& rule, const asio::ip::address& address);

// IPv4 peers of a dual-stack socket arrive as ::ffff:a.b.c.d; rules name them
// as a.b.c.d.
asio::ip::address normalized(const asio::ip::address& address);

}  // namespace saalwacht::service

#pragma once
// Who may command this PC: the sources a connection may come from, and the
// consoles whose proofs count. Service thread only.

#include <asio.hpp>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "crypto/signing.h"
#include "service/settings.h"

namespace saalwacht::service {

using Log = std::function<void(const std::string&)>;

// Matches a connection's peer address against the `allow` rules. Host names
// are resolved at start and again every few minutes; a name that cannot be
// resolved matches nothing until it can.
class SourceFilter {
 public:
  SourceFilter(asio::io_context& io, std::vector<SourceRule> rules, Log log,
               std::chrono::seconds refresh = std::chrono::minutes(5));
  SourceFilter(const SourceFilter&) = delete;
  SourceFilter& operator=(const SourceFilter&) = delete;

  bool allows(const asio::ip::address& peer) const;

 private:
  void resolveFrom(std::size_t rule);
  void scheduleRefresh();

  asio::io_context& io_;
  std::vector<SourceRule> rules_;
  Log log_;
  std::chrono::seconds refresh_;
  asio::ip::tcp::resolver resolver_;
  asio::steady_timer timer_;
  std::map<std::string, std::vector<asio::ip::address>> resolved_;
};

// The public keys of the trusted consoles: every file in one folder. While
// the folder holds any file, proofs are required; a file that holds no key
// is reported and trusts nobody. The folder is read again when it has
// changed, so an admin's new key counts without a restart.
class TrustedKeys {
 public:
  TrustedKeys(std::filesystem::path folder, Log log);

  // Whether commands must be proven (the folder holds at least one file).
  bool required();
  // The key with these raw bytes, if it is trusted.
  const crypto::PublicKey* find(std::string_view rawKey);

  const std::filesystem::path& folder() const { return folder_; }

 private:
  void reloadIfChanged();

  std::filesystem::path folder_;
  Log log_;
  std::chrono::steady_clock::time_point checked_{};
  std::string signature_;  // names, sizes and times of the files last read
  bool anyFile_ = false;
  std::vector<crypto::PublicKey> keys_;
};

}  // namespace saalwacht::service

#include "service/access.h"

#include <algorithm>

#include "platform/system.h"

namespace saalwacht::service {

SourceFilter::SourceFilter(asio::io_context& io, std::vector<SourceRule> rules, Log log, std::chrono::seconds refresh)
    : io_(io), rules_(std::move(rules)), log_(std::move(log)), refresh_(refresh), resolver_(io), timer_(io) {
  // At start the names are resolved before the first connection is taken.
  for (const auto& rule : rules_) {
    if (rule.kind != SourceRule::Kind::HostName) continue;
    asio::error_code error;
    const auto results = resolver_.resolve(rule.host, "", error);
    if (error) {
      log_("allow: " + rule.host + " cannot be resolved (" + error.message() + "); tried again later");
      continue;
    }
    for (const auto& entry : results) resolved_[rule.host].push_back(normalized(entry.endpoint().address()));
  }
  if (std::any_of(rules_.begin(), rules_.end(),
                  [](const SourceRule& r) { return r.kind == SourceRule::Kind::HostName; })) {
    scheduleRefresh();
  }
}

bool SourceFilter::allows(const asio::ip::address& peer) const {
  const auto address = normalized(peer);
  for (const auto& rule : rules_) {
    if (rule.kind != SourceRule::Kind::HostName) {
      if (matches(rule, address)) return true;
      continue;
    }
    const auto it = resolved_.find(rule.host);
    if (it != resolved_.end() && std::find(it->second.begin(), it->second.end(), address) != it->second.end()) {
      return true;
    }
  }
  return false;
}

void SourceFilter::scheduleRefresh() {
  timer_.expires_after(refresh_);
  timer_.async_wait([this](const asio::error_code& error) {
    if (!error) resolveFrom(0);
  });
}

void SourceFilter::resolveFrom(std::size_t i) {
  // One name after the other, in the background; the old addresses hold
  // until a name has new ones, so a DNS hiccup locks nobody out.
  while (i < rules_.size() && rules_[i].kind != SourceRule::Kind::HostName) ++i;
  if (i >= rules_.size()) {
    scheduleRefresh();
    return;
  }
  resolver_.async_resolve(rules_[i].host, "",
                          [this, i](const asio::error_code& error, const asio::ip::tcp::resolver::results_type& results) {
                            if (error == asio::error::operation_aborted) return;
                            if (!error) {
                              std::vector<asio::ip::address> addresses;
                              for (const auto& entry : results) addresses.push_back(normalized(entry.endpoint().address()));
                              resolved_[rules_[i].host] = std::move(addresses);
                            }
                            resolveFrom(i + 1);
                          });
}

TrustedKeys::TrustedKeys(std::filesystem::path folder, Log log) : folder_(std::move(folder)), log_(std::move(log)) {
  reloadIfChanged();
}

bool TrustedKeys::required() {
  reloadIfChanged();
  return anyFile_;
}

const crypto::PublicKey* TrustedKeys::find(std::string_view rawKey) {
  reloadIfChanged();
  for (const auto& key : keys_) {
    if (rawKey.size() == key.bytes.size() && std::equal(key.bytes.begin(), key.bytes.end(), rawKey.begin(),
                                                        [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); })) {
      return &key;
    }
  }
  return nullptr;
}

void TrustedKeys::reloadIfChanged() {
  const auto now = std::chrono::steady_clock::now();
  if (checked_ != std::chrono::steady_clock::time_point{} && now - checked_ < std::chrono::seconds(2)) return;
  checked_ = now;
  std::vector<std::filesystem::path> files;
  std::string signature;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
    const auto name = entry.path().filename().string();
    // Editors' and package tools' leftovers are no keys.
    if (name.empty() || name.front() == '.' || name.back() == '~' || name.ends_with(".dpkg-old") ||
        name.ends_with(".dpkg-dist") || name.ends_with(".dpkg-new")) {
      continue;
    }
    std::error_code ignored;
    if (!entry.is_regular_file(ignored)) continue;
    files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    std::error_code ignored;
    signature += file.string() + "|" + std::to_string(std::filesystem::file_size(file, ignored)) + "|" +
                 std::to_string(std::filesystem::last_write_time(file, ignored).time_since_epoch().count()) + "\n";
  }
  if (error) {
    // A folder that vanished trusts nobody but still demands proofs.
    if (signature_ != "<unreadable>") log_("trusted-keys: " + folder_.string() + " cannot be read: " + error.message());
    signature_ = "<unreadable>";
    anyFile_ = true;
    keys_.clear();
    return;
  }
  if (signature == signature_) return;
  signature_ = signature;
  anyFile_ = !files.empty();
  keys_.clear();
  for (const auto& file : files) {
    const auto text = platform::readFile(file);
    std::string why = "cannot be read";
    const auto key = text ? crypto::parsePublicKey(*text, why) : std::nullopt;
    if (!key) {
      log_("trusted-keys: " + file.string() + " holds no public key (" + why + "); it trusts nobody");
      continue;
    }
    log_("trusted console: " + crypto::fingerprint(key->bytes) + " " + key->comment + " (" +
         file.filename().string() + ")");
    keys_.push_back(*key);
  }
}

}  // namespace saalwacht::service

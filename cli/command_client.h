#pragma once
// Sends one command to student services as the console does: one connection
// per command and host, the greeting first; with a key each command is proven
// against the service's challenge. For a screenshot the exchange of size
// text, "41" and "42". All hosts are served at once.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "crypto/signing.h"
#include "protocol/message.h"

namespace saalwacht::cli {

struct CommandRequest {
  protocol::CommandCode code = protocol::CommandCode::Reset;
  std::string text;  // Message: the text in UTF-8
  std::chrono::milliseconds connectTimeout{5000};
  std::chrono::milliseconds exchangeTimeout{30000};  // screenshot: whole exchange
  // A service that does not answer the greeting within this time is taken
  // to speak only the plain form.
  std::chrono::milliseconds greetingTimeout{2000};
  std::uint16_t port = protocol::kServicePort;
  std::optional<crypto::PrivateKey> key;  // proves the commands
  std::optional<std::string> source;      // the local address to connect from
};

struct HostResult {
  std::string host;
  bool ok = false;
  bool refused = false;  // the PC does not take this console's commands
  std::string error;     // one line, when !ok
  std::string picture;   // Screenshot: the JPEG bytes as received
};

// Runs the command against every host; the results are in the hosts' order.
std::vector<HostResult> sendToHosts(const std::vector<std::string>& hosts, const CommandRequest& request);

}  // namespace saalwacht::cli

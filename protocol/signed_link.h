#pragma once
// The proven form of the command link: a console that holds a key proves
// each command against a fresh challenge of the service. Pure code, no
// sockets. A service that has no trusted keys answers the greeting with
// "open" and then takes the plain commands as always; a service that was
// never told of this form ignores the greeting (its code is unknown to it).
//
//   console                      service
//   "501"  (greeting)      ->
//                          <-    "51" + 64 hex digits (challenge)   keys required
//                          <-    "52"                               open: plain commands
//   "53" + key + signature
//        + length + command ->
//                          <-    "55" carried out   |   "54" refused, then closed
//   after "55" for "40": size text, "41", picture, "42" as in the plain exchange
//
// The signature covers a fixed context text, the challenge and the command
// bytes, so a recorded exchange is worth nothing on a later connection.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/screenshot_exchange.h"

namespace saalwacht::protocol {

inline constexpr std::string_view kGreeting = "501";
inline constexpr std::string_view kOpenReply = "52";
inline constexpr std::string_view kRefusedReply = "54";
inline constexpr std::string_view kAcceptedReply = "55";
inline constexpr int kGreetingCode = 50;
inline constexpr int kSignedCode = 53;
inline constexpr std::size_t kChallengeBytes = 32;
inline constexpr std::size_t kKeyBytes = 32;
inline constexpr std::size_t kSignatureBytes = 64;
// "53", key, signature and the command's length, all in hex digits.
inline constexpr std::size_t kSignedHeaderBytes = 2 + 2 * kKeyBytes + 2 * kSignatureBytes + 8;

std::string toHex(std::string_view bytes);
std::optional<std::string> fromHex(std::string_view text);

// "51" and the challenge.
std::string encodeChallenge(std::string_view challenge);
inline constexpr std::size_t kChallengeReplyBytes = 2 + 2 * kChallengeBytes;

// What the console signs for `command` after `challenge`.
std::string signedData(std::string_view challenge, std::string_view command);

struct SignedCommand {
  std::string key;        // raw public key bytes
  std::string signature;  // raw signature bytes
  std::string command;    // the plain command bytes ("10", "30" + text, ...)
};

std::string encodeSignedCommand(const SignedCommand& command);

// Reads a signed command from the start of `bytes`.
struct SignedParse {
  enum class Status { NeedMore, Complete, Invalid } status = Status::NeedMore;
  SignedCommand command;
};
SignedParse parseSignedCommand(std::string_view bytes, std::size_t maxCommandBytes);

// The console's end of one connection for one command: feeds what arrives,
// says what to send. Works with a service of either kind, and with one that
// does not know the greeting (the caller's greeting time-out then sends the
// plain command).
class ClientLink {
 public:
  struct Signer {
    std::string publicKey;                               // raw bytes
    std::function<std::string(std::string_view)> sign;  // raw signature of the data
  };
  enum class Outcome {
    Pending,
    Delivered,     // the command was sent (plain) or carried out (proven)
    Refused,       // the service does not take this console's commands (its
                   // answer, or closed before any answer: source not allowed)
    KeyRequired,   // the service wants a proof and we have no key
    Failed,        // the service answered something that makes no sense
  };
  struct Step {
    std::string send;
    bool close = false;  // close once `send` is written
  };

  // `command`: the plain bytes of the command. Without a signer the link
  // greets all the same, so that a refusing service is told from a lost one.
  ClientLink(std::string command, std::optional<Signer> signer);

  Step start() const { return {std::string(kGreeting), false}; }
  Step onData(std::string_view bytes);
  // No answer to the greeting in time: a service that speaks only the plain form.
  Step onGreetingTimeout();
  // The service closed the connection.
  void onClosed();

  bool greeting() const { return phase_ == Phase::Greeting; }
  bool screenshot() const { return screenshot_; }
  Outcome outcome() const { return outcome_; }
  // Whether the service checked and took our proof ("55").
  bool proven() const { return proven_; }
  ScreenshotExchange& exchange() { return exchange_; }
  const ScreenshotExchange& exchange() const { return exchange_; }
  // Cancel a screenshot; before the exchange has begun this ends it quietly.
  void cancel() { exchange_.cancel(); }

 private:
  enum class Phase { Greeting, AwaitingVerdict, Exchange, Done };
  Step sendPlain();
  Step feedExchange(std::string_view bytes);
  Step end(Outcome outcome);

  std::string command_;
  std::optional<Signer> signer_;
  bool screenshot_;
  bool proven_ = false;
  Phase phase_ = Phase::Greeting;
  Outcome outcome_ = Outcome::Pending;
  std::string buffer_;
  ScreenshotExchange exchange_;
};

}  // namespace saalwacht::protocol

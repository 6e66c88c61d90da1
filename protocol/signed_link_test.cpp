#include <gtest/gtest.h>

#include "protocol/signed_link.h"

namespace saalwacht::protocol {
namespace {

// A stand-in signature: the data reversed, so that a test can tell which
// bytes were signed without any cryptography.
ClientLink::Signer fakeSigner() {
  return {std::string(kKeyBytes, 'K'), [](std::string_view data) {
            std::string s(data.rbegin(), data.rend());
            s.resize(kSignatureBytes, '.');
            return s;
          }};
}

std::string challenge() { return std::string(kChallengeBytes, '\x07'); }

TEST(SignedCommand, EncodesAndParsesWholeOrInPieces) {
  const SignedCommand command{std::string(kKeyBytes, '\x01'), std::string(kSignatureBytes, '\xfe'), "30Hallo\r\nWelt"};
  const std::string wire = encodeSignedCommand(command);
  ASSERT_EQ(wire.size(), kSignedHeaderBytes + command.command.size());
  for (std::size_t cut = 0; cut < wire.size(); ++cut) {
    EXPECT_EQ(parseSignedCommand(wire.substr(0, cut), 1000).status, SignedParse::Status::NeedMore) << cut;
  }
  const auto parsed = parseSignedCommand(wire, 1000);
  ASSERT_EQ(parsed.status, SignedParse::Status::Complete);
  EXPECT_EQ(parsed.command.key, command.key);
  EXPECT_EQ(parsed.command.signature, command.signature);
  EXPECT_EQ(parsed.command.command, command.command);
}

TEST(SignedCommand, JunkIsToldAtOnce) {
  const std::string good = encodeSignedCommand({std::string(kKeyBytes, 'a'), std::string(kSignatureBytes, 'b'), "10"});
  std::string badLength = good;
  badLength.replace(kSignedHeaderBytes - 8, 8, "7fffffff");
  std::string badHex = good;
  badHex[10] = 'x';
  const std::string cases[] = {"10", "54", "53zz", badHex, badLength,
                               good.substr(0, kSignedHeaderBytes - 8) + "00000001" + "1"};
  for (const auto& wire : cases) {
    EXPECT_EQ(parseSignedCommand(wire, 1000).status, SignedParse::Status::Invalid) << wire;
  }
  EXPECT_EQ(parseSignedCommand("", 1000).status, SignedParse::Status::NeedMore);
  EXPECT_EQ(parseSignedCommand("5", 1000).status, SignedParse::Status::NeedMore);
}

TEST(SignedData, BindsChallengeAndCommand) {
  EXPECT_NE(signedData(challenge(), "10"), signedData(challenge(), "00"));
  EXPECT_NE(signedData(challenge(), "10"), signedData(std::string(kChallengeBytes, '\x08'), "10"));
}

TEST(ClientLink, OpenServiceGetsThePlainCommand) {
  ClientLink link("10", fakeSigner());
  EXPECT_EQ(link.start().send, "501");
  const auto step = link.onData("52");
  EXPECT_EQ(step.send, "10");
  EXPECT_TRUE(step.close);
  EXPECT_EQ(link.outcome(), ClientLink::Outcome::Delivered);
  EXPECT_FALSE(link.proven());
}

TEST(ClientLink, ProvesAgainstTheChallengeAndWaitsForTheVerdict) {
  ClientLink link("30Hallo", fakeSigner());
  const std::string reply = encodeChallenge(challenge());
  // The challenge may come in pieces.
  EXPECT_EQ(link.onData(reply.substr(0, 5)).send, "");
  const auto step = link.onData(reply.substr(5));
  const auto parsed = parseSignedCommand(step.send, 1000);
  ASSERT_EQ(parsed.status, SignedParse::Status::Complete);
  EXPECT_EQ(parsed.command.command, "30Hallo");
  EXPECT_EQ(parsed.command.key, std::string(kKeyBytes, 'K'));
  const std::string data = signedData(challenge(), "30Hallo");
  EXPECT_EQ(parsed.command.signature.substr(0, 10), std::string(data.rbegin(), data.rbegin() + 10));
  EXPECT_FALSE(step.close);
  EXPECT_EQ(link.outcome(), ClientLink::Outcome::Pending);
  EXPECT_TRUE(link.onData("55").close);
  EXPECT_EQ(link.outcome(), ClientLink::Outcome::Delivered);
  EXPECT_TRUE(link.proven());
}

TEST(ClientLink, Verdicts) {
  const struct {
    const char* name;
    bool withKey;
    std::vector<std::string> answers;
    ClientLink::Outcome outcome;
  } cases[] = {
      {"refused after the proof", true, {encodeChallenge(challenge()), "54"}, ClientLink::Outcome::Refused},
      {"refused at the greeting", true, {"54"}, ClientLink::Outcome::Refused},
      {"no key for a service that wants one", false, {encodeChallenge(challenge())}, ClientLink::Outcome::KeyRequired},
      {"junk instead of a challenge", true, {"51zz" + std::string(62, '0')}, ClientLink::Outcome::Failed},
      {"junk greeting answer", true, {"99"}, ClientLink::Outcome::Failed},
      {"junk verdict", true, {encodeChallenge(challenge()), "42"}, ClientLink::Outcome::Failed},
  };
  for (const auto& c : cases) {
    ClientLink link("10", c.withKey ? std::optional(fakeSigner()) : std::nullopt);
    ClientLink::Step step;
    for (const auto& answer : c.answers) step = link.onData(answer);
    EXPECT_EQ(link.outcome(), c.outcome) << c.name;
    EXPECT_TRUE(step.close) << c.name;
  }
}

TEST(ClientLink, ClosedBeforeAnyAnswerIsARefusalLaterAFailure) {
  ClientLink turnedAway("10", fakeSigner());
  turnedAway.onClosed();
  EXPECT_EQ(turnedAway.outcome(), ClientLink::Outcome::Refused);

  ClientLink dropped("10", fakeSigner());
  dropped.onData(encodeChallenge(challenge()));
  dropped.onClosed();
  EXPECT_EQ(dropped.outcome(), ClientLink::Outcome::Failed);
}

TEST(ClientLink, ServiceThatIgnoresTheGreetingGetsThePlainCommandAfterTheTimeOut) {
  ClientLink link("00", fakeSigner());
  const auto step = link.onGreetingTimeout();
  EXPECT_EQ(step.send, "00");
  EXPECT_TRUE(step.close);
  // Nothing more once it has been sent.
  EXPECT_EQ(link.onGreetingTimeout().send, "");
}

TEST(ClientLink, ProvenScreenshotRunsTheExchangeAlsoWhenTheAnswersArriveTogether) {
  ClientLink link("40", fakeSigner());
  ASSERT_TRUE(link.screenshot());
  link.onData(encodeChallenge(challenge()));
  // The verdict and the size text in one read.
  auto step = link.onData("555");
  EXPECT_EQ(step.send, "41");
  step = link.onData("abcde");
  EXPECT_EQ(step.send, "42");
  EXPECT_TRUE(step.close);
  EXPECT_EQ(link.exchange().state(), ScreenshotExchange::State::Received);
  EXPECT_EQ(link.exchange().picture(), "abcde");
  EXPECT_EQ(link.outcome(), ClientLink::Outcome::Delivered);
}

TEST(ClientLink, ScreenshotFromAnOpenServiceAndJunkSize) {
  ClientLink open("40", std::nullopt);
  EXPECT_EQ(open.onData("52").send, "40");
  EXPECT_EQ(open.onData("3").send, "41");
  EXPECT_EQ(open.onData("xyz").send, "42");
  EXPECT_EQ(open.exchange().picture(), "xyz");

  ClientLink junk("40", std::nullopt);
  junk.onData("52");
  const auto step = junk.onData("zwölf");
  EXPECT_EQ(step.send, "42");
  EXPECT_EQ(junk.outcome(), ClientLink::Outcome::Failed);
}

}  // namespace
}  // namespace saalwacht::protocol

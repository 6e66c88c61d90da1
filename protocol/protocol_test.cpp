#include <gtest/gtest.h>

#include "protocol/cp1252.h"
#include "protocol/message.h"
#include "protocol/screenshot_exchange.h"

namespace saalwacht::protocol {
namespace {

struct ParseCase {
  std::string wire;
  std::optional<Command> expected;
};

TEST(ParseCommand, TableOfMessages) {
  using C = CommandCode;
  const std::vector<ParseCase> cases = {
      {"00", Command{C::Reset, ""}},
      {"0", Command{C::Reset, ""}},
      {"00xyz", Command{C::Reset, ""}},
      {"10", Command{C::Blank, ""}},
      {"10 trailing", Command{C::Blank, ""}},
      {"20", Command{C::Shutdown, ""}},
      {"30", Command{C::Message, ""}},
      {"30Hallo", Command{C::Message, "Hallo"}},
      {"30\"quoted\"\r\nline two", Command{C::Message, "\"quoted\"\r\nline two"}},
      {std::string("30a\0b", 5), Command{C::Message, std::string("a\0b", 3)}},
      {"40", Command{C::ScreenshotRequest, ""}},
      {"41", Command{C::SendPicture, ""}},
      {"4242", Command{C::EndScreenshot, ""}},
      {"1", std::nullopt},
      {"4", std::nullopt},
      {"05", std::nullopt},
      {"11", std::nullopt},
      {"43", std::nullopt},
      {"99", std::nullopt},
      {"", std::nullopt},
      {"ab", std::nullopt},
      {"-1", std::nullopt},
      {" 0", std::nullopt},
      {"\xff\xfe", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parseCommand(c.wire), c.expected) << "wire: \"" << c.wire << "\"";
  }
}

TEST(ParseCommand, LongMessageKeepsWholePayload) {
  const std::string text(100000, 'x');
  const auto command = parseCommand("30" + text);
  ASSERT_TRUE(command);
  EXPECT_EQ(command->payload, text);
}

TEST(EncodeCommand, CodesAndPayload) {
  EXPECT_EQ(encodeCommand(CommandCode::Reset), "00");
  EXPECT_EQ(encodeCommand(CommandCode::Blank, "ignored"), "10");
  EXPECT_EQ(encodeCommand(CommandCode::Shutdown), "20");
  EXPECT_EQ(encodeCommand(CommandCode::Message, "Hi"), "30Hi");
  EXPECT_EQ(encodeCommand(CommandCode::ScreenshotRequest), "40");
  EXPECT_EQ(encodeCommand(CommandCode::SendPicture), "41");
  EXPECT_EQ(encodeCommand(CommandCode::EndScreenshot), "42");
}

TEST(SizeText, EncodeAndParse) {
  EXPECT_EQ(encodeSizeText(0), "0");
  EXPECT_EQ(encodeSizeText(123456), "123456");
  EXPECT_EQ(parseSizeText("123456"), 123456);
  EXPECT_EQ(parseSizeText("2147483647"), 2147483647);
  for (const char* bad : {"", "2147483648", "-5", "+5", "12a", " 12", "1.5"}) {
    EXPECT_EQ(parseSizeText(bad), std::nullopt) << bad;
  }
}

TEST(Cp1252, RoundTripAndReplacement) {
  struct Case {
    std::string utf8;
    std::string cp1252;
  };
  const std::vector<Case> cases = {
      {"Hallo", "Hallo"},
      {"Grüße äÖß", "Gr\xfc\xdf" "e \xe4\xd6\xdf"},
      {"5 € – „Zitat“", "5 \x80 \x96 \x84Zitat\x93"},
      {"line\r\nbreak \"q\"", "line\r\nbreak \"q\""},
      {"\xc2\x81", "\x81"},  // undefined byte maps to its C1 control
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf8ToCp1252(c.utf8), c.cp1252) << c.utf8;
    EXPECT_EQ(cp1252ToUtf8(c.cp1252), c.utf8) << c.utf8;
  }
  // Characters outside the code page and broken UTF-8 become '?'.
  EXPECT_EQ(utf8ToCp1252("日本"), "??");
  EXPECT_EQ(utf8ToCp1252("a\xc3"), "a?");
  EXPECT_EQ(utf8ToCp1252("\xed\xa0\x80x"), "?x");  // surrogate
  EXPECT_EQ(utf8ToCp1252("\xc0\xafz"), "?z");      // overlong
}

TEST(Cp1252, EveryByteSurvivesTheRoundTrip) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(utf8ToCp1252(cp1252ToUtf8(all)), all);
}

TEST(Cp1252, TruncateKeepsCharactersWhole) {
  EXPECT_EQ(truncateUtf8("abc", 5), "abc");
  EXPECT_EQ(truncateUtf8("aä", 2), "a");  // ä is two bytes
  EXPECT_EQ(truncateUtf8("a€b", 3), "a");
  EXPECT_EQ(truncateUtf8("a€b", 4), "a€");
}

TEST(ScreenshotExchange, FullExchangeAcrossSeveralReads) {
  ScreenshotExchange exchange;
  auto step = exchange.onData("10");
  EXPECT_EQ(step.reply, "41");
  EXPECT_FALSE(step.close);
  EXPECT_EQ(exchange.state(), ScreenshotExchange::State::ReceivingPicture);
  EXPECT_EQ(exchange.onData("\xff\xd8\xff").reply, "");
  EXPECT_EQ(exchange.onData("abcd").reply, "");
  step = exchange.onData("efghij");  // one byte more than announced
  EXPECT_EQ(step.reply, "42");
  EXPECT_TRUE(step.close);
  EXPECT_EQ(exchange.state(), ScreenshotExchange::State::Received);
  EXPECT_EQ(exchange.picture(), "\xff\xd8\xff" "abcdefg");
  EXPECT_EQ(exchange.onData("late").reply, "");
}

TEST(ScreenshotExchange, CancelAndFailure) {
  {
    ScreenshotExchange exchange;  // cancelled before the size text
    exchange.cancel();
    const auto step = exchange.onData("500");
    EXPECT_EQ(step.reply, "42");
    EXPECT_TRUE(step.close);
    EXPECT_EQ(exchange.state(), ScreenshotExchange::State::Cancelled);
  }
  {
    ScreenshotExchange exchange;  // cancelled while bytes arrive
    exchange.onData("500");
    exchange.onData("abc");
    exchange.cancel();
    EXPECT_EQ(exchange.onData("def").reply, "42");
    EXPECT_EQ(exchange.state(), ScreenshotExchange::State::Cancelled);
  }
  // A size no screen needs would make the console reserve gigabytes.
  for (const char* bad : {"junk", "0", "-3", "67108865", "2147483647"}) {
    ScreenshotExchange exchange;
    const auto step = exchange.onData(bad);
    EXPECT_EQ(step.reply, "42") << bad;
    EXPECT_EQ(exchange.state(), ScreenshotExchange::State::Failed) << bad;
  }
}

}  // namespace
}  // namespace saalwacht::protocol

#include <gtest/gtest.h>

#include <fstream>

#include "platform/system.h"
#include "service/settings.h"
#include "temp_dir.h"

namespace saalwacht::service {
namespace {

namespace fs = std::filesystem;

// A full path on every platform.
fs::path absolute(const char* name) { return fs::temp_directory_path() / name; }

TEST(ServiceSettings, ReadsAllowAndTrustedKeys) {
  const auto settings = parseServiceSettings(
      "# who may command this PC\n"
      "allow = 10.1.0.0/16, lehrer-pc   2001:db8::7\n"
      "\n"
      "allow=192.168.5.20 # the second teacher PC\r\n"
      "trusted-keys = " + absolute("trusted-keys").string() + "\n",
      "kursdienst.conf");
  ASSERT_TRUE(settings.allow);
  ASSERT_EQ(settings.allow->size(), 4u);
  EXPECT_EQ((*settings.allow)[0].kind, SourceRule::Kind::Network);
  EXPECT_EQ((*settings.allow)[1].kind, SourceRule::Kind::HostName);
  EXPECT_EQ((*settings.allow)[1].host, "lehrer-pc");
  EXPECT_EQ((*settings.allow)[2].kind, SourceRule::Kind::Address);
  EXPECT_EQ((*settings.allow)[3].text, "192.168.5.20");
  EXPECT_EQ(settings.trustedKeys, absolute("trusted-keys"));

  const auto empty = parseServiceSettings("# allow = 10.0.0.0/8\n  \n", "kursdienst.conf");
  EXPECT_FALSE(empty.allow);
  EXPECT_FALSE(empty.trustedKeys);
}

TEST(ServiceSettings, FaultsNameFileLineAndKey) {
  const std::string twice =
      "trusted-keys = " + absolute("a").string() + "\ntrusted-keys = " + absolute("b").string();
  const struct {
    std::string text;
    const char* expected;
  } cases[] = {
      {"alow = 10.0.0.1", "kursdienst.conf, line 1, key \"alow\": unknown key"},
      {"\n\nallow = 10.0.0.300", "line 3, key \"allow\": \"10.0.0.300\" is no address"},
      {"allow = 10.0.0.0/33", "\"10.0.0.0/33\" is no address"},
      {"allow = fe80::/129", "is no address"},
      {"allow = 10.0.0.0/", "is no address"},
      {"allow = lehrer_pc", "is no address"},
      {"allow = ,", "needs at least one"},
      {"allow 10.0.0.1", "line 1: expected \"key = value\""},
      {"trusted-keys = keys", "needs the full path"},
      {twice, "line 2, key \"trusted-keys\": is given twice (first in line 1)"},
  };
  for (const auto& c : cases) {
    try {
      parseServiceSettings(c.text, "kursdienst.conf");
      ADD_FAILURE() << c.text << " was taken";
    } catch (const SettingsError& e) {
      EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << c.text << " -> " << e.what();
    }
  }
}

TEST(ServiceSettings, SourceRulesMatch) {
  const struct {
    const char* rule;
    const char* peer;
    bool match;
  } cases[] = {
      {"10.1.2.3", "10.1.2.3", true},         {"10.1.2.3", "10.1.2.4", false},
      {"10.1.0.0/16", "10.1.255.7", true},    {"10.1.0.0/16", "10.2.0.1", false},
      {"10.1.2.3/24", "10.1.2.200", true},    {"0.0.0.0/0", "192.0.2.1", true},
      {"10.1.2.128/25", "10.1.2.127", false}, {"10.1.2.3", "::ffff:10.1.2.3", true},
      {"2001:db8::/32", "2001:db8:1::5", true}, {"2001:db8::/32", "2001:db9::5", false},
      {"2001:db8::1", "10.1.2.3", false},     {"127.0.0.1", "127.0.0.2", false},
  };
  for (const auto& c : cases) {
    const auto rule = parseSourceRule(c.rule);
    ASSERT_TRUE(rule) << c.rule;
    EXPECT_EQ(matches(*rule, asio::ip::make_address(c.peer)), c.match) << c.rule << " / " << c.peer;
  }
}

TEST(ServiceSettings, LoadingChecksTheFileAndTheKeyFolder) {
  saalwacht::testing::TempDir dir;
  // No file: open, as always.
  const auto open = loadServiceSettings(dir.path() / "missing.conf");
  EXPECT_FALSE(open.allow);
  EXPECT_FALSE(open.trustedKeys);

  const auto conf = dir.path() / "kursdienst.conf";
  auto load = [&](const std::string& text) {
    std::ofstream(conf) << text;
    return loadServiceSettings(conf);
  };
  EXPECT_THROW(load("trusted-keys = " + (dir.path() / "nowhere").string()), SettingsError);
  fs::create_directory(dir.path() / "keys");
  fs::permissions(dir.path() / "keys", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                           fs::perms::others_read | fs::perms::others_exec);
  EXPECT_TRUE(load("trusted-keys = " + (dir.path() / "keys").string()).trustedKeys);
  // A folder others may write to would let them add a key of their own.
  fs::permissions(dir.path() / "keys", fs::perms::others_write, fs::perm_options::add);
  if (!platform::writableByOthers(dir.path() / "keys")) GTEST_SKIP() << "the platform cannot tell who may write";
  try {
    load("trusted-keys = " + (dir.path() / "keys").string());
    ADD_FAILURE() << "a folder others may write to was taken";
  } catch (const SettingsError& e) {
    EXPECT_NE(std::string(e.what()).find("others than its owner may write"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace saalwacht::service

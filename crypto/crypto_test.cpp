#include <gtest/gtest.h>

#include <filesystem>

#include "crypto/signing.h"
#include "platform/system.h"
#include "temp_dir.h"

using namespace saalwacht;
using crypto::PrivateKey;

TEST(Signing, SignaturesHoldOnlyForTheirKeyAndData) {
  const auto key = PrivateKey::generate("lehrer");
  const auto other = PrivateKey::generate("schueler");
  // Many signatures, so that values with leading zero bytes occur.
  for (int i = 0; i < 200; ++i) {
    const std::string data = "command " + std::to_string(i);
    const std::string signature = key.sign(data);
    ASSERT_EQ(signature.size(), crypto::kSignatureBytes);
    EXPECT_TRUE(crypto::verify(key.publicKey().bytes, data, signature)) << i;
    EXPECT_FALSE(crypto::verify(other.publicKey().bytes, data, signature)) << i;
    EXPECT_FALSE(crypto::verify(key.publicKey().bytes, data + "x", signature)) << i;
    std::string flipped = signature;
    flipped[static_cast<std::size_t>(i) % flipped.size()] ^= 1;
    EXPECT_FALSE(crypto::verify(key.publicKey().bytes, data, flipped)) << i;
  }
  EXPECT_FALSE(crypto::verify(key.publicKey().bytes, "x", ""));
  EXPECT_FALSE(crypto::verify(key.publicKey().bytes, "x", std::string(64, '\0')));
}

TEST(Signing, RandomBytesDifferEachTime) {
  EXPECT_EQ(crypto::randomBytes(32).size(), 32u);
  EXPECT_NE(crypto::randomBytes(32), crypto::randomBytes(32));
}

TEST(KeyFiles, PublicKeyLineRoundTripsAndBadLinesSayWhy) {
  const auto key = PrivateKey::generate("lehrer@raum-101");
  const std::string line = crypto::formatPublicKey(key.publicKey());
  EXPECT_EQ(line.find('\n'), line.size() - 1);  // one line
  EXPECT_EQ(line.rfind("saalwacht-ed25519 ", 0), 0u);
  std::string error;
  const auto parsed = crypto::parsePublicKey("# the teacher PC\n\n  " + line, error);
  ASSERT_TRUE(parsed) << error;
  EXPECT_EQ(parsed->bytes, key.publicKey().bytes);
  EXPECT_EQ(parsed->comment, "lehrer@raum-101");

  const struct {
    std::string text;
    std::string reason;
  } bad[] = {
      {"", "no key line"},
      {"ssh-ed25519 AAAA x", "does not start with"},
      {"saalwacht-ed25519 !!!!", "32 bytes"},
      {"saalwacht-ed25519 " + crypto::toBase64(std::string(31, 'a')), "32 bytes"},
      {crypto::formatPrivateKey(key), "private key"},
  };
  for (const auto& c : bad) {
    error.clear();
    EXPECT_FALSE(crypto::parsePublicKey(c.text, error)) << c.text;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << " -> " << error;
  }
}

TEST(KeyFiles, FingerprintIsShortStableAndKeySpecific) {
  const auto a = PrivateKey::generate("a");
  const auto b = PrivateKey::generate("b");
  const std::string f = crypto::fingerprint(a.publicKey().bytes);
  EXPECT_EQ(f.size(), 19u);
  EXPECT_EQ(f[4], '-');
  EXPECT_EQ(f, crypto::fingerprint(a.publicKey().bytes));
  EXPECT_NE(f, crypto::fingerprint(b.publicKey().bytes));
}

TEST(KeyFiles, PrivateKeyFileIsOwnerOnlyAndLoadsBack) {
  saalwacht::testing::TempDir dir;
  const auto file = dir.path() / "console.key";
  const auto key = PrivateKey::generate("lehrer");
  ASSERT_FALSE(crypto::savePrivateKey(file, key));
  EXPECT_FALSE(platform::readableByOthers(file));
  std::string error;
  const auto loaded = crypto::loadPrivateKey(file, error);
  ASSERT_TRUE(loaded) << error;
  EXPECT_EQ(loaded->publicKey().bytes, key.publicKey().bytes);
  EXPECT_TRUE(crypto::verify(key.publicKey().bytes, "x", loaded->sign("x")));
  // The .pub file beside it is the public key line.
  const auto pub = platform::readFile(file.string() + ".pub");
  ASSERT_TRUE(pub);
  EXPECT_EQ(*pub, crypto::formatPublicKey(key.publicKey()));

  // A key that others may read is refused, so a leak is noticed.
  std::filesystem::permissions(file, std::filesystem::perms::group_read, std::filesystem::perm_options::add);
  if (!platform::readableByOthers(file)) GTEST_SKIP() << "the platform cannot tell who may read a file";
  EXPECT_FALSE(crypto::loadPrivateKey(file, error));
  EXPECT_NE(error.find("chmod 600"), std::string::npos) << error;
}

TEST(KeyFiles, DamagedOrMismatchedPrivateKeysAreRefused) {
  const auto a = PrivateKey::generate("a");
  const auto b = PrivateKey::generate("b");
  std::string error;
  // The seed of one key with the public key of another.
  const std::string mixed = "saalwacht-ed25519-private " + crypto::toBase64(a.seed()) + " " +
                            crypto::toBase64(std::string(reinterpret_cast<const char*>(b.publicKey().bytes.data()), 32));
  EXPECT_FALSE(crypto::parsePrivateKey(mixed, error));
  EXPECT_NE(error.find("do not belong together"), std::string::npos);
  EXPECT_FALSE(crypto::parsePrivateKey("saalwacht-ed25519-private abc", error));
  EXPECT_FALSE(crypto::parsePrivateKey(crypto::formatPublicKey(a.publicKey()), error));
}

TEST(Base64, KnownVectorsAndJunk) {
  const struct {
    std::string raw, encoded;
  } cases[] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}};
  for (const auto& c : cases) {
    EXPECT_EQ(crypto::toBase64(c.raw), c.encoded);
    EXPECT_EQ(crypto::fromBase64(c.encoded), c.raw);
  }
  for (const char* junk : {"Zg=", "Z===", "Zm9v!A==", "=Zm9"}) EXPECT_FALSE(crypto::fromBase64(junk)) << junk;
}

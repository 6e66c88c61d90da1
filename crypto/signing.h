#pragma once
// Public-key signatures for the command link (Ed25519 through libgcrypt).
// The console holds a private key and signs; student PCs hold only public
// keys and check. Every function may be called from any thread once
// initialize() has run (it runs by itself on first use).

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace saalwacht::crypto {

inline constexpr std::size_t kPublicKeyBytes = 32;
inline constexpr std::size_t kSignatureBytes = 64;
using PublicKeyBytes = std::array<std::uint8_t, kPublicKeyBytes>;

// Sets libgcrypt up once per process; safe to call many times.
void initialize();

// `n` bytes from the system's cryptographic random generator.
std::string randomBytes(std::size_t n);

struct PublicKey {
  PublicKeyBytes bytes{};
  std::string comment;  // who it is, for the admin; not checked
};

// Checks an Ed25519 signature of `data`. False for any fault, never throws.
bool verify(const PublicKeyBytes& key, std::string_view data, std::string_view signature);

// A private key. The seed is kept in memory only as long as the object lives.
class PrivateKey {
 public:
  // A new random key pair.
  static PrivateKey generate(std::string comment);

  // Builds a key from its 32-byte seed and public key; nothing when the two
  // do not belong together.
  static std::optional<PrivateKey> fromParts(std::string_view seed, const PublicKeyBytes& publicKey,
                                             std::string comment);

  PrivateKey(const PrivateKey&) = default;
  PrivateKey& operator=(const PrivateKey&) = default;
  ~PrivateKey();

  // The 64-byte signature of `data`.
  std::string sign(std::string_view data) const;
  const PublicKey& publicKey() const { return public_; }
  std::string_view seed() const { return seed_; }

 private:
  PrivateKey() = default;
  std::string seed_;
  PublicKey public_;
};

// ---- key files ----
// A public key file is one line an admin can paste or mail:
//   saalwacht-ed25519 BASE64KEY comment
// A private key file holds the same with the seed added and must stay on the
// teacher PC (mode 0600).

std::string formatPublicKey(const PublicKey& key);

// Reads the first key line of a public key file's text (blank lines and lines
// starting with '#' are skipped). On failure `error` says why.
std::optional<PublicKey> parsePublicKey(std::string_view text, std::string& error);

// The short fingerprint shown wherever a key is shown: the first 8 bytes of
// the key's SHA-256 digest in four groups, e.g. "3F2A-91C0-7B1E-55D2".
std::string fingerprint(const PublicKeyBytes& key);

std::string formatPrivateKey(const PrivateKey& key);
std::optional<PrivateKey> parsePrivateKey(std::string_view text, std::string& error);

// Reads a private key file. Refuses (with `error`) a file that others than its
// owner may read, where the platform can tell.
std::optional<PrivateKey> loadPrivateKey(const std::filesystem::path& file, std::string& error);

// Writes the private key to `file` (readable by the owner only) and its
// public key to `file` + ".pub". Returns an error text, or nothing.
std::optional<std::string> savePrivateKey(const std::filesystem::path& file, const PrivateKey& key);

// Writes a public key file.
std::optional<std::string> savePublicKey(const std::filesystem::path& file, const PublicKey& key);

// Base64 (RFC 4648, with padding).
std::string toBase64(std::string_view bytes);
std::optional<std::string> fromBase64(std::string_view text);

}  // namespace saalwacht::crypto

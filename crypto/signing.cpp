#include "crypto/signing.h"

#include <gcrypt.h>

#include <mutex>
#include <stdexcept>

#include "platform/system.h"

namespace saalwacht::crypto {

namespace {

constexpr std::string_view kPublicTag = "saalwacht-ed25519";
constexpr std::string_view kPrivateTag = "saalwacht-ed25519-private";

// Owns one S-expression.
struct Sexp {
  gcry_sexp_t value = nullptr;
  Sexp() = default;
  explicit Sexp(gcry_sexp_t v) : value(v) {}
  Sexp(const Sexp&) = delete;
  Sexp& operator=(const Sexp&) = delete;
  ~Sexp() { gcry_sexp_release(value); }
  // The data of the first sub-list named `token`, or empty.
  std::string token(const char* name) const {
    Sexp found(gcry_sexp_find_token(value, name, 0));
    if (!found.value) return {};
    std::size_t n = 0;
    const char* data = gcry_sexp_nth_data(found.value, 1, &n);
    return data ? std::string(data, n) : std::string();
  }
};

// EdDSA values are little-endian byte strings of fixed width; a value that
// came back shorter lost leading zero bytes on the way.
std::string fixedWidth(std::string value, std::size_t width) {
  if (value.size() < width) value.insert(0, width - value.size(), '\0');
  return value;
}

std::string_view asChars(const PublicKeyBytes& key) {
  return {reinterpret_cast<const char*>(key.data()), key.size()};
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// The first line that is neither blank nor a comment, split into its tag,
// its first field and the rest (the comment).
struct KeyLine {
  std::string_view tag, field, comment;
};
std::optional<KeyLine> firstKeyLine(std::string_view text) {
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == '#') continue;
    KeyLine parts;
    const auto blank = line.find_first_of(" \t");
    parts.tag = line.substr(0, blank);
    line = blank == std::string_view::npos ? std::string_view() : trim(line.substr(blank));
    const auto next = line.find_first_of(" \t");
    parts.field = line.substr(0, next);
    parts.comment = next == std::string_view::npos ? std::string_view() : trim(line.substr(next));
    return parts;
  }
  return std::nullopt;
}

std::optional<PublicKeyBytes> keyBytes(std::string_view base64, std::string& error) {
  const auto raw = fromBase64(base64);
  if (!raw || raw->size() != kPublicKeyBytes) {
    error = "the key is not 32 bytes of base64";
    return std::nullopt;
  }
  PublicKeyBytes bytes{};
  std::copy(raw->begin(), raw->end(), reinterpret_cast<char*>(bytes.data()));
  return bytes;
}

}  // namespace

void initialize() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (!gcry_check_version(GCRYPT_VERSION)) throw std::runtime_error("libgcrypt is older than the program needs");
    // Keys live in ordinary memory (no locked pool: it needs privileges and
    // would print warnings for every user).
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  });
}

std::string randomBytes(std::size_t n) {
  initialize();
  std::string bytes(n, '\0');
  gcry_randomize(bytes.data(), n, GCRY_STRONG_RANDOM);
  return bytes;
}

bool verify(const PublicKeyBytes& key, std::string_view data, std::string_view signature) {
  if (signature.size() != kSignatureBytes) return false;
  initialize();
  gcry_sexp_t raw = nullptr;
  if (gcry_sexp_build(&raw, nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                      static_cast<int>(key.size()), key.data()) != 0) {
    return false;
  }
  Sexp publicKey(raw);
  raw = nullptr;
  if (gcry_sexp_build(&raw, nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32, signature.data(), 32,
                      signature.data() + 32) != 0) {
    return false;
  }
  Sexp sig(raw);
  raw = nullptr;
  if (gcry_sexp_build(&raw, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                      static_cast<int>(data.size()), data.data()) != 0) {
    return false;
  }
  Sexp message(raw);
  return gcry_pk_verify(sig.value, message.value, publicKey.value) == 0;
}

PrivateKey PrivateKey::generate(std::string comment) {
  initialize();
  gcry_sexp_t raw = nullptr;
  if (gcry_sexp_build(&raw, nullptr, "(genkey (ecc (curve Ed25519) (flags eddsa)))") != 0) {
    throw std::runtime_error("cannot describe an Ed25519 key");
  }
  Sexp parameters(raw);
  raw = nullptr;
  if (gcry_pk_genkey(&raw, parameters.value) != 0) throw std::runtime_error("cannot make an Ed25519 key pair");
  Sexp pair(raw);
  Sexp privatePart(gcry_sexp_find_token(pair.value, "private-key", 0));
  std::string q = privatePart.token("q");
  if (q.size() == kPublicKeyBytes + 1 && static_cast<unsigned char>(q[0]) == 0x40) q.erase(0, 1);
  const std::string d = fixedWidth(privatePart.token("d"), 32);
  if (q.size() != kPublicKeyBytes) throw std::runtime_error("libgcrypt returned an unexpected key");
  PrivateKey key;
  key.seed_ = d;
  std::copy(q.begin(), q.end(), reinterpret_cast<char*>(key.public_.bytes.data()));
  key.public_.comment = std::move(comment);
  return key;
}

std::optional<PrivateKey> PrivateKey::fromParts(std::string_view seed, const PublicKeyBytes& publicKey,
                                                std::string comment) {
  if (seed.size() != 32) return std::nullopt;
  PrivateKey key;
  key.seed_ = std::string(seed);
  key.public_.bytes = publicKey;
  key.public_.comment = std::move(comment);
  // A seed that does not make this public key would sign unusable commands.
  const std::string probe = randomBytes(16);
  std::string signature;
  try {
    signature = key.sign(probe);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  if (!verify(publicKey, probe, signature)) return std::nullopt;
  return key;
}

PrivateKey::~PrivateKey() {
  // Leaves no copy of the seed in freed memory.
  volatile char* p = seed_.data();
  for (std::size_t i = 0; i < seed_.size(); ++i) p[i] = 0;
}

std::string PrivateKey::sign(std::string_view data) const {
  initialize();
  gcry_sexp_t raw = nullptr;
  if (gcry_sexp_build(&raw, nullptr, "(private-key (ecc (curve Ed25519) (flags eddsa) (q %b) (d %b)))",
                      static_cast<int>(kPublicKeyBytes), public_.bytes.data(), static_cast<int>(seed_.size()),
                      seed_.data()) != 0) {
    throw std::runtime_error("cannot load the private key");
  }
  Sexp key(raw);
  raw = nullptr;
  if (gcry_sexp_build(&raw, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                      static_cast<int>(data.size()), data.data()) != 0) {
    throw std::runtime_error("cannot describe the data to sign");
  }
  Sexp message(raw);
  raw = nullptr;
  if (gcry_pk_sign(&raw, message.value, key.value) != 0) throw std::runtime_error("signing failed");
  Sexp signature(raw);
  return fixedWidth(signature.token("r"), 32) + fixedWidth(signature.token("s"), 32);
}

std::string formatPublicKey(const PublicKey& key) {
  std::string line = std::string(kPublicTag) + " " + toBase64(asChars(key.bytes));
  if (!key.comment.empty()) line += " " + key.comment;
  return line + "\n";
}

std::optional<PublicKey> parsePublicKey(std::string_view text, std::string& error) {
  const auto line = firstKeyLine(text);
  if (!line) {
    error = "no key line";
    return std::nullopt;
  }
  if (line->tag != kPublicTag) {
    error = line->tag == kPrivateTag ? "this is a private key, not a public key"
                                     : "the line does not start with " + std::string(kPublicTag);
    return std::nullopt;
  }
  const auto bytes = keyBytes(line->field, error);
  if (!bytes) return std::nullopt;
  return PublicKey{*bytes, std::string(line->comment)};
}

std::string fingerprint(const PublicKeyBytes& key) {
  initialize();
  unsigned char digest[32];
  gcry_md_hash_buffer(GCRY_MD_SHA256, digest, key.data(), key.size());
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (int i = 0; i < 8; ++i) {
    if (i > 0 && i % 2 == 0) text += '-';
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 15];
  }
  return text;
}

std::string formatPrivateKey(const PrivateKey& key) {
  std::string text =
      "# Saalwacht console key: keep this file on the teacher PC, readable only by its owner.\n" +
      std::string(kPrivateTag) + " " + toBase64(key.seed()) + " " + toBase64(asChars(key.publicKey().bytes));
  if (!key.publicKey().comment.empty()) text += " " + key.publicKey().comment;
  return text + "\n";
}

std::optional<PrivateKey> parsePrivateKey(std::string_view text, std::string& error) {
  const auto line = firstKeyLine(text);
  if (!line || line->tag != kPrivateTag) {
    error = "no line starting with " + std::string(kPrivateTag);
    return std::nullopt;
  }
  const auto seed = fromBase64(line->field);
  const auto rest = line->comment;
  const auto blank = rest.find_first_of(" \t");
  const auto publicBytes = keyBytes(rest.substr(0, blank), error);
  if (!seed || seed->size() != 32 || !publicBytes) {
    error = "the key data is damaged";
    return std::nullopt;
  }
  const std::string comment(blank == std::string_view::npos ? std::string_view() : trim(rest.substr(blank)));
  auto key = PrivateKey::fromParts(*seed, *publicBytes, comment);
  if (!key) error = "the private and the public key do not belong together";
  return key;
}

std::optional<PrivateKey> loadPrivateKey(const std::filesystem::path& file, std::string& error) {
  const auto text = platform::readFile(file);
  if (!text) {
    error = file.string() + ": cannot be read";
    return std::nullopt;
  }
  if (platform::readableByOthers(file)) {
    error = file.string() + ": others than its owner may read it (chmod 600 " + file.string() + ")";
    return std::nullopt;
  }
  std::string why;
  auto key = parsePrivateKey(*text, why);
  if (!key) error = file.string() + ": " + why;
  return key;
}

std::optional<std::string> savePrivateKey(const std::filesystem::path& file, const PrivateKey& key) {
  if (auto error = platform::replacePrivateFile(file, formatPrivateKey(key))) return error;
  return savePublicKey(file.string() + ".pub", key.publicKey());
}

std::optional<std::string> savePublicKey(const std::filesystem::path& file, const PublicKey& key) {
  return platform::replaceFile(file, formatPublicKey(key));
}

std::string toBase64(std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (const std::size_t left = bytes.size() - i; left > 0) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (left == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += left == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::optional<std::string> fromBase64(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const int pad = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
    if (pad == 1 && text[i + 2] == '=') return std::nullopt;
    unsigned v = 0;
    for (int k = 0; k < 4 - pad; ++k) {
      const int d = value(text[i + k]);
      if (d < 0) return std::nullopt;
      v = (v << 6) | static_cast<unsigned>(d);
    }
    v <<= 6 * pad;
    out += static_cast<char>(v >> 16);
    if (pad < 2) out += static_cast<char>((v >> 8) & 255);
    if (pad < 1) out += static_cast<char>(v & 255);
  }
  return out;
}

}  // namespace saalwacht::crypto

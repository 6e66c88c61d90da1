#include "console/core/picture_store.h"

#include "platform/system.h"

#include <fstream>
#include <iterator>
#include <limits>
#include <system_error>

namespace saalwacht::console {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
// Far beyond any real picture store; keeps the size arithmetic small.
constexpr std::int64_t kMaxDimension = 1 << 15;

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::uint16_t le16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// Which byte of a 32-bit pixel a channel mask selects; only whole,
// byte-aligned channels are accepted so a carrier bit is one bit of one byte.
std::optional<std::size_t> byteOfMask(std::uint32_t mask) {
  for (std::size_t i = 0; i < 4; ++i) {
    if (mask == (0xFFu << (8 * i))) return i;
  }
  return std::nullopt;
}

// The pixel walk: advance first, then use; wraps at 128 columns.
class PixelWalk {
 public:
  // Whether 8 more pixels lie before the end row; a byte is used whole or
  // not at all, so no pixel outside the 128 x 128 area is ever touched.
  bool hasByte() const {
    const long used = (static_cast<long>(row_) * kPictureStoreColumns + column_);
    const long end = static_cast<long>(kPictureStoreEndRow) * kPictureStoreColumns;
    return used + 8 < end;
  }
  void next() {
    if (++column_ == kPictureStoreColumns) {
      column_ = 0;
      ++row_;
    }
  }
  int row() const { return row_; }
  int column() const { return column_; }

 private:
  int row_ = kPictureStoreStartRow;
  int column_ = 0;
};

std::optional<std::vector<std::uint8_t>> readFile(const fs::path& path, std::string& error) {
  std::error_code ec;
  const auto status = fs::status(path, ec);
  if (ec || !fs::exists(status)) {
    error = "Die Bilddatei " + path.string() + " wurde nicht gefunden";
    return std::nullopt;
  }
  if (!fs::is_regular_file(status)) {
    error = "Die Bilddatei " + path.string() + " ist keine Datei";
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "Die Bilddatei " + path.string() + " kann nicht geöffnet werden";
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
  if (in.bad()) {
    error = "Die Bilddatei " + path.string() + " kann nicht gelesen werden";
    return std::nullopt;
  }
  return bytes;
}

std::optional<StoreBitmap> loadStore(const fs::path& path, std::string& error) {
  auto bytes = readFile(path, error);
  if (!bytes) return std::nullopt;
  std::string why;
  auto bitmap = StoreBitmap::fromBytes(std::move(*bytes), why);
  if (!bitmap) {
    error = "Die Bilddatei " + path.string() + " ist unbrauchbar: " + why;
    return std::nullopt;
  }
  return bitmap;
}

std::string latin1ToUtf8(std::string_view raw) {
  std::string out;
  for (unsigned char c : raw) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// UTF-8 to one byte per character; nothing when a character has no byte
// that would read back as itself.
std::optional<std::string> utf8ToStoreBytes(std::string_view text, std::string& why) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    unsigned code = 0;
    if (c < 0x80) {
      code = c;
      i += 1;
    } else if ((c & 0xE0) == 0xC0 && i + 1 < text.size() &&
               (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) {
      code = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
      if (code < 0x80) {
        why = "ungültiger Text (kein UTF-8)";
        return std::nullopt;
      }
      i += 2;
    } else if ((c & 0xC0) == 0x80 || c >= 0xF8) {
      why = "ungültiger Text (kein UTF-8)";
      return std::nullopt;
    } else {
      why = "Zeichen außerhalb von Latin-1 (z. B. €) können nicht gespeichert werden";
      return std::nullopt;
    }
    if (code == static_cast<unsigned char>(kPictureStoreTerminator)) {
      why = "Das Zeichen # kann nicht gespeichert werden";
      return std::nullopt;
    }
    if (code == kPictureStoreFieldReset) {
      why = "Das Zeichen U+0080 kann nicht gespeichert werden";
      return std::nullopt;
    }
    out += static_cast<char>(code);
  }
  return out;
}

bool replaceFile(const fs::path& path, const std::vector<std::uint8_t>& bytes,
                 std::string& error) {
  const auto failure = platform::replaceFile(
      path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  // The teacher reads German; the system's reason is not.
  if (failure) error = "In " + path.string() + " kann nicht geschrieben werden";
  return !failure;
}

}  // namespace

std::optional<StoreBitmap> StoreBitmap::fromBytes(std::vector<std::uint8_t> bytes,
                                                  std::string& error) {
  if (bytes.size() < 2 || bytes[0] != 'B' || bytes[1] != 'M') {
    error = "keine BMP-Datei";
    return std::nullopt;
  }
  if (bytes.size() < kFileHeaderSize + 40) {
    error = "der BMP-Kopf ist unvollständig";
    return std::nullopt;
  }
  const std::uint32_t headerSize = le32(bytes, 14);
  if (headerSize < 40) {
    error = "das alte OS/2-BMP-Format wird nicht unterstützt";
    return std::nullopt;
  }
  if (bytes.size() < kFileHeaderSize + std::size_t{headerSize}) {
    error = "der BMP-Kopf ist unvollständig";
    return std::nullopt;
  }
  const auto width = static_cast<std::int32_t>(le32(bytes, 18));
  const auto rawHeight = static_cast<std::int32_t>(le32(bytes, 22));
  const std::uint16_t planes = le16(bytes, 26);
  const std::uint16_t bits = le16(bytes, 28);
  const std::uint32_t compression = le32(bytes, 30);
  if (planes != 1) {
    error = "ungültige Ebenenzahl im BMP-Kopf";
    return std::nullopt;
  }
  if (bits != 24 && bits != 32) {
    error = "kein Echtfarbenbild (" + std::to_string(bits) + " Bit pro Pixel)";
    return std::nullopt;
  }

  StoreBitmap bitmap;
  bitmap.bytesPerPixel_ = bits / 8;
  if (compression == kBiBitfields && bits == 32) {
    // The masks follow a plain info header, or sit inside a V4/V5 header.
    const std::size_t masksAt = kFileHeaderSize + 40;
    if (bytes.size() < masksAt + 12) {
      error = "der BMP-Kopf ist unvollständig";
      return std::nullopt;
    }
    const auto red = byteOfMask(le32(bytes, masksAt));
    const auto green = byteOfMask(le32(bytes, masksAt + 4));
    const auto blue = byteOfMask(le32(bytes, masksAt + 8));
    if (!red || !green || !blue) {
      error = "die Farbmasken sind keine ganzen Bytes";
      return std::nullopt;
    }
    bitmap.redByte_ = *red;
    bitmap.greenByte_ = *green;
    bitmap.blueByte_ = *blue;
  } else if (compression != kBiRgb) {
    error = "das Bild ist komprimiert";
    return std::nullopt;
  }

  const std::int64_t height = rawHeight < 0 ? -static_cast<std::int64_t>(rawHeight) : rawHeight;
  if (width <= 0 || height == 0 || width > kMaxDimension || height > kMaxDimension) {
    error = "ungültige Bildgröße";
    return std::nullopt;
  }
  if (width < kPictureStoreColumns || height < kPictureStoreEndRow) {
    error = "das Bild ist kleiner als 128 x 128 Pixel";
    return std::nullopt;
  }
  const std::uint32_t pixelOffset = le32(bytes, 10);
  const std::size_t stride = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
  if (pixelOffset < kFileHeaderSize + headerSize ||
      pixelOffset > bytes.size() ||
      (bytes.size() - pixelOffset) / stride < static_cast<std::size_t>(height)) {
    error = "die Bilddaten sind unvollständig";
    return std::nullopt;
  }
  bitmap.width_ = width;
  bitmap.height_ = static_cast<int>(height);
  bitmap.topDown_ = rawHeight < 0;
  bitmap.pixelOffset_ = pixelOffset;
  bitmap.stride_ = stride;
  bitmap.bytes_ = std::move(bytes);
  return bitmap;
}

std::size_t StoreBitmap::redOffset(int row, int column) const {
  const std::size_t storedRow =
      topDown_ ? static_cast<std::size_t>(row) : static_cast<std::size_t>(height_ - 1 - row);
  return pixelOffset_ + storedRow * stride_ + static_cast<std::size_t>(column) * bytesPerPixel_ +
         redByte_;
}

std::uint32_t StoreBitmap::rgb(int row, int column) const {
  const std::size_t pixel = redOffset(row, column) - redByte_;
  return (std::uint32_t{bytes_[pixel + redByte_]} << 16) |
         (std::uint32_t{bytes_[pixel + greenByte_]} << 8) | bytes_[pixel + blueByte_];
}

bool StoreBitmap::carrierBit(int row, int column) const {
  return (bytes_[redOffset(row, column)] & 1u) != 0;
}

void StoreBitmap::setCarrierBit(int row, int column, bool bit) {
  auto& red = bytes_[redOffset(row, column)];
  red = static_cast<std::uint8_t>((red & 0xFEu) | (bit ? 1u : 0u));
}

std::vector<std::uint8_t> makeTrueColourBmp(
    int width, int height, int bitsPerPixel, bool topDown,
    const std::function<std::uint32_t(int row, int column)>& colour) {
  const std::size_t bytesPerPixel = bitsPerPixel == 32 ? 4 : 3;
  const std::size_t stride = (static_cast<std::size_t>(width) * bytesPerPixel + 3) / 4 * 4;
  const std::size_t pixelOffset = kFileHeaderSize + 40;
  std::vector<std::uint8_t> b(pixelOffset + stride * static_cast<std::size_t>(height), 0);
  b[0] = 'B';
  b[1] = 'M';
  put32(b, 2, static_cast<std::uint32_t>(b.size()));
  put32(b, 10, static_cast<std::uint32_t>(pixelOffset));
  put32(b, 14, 40);
  put32(b, 18, static_cast<std::uint32_t>(width));
  put32(b, 22, static_cast<std::uint32_t>(topDown ? -height : height));
  put16(b, 26, 1);
  put16(b, 28, static_cast<std::uint16_t>(bytesPerPixel * 8));
  put32(b, 30, kBiRgb);
  put32(b, 34, static_cast<std::uint32_t>(stride * static_cast<std::size_t>(height)));
  put32(b, 38, 2835);  // 72 dpi
  put32(b, 42, 2835);
  for (int row = 0; row < height; ++row) {
    const std::size_t stored = topDown ? row : height - 1 - row;
    for (int column = 0; column < width; ++column) {
      const std::uint32_t c = colour(row, column);
      const std::size_t at = pixelOffset + stored * stride + column * bytesPerPixel;
      b[at] = static_cast<std::uint8_t>(c);
      b[at + 1] = static_cast<std::uint8_t>(c >> 8);
      b[at + 2] = static_cast<std::uint8_t>(c >> 16);
    }
  }
  return b;
}

// The three fields, and whether each ended with its '#' before the walk did.
static std::pair<PictureStoreFields, std::array<bool, kPictureStoreFieldCount>> decodeFields(
    const StoreBitmap& bitmap) {
  PictureStoreFields fields;
  std::array<bool, kPictureStoreFieldCount> ended{};
  PixelWalk walk;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    std::string text;
    while (walk.hasByte()) {
      unsigned byte = 0;
      for (int bit = 0; bit < 8; ++bit) {
        walk.next();
        if (bitmap.carrierBit(walk.row(), walk.column())) byte |= 1u << bit;
      }
      if (byte == kPictureStoreFieldReset) {
        text.clear();
      } else if (byte == static_cast<unsigned char>(kPictureStoreTerminator)) {
        ended[i] = true;
        break;
      } else {
        text += static_cast<char>(byte);
      }
    }
    fields[i] = text.empty() ? "0" : text;
  }
  return {fields, ended};
}

PictureStoreFields decodePictureStore(const StoreBitmap& bitmap) { return decodeFields(bitmap).first; }

std::size_t encodePictureStore(StoreBitmap& bitmap, std::string_view text) {
  PixelWalk walk;
  std::size_t written = 0;
  int terminators = 0;
  for (const char c : text) {
    if (!walk.hasByte()) break;
    const auto byte = static_cast<unsigned char>(c);
    for (int bit = 0; bit < 8; ++bit) {
      walk.next();
      bitmap.setCarrierBit(walk.row(), walk.column(), ((byte >> bit) & 1u) != 0);
    }
    ++written;
    if (c == kPictureStoreTerminator && ++terminators == kPictureStoreFieldCount) break;
  }
  return written;
}

std::optional<PictureStoreContent> readPictureStore(const fs::path& path, std::string& error) {
  const auto bitmap = loadStore(path, error);
  if (!bitmap) return std::nullopt;
  auto [fields, ended] = decodeFields(*bitmap);
  // A field that runs to the end of the walk is the picture's own pixels,
  // not data: kept, it would fill the store so that no password ever fits.
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (!ended[i]) fields[i] = "0";
  }
  return PictureStoreContent{latin1ToUtf8(fields[0]), latin1ToUtf8(fields[1]),
                             latin1ToUtf8(fields[2])};
}

bool writePictureStore(const fs::path& path, const PictureStoreContent& content,
                       std::string& error) {
  std::string text;
  for (const std::string* field :
       {&content.reserved1, &content.reserved2, &content.remotePassword}) {
    std::string why;
    const auto raw = utf8ToStoreBytes(*field, why);
    if (!raw) {
      error = why;
      return false;
    }
    text += *raw;
    text += kPictureStoreTerminator;
  }
  if (text.size() > kPictureStoreCapacity) {
    error = "Der Text passt nicht in die Bilddatei";
    return false;
  }
  auto bitmap = loadStore(path, error);
  if (!bitmap) return false;
  encodePictureStore(*bitmap, text);
  return replaceFile(path, bitmap->bytes(), error);
}

std::optional<std::string> readRemotePassword(const fs::path& path, std::string& error) {
  auto content = readPictureStore(path, error);
  if (!content) return std::nullopt;
  return std::move(content->remotePassword);
}

bool writeRemotePassword(const fs::path& path, std::string_view password, std::string& error) {
  auto content = readPictureStore(path, error);
  if (!content) return false;
  content->remotePassword = std::string(password);
  return writePictureStore(path, *content, error);
}

std::vector<std::uint8_t> makeDefaultPictureStore() {
  constexpr int kWidth = 320;
  constexpr int kHeight = 200;
  auto bytes = makeTrueColourBmp(kWidth, kHeight, 24, false, [](int row, int column) {
    const auto r = static_cast<std::uint32_t>(40 + column * 180 / kWidth);
    const auto g = static_cast<std::uint32_t>(90 + row * 120 / kHeight);
    const auto b = static_cast<std::uint32_t>(200 - (row + column) * 80 / (kWidth + kHeight));
    return (r << 16) | (g << 8) | b;
  });
  std::string ignored;
  auto bitmap = StoreBitmap::fromBytes(std::move(bytes), ignored);
  encodePictureStore(*bitmap, "saalwacht#1#0#");
  return bitmap->bytes();
}

}  // namespace saalwacht::console

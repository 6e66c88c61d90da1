#pragma once
// The picture store: the bitmap `saalwacht.bmp` whose pixels carry the
// remote password between runs.
//
// Layout of the text in the picture:
// - The text wraps at 128 columns and stops before row 128, whatever the
//   size of the bitmap (which must be at least 128 x 128).
// - The pixel walk starts at row 50, column 0 and advances before each use,
//   so the first pixel used is row 50, column 1; then every pixel of a row,
//   column 0 to 127. Rows count from the top of the picture.
// - One byte per character, 8 consecutive pixels, bit 0 first. The bit is
//   the least significant bit of the pixel's red component; nothing else of
//   the pixel changes.
// - Three fields, each ended by '#': two reserved fields, then the remote
//   password. Reading, a byte 0x80 empties the field read so far; an empty
//   field reads as "0", and a password of "0" means none has been set.
//
// Only whole bytes are read or written: the walk ends when fewer than 8
// pixels are left before row 128, so nothing outside the 128 x 128 area is
// ever touched.
//
// Text at the low level (decode/encode) is raw bytes, one byte per character
// code. The file-level functions take and return UTF-8 and convert to and
// from those codes (Latin-1).
//
// Nothing here is shared; all functions are safe to call from any thread on
// distinct objects and files.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace saalwacht::console {

inline constexpr const char* kPictureStoreFileName = "saalwacht.bmp";
inline constexpr int kPictureStoreStartRow = 50;
inline constexpr int kPictureStoreColumns = 128;
inline constexpr int kPictureStoreEndRow = 128;
inline constexpr char kPictureStoreTerminator = '#';
inline constexpr int kPictureStoreFieldCount = 3;
inline constexpr unsigned char kPictureStoreFieldReset = 0x80;
// Whole bytes that fit between row 50, column 1 and the end of row 127.
inline constexpr std::size_t kPictureStoreCapacity =
    ((kPictureStoreEndRow - kPictureStoreStartRow) * kPictureStoreColumns - 1) / 8;

// An uncompressed true-colour BMP (24 or 32 bits per pixel, bottom-up or
// top-down rows), kept as its file bytes. Pixel access goes straight into
// those bytes, so bytes() after changes differs from the input only in the
// bits that were set.
class StoreBitmap {
 public:
  // Checks the header and the size of the pixel array; on failure returns
  // nothing and says why in `error`.
  static std::optional<StoreBitmap> fromBytes(std::vector<std::uint8_t> bytes,
                                              std::string& error);

  int width() const { return width_; }
  int height() const { return height_; }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

  // Offset in bytes() of the red component of a pixel (row 0 = top row).
  // The caller keeps row and column inside the picture.
  std::size_t redOffset(int row, int column) const;
  std::uint32_t rgb(int row, int column) const;  // 0xRRGGBB
  bool carrierBit(int row, int column) const;
  void setCarrierBit(int row, int column, bool bit);

 private:
  std::vector<std::uint8_t> bytes_;
  int width_ = 0;
  int height_ = 0;
  bool topDown_ = false;
  std::size_t pixelOffset_ = 0;
  std::size_t stride_ = 0;
  std::size_t bytesPerPixel_ = 0;
  std::size_t redByte_ = 2;
  std::size_t greenByte_ = 1;
  std::size_t blueByte_ = 0;
};

// Bytes of a new uncompressed BMP; `colour(row, column)` gives 0xRRGGBB,
// row 0 at the top. bitsPerPixel is 24 or 32 (32 is written as BI_RGB).
std::vector<std::uint8_t> makeTrueColourBmp(
    int width, int height, int bitsPerPixel, bool topDown,
    const std::function<std::uint32_t(int row, int column)>& colour);

// The three fields as read: raw bytes, "0" for an empty field.
using PictureStoreFields = std::array<std::string, kPictureStoreFieldCount>;

// Reads the three fields from the carrier bits. A field without its '#'
// runs to the end of the walk; fields after that read as "0".
PictureStoreFields decodePictureStore(const StoreBitmap& bitmap);

// Writes `text` (raw bytes) into the carrier bits from the start of the
// walk, up to and including its third '#', or as far as the walk reaches.
// Returns the number of bytes written.
std::size_t encodePictureStore(StoreBitmap& bitmap, std::string_view text);

// What the console keeps from the store; UTF-8.
struct PictureStoreContent {
  std::string reserved1 = "0";
  std::string reserved2 = "0";
  std::string remotePassword = "0";
};

// Loads and decodes the file. Missing, unreadable or unsuitable files give
// nothing and a message in `error`. A field that runs to the end of the walk
// without its '#' (a bitmap that carries no store, such as an admin's own
// picture) holds no data and reads as "0": the password is then asked for,
// and what is written back fits.
std::optional<PictureStoreContent> readPictureStore(
    const std::filesystem::path& path, std::string& error);

// Loads the file again, writes the three fields and replaces the file
// through a temporary file. Refuses (false, `error`) text that would not
// read back as written: a '#', the character U+0080 or a character beyond
// U+00FF in a field, or fields too long for the walk. The file is then
// left alone.
bool writePictureStore(const std::filesystem::path& path,
                       const PictureStoreContent& content, std::string& error);

// The remote password of the store ("0" = none set yet).
std::optional<std::string> readRemotePassword(const std::filesystem::path& path,
                                              std::string& error);

// Stores `password`, keeping the reserved fields the file holds.
bool writeRemotePassword(const std::filesystem::path& path,
                         std::string_view password, std::string& error);

// The file bytes of the default store: a 320 x 200 true-colour gradient
// carrying "saalwacht#1#0#", so the first start asks for a password.
std::vector<std::uint8_t> makeDefaultPictureStore();

}  // namespace saalwacht::console

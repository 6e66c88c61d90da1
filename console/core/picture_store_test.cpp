#include "console/core/picture_store.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

#include <fstream>
#include <iterator>
#include <random>
#include <set>

namespace saalwacht::console {
namespace {

namespace fs = std::filesystem;

// Pixel k of the walk (0-based), worked out independently of the module.
std::pair<int, int> walkPixel(std::size_t k) {
  const std::size_t linear = 50 * 128 + 1 + k;
  return {static_cast<int>(linear / 128), static_cast<int>(linear % 128)};
}

std::uint32_t noise(int row, int column) {
  std::uint32_t x = static_cast<std::uint32_t>(row) * 2654435761u ^
                    static_cast<std::uint32_t>(column) * 40503u;
  x ^= x >> 13;
  x *= 0x5bd1e995u;
  return (x ^ (x >> 15)) & 0xFFFFFFu;
}

StoreBitmap bitmapOf(std::vector<std::uint8_t> bytes) {
  std::string error;
  auto bitmap = StoreBitmap::fromBytes(std::move(bytes), error);
  EXPECT_TRUE(bitmap) << error;
  return *bitmap;
}

StoreBitmap noisyBitmap() { return bitmapOf(makeTrueColourBmp(128, 128, 24, false, noise)); }

// Puts raw bytes into the carrier bits without going through the encoder.
void plant(StoreBitmap& bitmap, std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    for (int bit = 0; bit < 8; ++bit) {
      const auto [row, column] = walkPixel(i * 8 + bit);
      bitmap.setCarrierBit(row, column,
                           ((static_cast<unsigned char>(bytes[i]) >> bit) & 1u) != 0);
    }
  }
}

class PictureStoreFileTest : public ::testing::Test {
 protected:
  fs::path write(const std::vector<std::uint8_t>& bytes, const std::string& name = "saalwacht.bmp") {
    const fs::path path = folder_ / name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  static std::vector<std::uint8_t> read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  testing::TempDir temp_{"picture_store_test"};
  const fs::path& folder_ = temp_.path();
};

// --- bit order -------------------------------------------------------------

struct BitCase {
  std::string text;
  int row;
  int column;
  bool bit;
};

class BitOrderTest : public ::testing::TestWithParam<BitCase> {};

TEST_P(BitOrderTest, CarrierBitOfRedAtWalkPosition) {
  const BitCase& c = GetParam();
  // Both all-zero and all-one carriers, so a bit left alone cannot pass.
  for (const std::uint32_t fill : {0x000000u, 0xFFFFFFu}) {
    auto bitmap = bitmapOf(makeTrueColourBmp(128, 128, 24, false, [&](int, int) { return fill; }));
    encodePictureStore(bitmap, c.text);
    EXPECT_EQ(bitmap.carrierBit(c.row, c.column), c.bit)
        << "row " << c.row << " column " << c.column << " fill " << fill;
  }
}

// 'A' = 0x41, 'X' = 0x58 (16th character: wraps into row 51).
INSTANTIATE_TEST_SUITE_P(
    Table, BitOrderTest,
    ::testing::Values(BitCase{"A", 50, 1, true}, BitCase{"A", 50, 2, false},
                      BitCase{"A", 50, 7, true}, BitCase{"A", 50, 8, false},
                      BitCase{"AA", 50, 9, true}, BitCase{"AA", 50, 15, true},
                      BitCase{"0123456789abcdeX", 50, 121, false},
                      BitCase{"0123456789abcdeX", 50, 124, true},
                      BitCase{"0123456789abcdeX", 50, 125, true},
                      BitCase{"0123456789abcdeX", 50, 126, false},
                      BitCase{"0123456789abcdeX", 50, 127, true},
                      BitCase{"0123456789abcdeX", 51, 0, false},
                      BitCase{"0123456789abcdeXA", 51, 1, true}));

TEST(PictureStoreBitmap, RedOffsetMatchesFileLayout) {
  struct Case {
    int width, bits;
    bool topDown;
  };
  for (const Case c : {Case{130, 24, false}, Case{130, 24, true}, Case{129, 32, false},
                       Case{133, 32, true}}) {
    const auto bytes = makeTrueColourBmp(c.width, 130, c.bits, c.topDown, noise);
    const auto bitmap = bitmapOf(bytes);
    const std::size_t bpp = c.bits / 8;
    const std::size_t stride = (c.width * bpp + 3) / 4 * 4;
    for (const auto& [row, column] : {std::pair{0, 0}, {50, 1}, {127, 127}, {129, 128}}) {
      const std::size_t stored = c.topDown ? row : 130 - 1 - row;
      const std::size_t expected = 54 + stored * stride + column * bpp + 2;
      EXPECT_EQ(bitmap.redOffset(row, column), expected) << c.width << "/" << c.bits;
      EXPECT_EQ(bitmap.rgb(row, column), noise(row, column)) << row << "," << column << " " << c.width << "/" << c.bits;
    }
  }
}

// --- decoding --------------------------------------------------------------

struct DecodeCase {
  std::string name;
  std::string planted;
  PictureStoreFields expected;
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, Fields) {
  auto bitmap = noisyBitmap();
  plant(bitmap, GetParam().planted);
  EXPECT_EQ(decodePictureStore(bitmap), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecodeTest,
    ::testing::Values(
        DecodeCase{"Plain", "a#b#secret#", {"a", "b", "secret"}},
        DecodeCase{"EmptyFieldsReadAsZero", "##pw#", {"0", "0", "pw"}},
        DecodeCase{"EmptyPasswordReadsAsZero", "a#b##", {"a", "b", "0"}},
        DecodeCase{"ResetEmptiesField", "a#b#old\x80new#", {"a", "b", "new"}},
        DecodeCase{"ResetInEveryField", "x\x80y#\x80#pw\x80#", {"y", "0", "0"}},
        DecodeCase{"TrailingDataIgnored", "a#b#c#zz#", {"a", "b", "c"}},
        DecodeCase{"HighBytesComeBack", "\xe4#\xff#p\xfc#", {"\xe4", "\xff", "p\xfc"}}),
    [](const auto& info) { return info.param.name; });

TEST(PictureStoreDecode, StoreWithoutTerminatorsIsOneLongFirstField) {
  auto bitmap = noisyBitmap();
  plant(bitmap, std::string(kPictureStoreCapacity, 'x'));
  const auto fields = decodePictureStore(bitmap);
  EXPECT_EQ(fields[0], std::string(1247, 'x'));
  EXPECT_EQ(fields[1], "0");
  EXPECT_EQ(fields[2], "0");
}

TEST(PictureStoreDecode, UnterminatedPasswordRunsToTheEndOfTheWalk) {
  auto bitmap = noisyBitmap();
  std::string planted = "a#b#";
  planted += std::string(kPictureStoreCapacity - planted.size(), 'p');
  plant(bitmap, planted);
  EXPECT_EQ(decodePictureStore(bitmap)[2], std::string(1243, 'p'));
}

// --- encoding --------------------------------------------------------------

TEST(PictureStoreEncode, HashInsidePasswordEndsTheText) {
  auto bitmap = noisyBitmap();
  const auto before = bitmap;
  EXPECT_EQ(encodePictureStore(bitmap, "r1#r2#ab#cd#"), 9u);
  EXPECT_EQ(decodePictureStore(bitmap), (PictureStoreFields{"r1", "r2", "ab"}));
  // "cd#" was not written: the pixels after the ninth byte keep their bits.
  for (std::size_t k = 9 * 8; k < 12 * 8; ++k) {
    const auto [row, column] = walkPixel(k);
    EXPECT_EQ(bitmap.carrierBit(row, column), before.carrierBit(row, column)) << k;
  }
}

TEST(PictureStoreEncode, StopsBeforeRow128) {
  auto bitmap = noisyBitmap();
  const auto before = bitmap;
  EXPECT_EQ(encodePictureStore(bitmap, std::string(2000, '\xff')), 1247u);
  // The last whole byte ends at row 127, column 120.
  EXPECT_TRUE(bitmap.carrierBit(127, 120));
  for (int column = 121; column < 128; ++column) {
    EXPECT_EQ(bitmap.carrierBit(127, column), before.carrierBit(127, column)) << column;
  }
}

// --- files -----------------------------------------------------------------

struct FormatCase {
  std::string name;
  int width, height, bits;
  bool topDown;
};

class OnlyCarrierBitsTest : public PictureStoreFileTest,
                            public ::testing::WithParamInterface<FormatCase> {};

TEST_P(OnlyCarrierBitsTest, WriteChangesOnlyCarrierBitsOfUsedPixels) {
  const FormatCase& f = GetParam();
  const auto original = makeTrueColourBmp(f.width, f.height, f.bits, f.topDown, noise);
  const auto path = write(original);
  std::string error;
  ASSERT_TRUE(writePictureStore(path, {"r1", "r2", "Geheim12"}, error)) << error;
  const auto written = read(path);
  ASSERT_EQ(written.size(), original.size());

  const auto bitmap = bitmapOf(original);
  const std::size_t textLength = std::string("r1#r2#Geheim12#").size();
  std::set<std::size_t> allowed;
  for (std::size_t k = 0; k < textLength * 8; ++k) {
    const auto [row, column] = walkPixel(k);
    allowed.insert(bitmap.redOffset(row, column));
  }
  std::size_t changed = 0;
  for (std::size_t i = 0; i < original.size(); ++i) {
    if (written[i] == original[i]) continue;
    ++changed;
    EXPECT_TRUE(allowed.count(i)) << "byte " << i << " is not a carrier";
    EXPECT_EQ(written[i] ^ original[i], 1) << "byte " << i;
  }
  EXPECT_GT(changed, 0u);

  auto content = readPictureStore(path, error);
  ASSERT_TRUE(content) << error;
  EXPECT_EQ(content->remotePassword, "Geheim12");
}

INSTANTIATE_TEST_SUITE_P(Table, OnlyCarrierBitsTest,
                         ::testing::Values(FormatCase{"BottomUp24", 128, 128, 24, false},
                                           FormatCase{"TopDown24", 128, 128, 24, true},
                                           FormatCase{"Padded24", 131, 140, 24, false},
                                           FormatCase{"BottomUp32", 200, 150, 32, false},
                                           FormatCase{"TopDown32", 129, 128, 32, true}),
                         [](const auto& info) { return info.param.name; });

TEST_F(PictureStoreFileTest, RoundTripKeepsReservedFields) {
  const auto path = write(makeTrueColourBmp(128, 128, 24, false, noise));
  std::string error;
  ASSERT_TRUE(writePictureStore(path, {"keep1", "keep2", "0"}, error)) << error;
  for (const std::string password : {"abcd", "12345678", "P\xc3\xa4ss\xc3\xb6rt", "a b", "0"}) {
    ASSERT_TRUE(writeRemotePassword(path, password, error)) << error;
    EXPECT_EQ(readRemotePassword(path, error), password);
    const auto content = readPictureStore(path, error);
    ASSERT_TRUE(content) << error;
    EXPECT_EQ(content->reserved1, "keep1");
    EXPECT_EQ(content->reserved2, "keep2");
  }
  EXPECT_FALSE(fs::exists(path.string() + ".tmp"));
}

TEST_F(PictureStoreFileTest, RefusesTextThatWouldNotReadBack) {
  const auto original = makeDefaultPictureStore();
  const auto path = write(original);
  struct Case {
    std::string password;
    std::string why;
  };
  for (const Case& c : {Case{"ab#cd", "Zeichen #"}, Case{"\xe2\x82\xacuro", "außerhalb von Latin-1"},
                        Case{"x\xc2\x80y", "U+0080"}, Case{"bad\xff", "kein UTF-8"},
                        Case{std::string(1300, 'z'), "passt nicht"}}) {
    std::string error;
    EXPECT_FALSE(writeRemotePassword(path, c.password, error));
    EXPECT_NE(error.find(c.why), std::string::npos) << error;
    EXPECT_EQ(read(path), original);
  }
}

TEST_F(PictureStoreFileTest, FieldsWithoutTheirEndAreNoDataAndTheStoreStaysWritable) {
  // An admin's own bitmap carries no field ends, or the password's is missing.
  struct Case {
    std::string planted;
    PictureStoreContent read;
  };
  for (const Case& c : {Case{std::string(kPictureStoreCapacity, 'x'), {"0", "0", "0"}},
                        Case{"a#b#" + std::string(kPictureStoreCapacity - 4, 'p'), {"a", "b", "0"}}}) {
    SCOPED_TRACE(c.planted.substr(0, 8));
    auto bitmap = noisyBitmap();
    plant(bitmap, c.planted);
    const auto path = write(bitmap.bytes());
    std::string error;
    const auto content = readPictureStore(path, error);
    ASSERT_TRUE(content) << error;
    EXPECT_EQ(content->reserved1, c.read.reserved1);
    EXPECT_EQ(content->reserved2, c.read.reserved2);
    EXPECT_EQ(content->remotePassword, "0");
    ASSERT_TRUE(writeRemotePassword(path, "geheim", error)) << error;
    EXPECT_EQ(readRemotePassword(path, error), "geheim");
  }
}

TEST_F(PictureStoreFileTest, DefaultStoreAsksForAPassword) {
  const auto bytes = makeDefaultPictureStore();
  const auto bitmap = bitmapOf(bytes);
  EXPECT_EQ(bitmap.width(), 320);
  EXPECT_EQ(bitmap.height(), 200);
  EXPECT_EQ(decodePictureStore(bitmap), (PictureStoreFields{"saalwacht", "1", "0"}));
  std::string error;
  EXPECT_EQ(readRemotePassword(write(bytes), error), "0") << error;
}

TEST(PictureStoreBuild, ShippedStoreAsksForAPassword) {
  std::string error;
  EXPECT_EQ(readRemotePassword(SAALWACHT_DEFAULT_PICTURE_STORE, error), "0") << error;
}

struct BrokenCase {
  std::string name;
  std::function<void(std::vector<std::uint8_t>&)> damage;
  std::string why;
};

class BrokenFileTest : public PictureStoreFileTest,
                       public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(BrokenFileTest, GivesAnErrorAndLeavesTheFileAlone) {
  auto bytes = makeTrueColourBmp(128, 128, 24, false, noise);
  GetParam().damage(bytes);
  const auto path = write(bytes);
  std::string error;
  EXPECT_FALSE(readRemotePassword(path, error));
  EXPECT_NE(error.find(GetParam().why), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(writeRemotePassword(path, "abcd", error));
  EXPECT_NE(error.find(GetParam().why), std::string::npos) << error;
  EXPECT_EQ(read(path), bytes);
}

void set32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

INSTANTIATE_TEST_SUITE_P(
    Table, BrokenFileTest,
    ::testing::Values(
        BrokenCase{"Empty", [](auto& b) { b.clear(); }, "keine BMP-Datei"},
        BrokenCase{"NotBmp", [](auto& b) { b[0] = 'P'; }, "keine BMP-Datei"},
        BrokenCase{"TruncatedHeader", [](auto& b) { b.resize(30); }, "unvollständig"},
        BrokenCase{"TruncatedPixels", [](auto& b) { b.resize(b.size() - 1); }, "unvollständig"},
        BrokenCase{"Paletted", [](auto& b) { b[28] = 8; }, "kein Echtfarbenbild"},
        BrokenCase{"Compressed", [](auto& b) { b[30] = 4; }, "komprimiert"},
        BrokenCase{"TooNarrow", [](auto& b) { set32(b, 18, 127); }, "kleiner als 128"},
        BrokenCase{"TooLow", [](auto& b) { set32(b, 22, 127); }, "kleiner als 128"},
        BrokenCase{"HugeWidth", [](auto& b) { set32(b, 18, 0x7FFFFFFF); }, "Bildgröße"},
        BrokenCase{"MinimumHeight", [](auto& b) { set32(b, 22, 0x80000000u); }, "Bildgröße"},
        BrokenCase{"PixelOffsetBeyondEnd", [](auto& b) { set32(b, 10, 0xFFFFFFF0u); },
                   "unvollständig"}),
    [](const auto& info) { return info.param.name; });

TEST_F(PictureStoreFileTest, MissingFileOrFolder) {
  std::string error;
  EXPECT_FALSE(readRemotePassword(folder_ / "saalwacht.bmp", error));
  EXPECT_NE(error.find("nicht gefunden"), std::string::npos) << error;
  EXPECT_FALSE(writeRemotePassword(folder_ / "saalwacht.bmp", "abcd", error));
  EXPECT_FALSE(fs::exists(folder_ / "saalwacht.bmp"));
  error.clear();
  EXPECT_FALSE(readRemotePassword(folder_, error));
  EXPECT_NE(error.find("keine Datei"), std::string::npos) << error;
}

}  // namespace
}  // namespace saalwacht::console

#include "jpegfile.h"
#include "pixels.h"

#include <turbojpeg.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace {

using namespace saalwacht::swscr;
namespace fs = std::filesystem;

// ---- output path -----------------------------------------------------------

struct PathCase {
  const char* name;
  const char* given;
  const char* expected;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const PathCase& c, std::ostream* os) { *os << c.name; }

class OutputPath : public ::testing::TestWithParam<PathCase> {};

TEST_P(OutputPath, StripsOneQuoteOnEachSide) {
  EXPECT_EQ(normaliseOutputPath(GetParam().given), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, OutputPath,
    ::testing::Values(PathCase{"Plain", "/tmp/a.jpg", "/tmp/a.jpg"},
                      PathCase{"UnbalancedLeadingQuote", "\"C:\\x\\screenshot.jpg",
                               "C:\\x\\screenshot.jpg"},
                      PathCase{"Quoted", "\"/tmp/a b.jpg\"", "/tmp/a b.jpg"},
                      PathCase{"TrailingQuote", "/tmp/a.jpg\"", "/tmp/a.jpg"},
                      PathCase{"OnlyOneQuoteEachSide", "\"\"/tmp/a.jpg\"\"", "\"/tmp/a.jpg\""},
                      PathCase{"QuoteInside", "/tmp/a\"b.jpg", "/tmp/a\"b.jpg"},
                      PathCase{"LoneQuote", "\"", ""}, PathCase{"TwoQuotes", "\"\"", ""},
                      PathCase{"Empty", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- pixel layouts ---------------------------------------------------------

struct LayoutCase {
  const char* name;
  PixelLayout layout;
  std::vector<std::uint8_t> pixel;  // one pixel as it sits in memory
  int expectedR, expectedG, expectedB;
  int tolerance;  // for channels narrower than 8 bits
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

class PixelLayouts : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(PixelLayouts, ConvertsToRgb) {
  const LayoutCase& c = GetParam();
  ASSERT_EQ(checkLayout(c.layout), "");
  // Two rows of two pixels with padding at each row end: the stride must be
  // honoured, and the padding must not leak into the picture.
  const int bytes = c.layout.bitsPerPixel / 8;
  const int stride = 2 * bytes + 5;
  std::vector<std::uint8_t> data(static_cast<std::size_t>(stride) * 2, 0xEE);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x)
      std::copy(c.pixel.begin(), c.pixel.end(), data.begin() + y * stride + x * bytes);

  const std::vector<std::uint8_t> rgb = toRgb({data.data(), 2, 2, stride, c.layout});
  ASSERT_EQ(rgb.size(), 12u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(rgb[i * 3 + 0], c.expectedR, c.tolerance) << "pixel " << i;
    EXPECT_NEAR(rgb[i * 3 + 1], c.expectedG, c.tolerance) << "pixel " << i;
    EXPECT_NEAR(rgb[i * 3 + 2], c.expectedB, c.tolerance) << "pixel " << i;
  }
}

TEST_P(PixelLayouts, EncodesJpegWithTheRightColour) {
  const LayoutCase& c = GetParam();
  constexpr int kSize = 32;
  const int bytes = c.layout.bitsPerPixel / 8;
  const int stride = kSize * bytes + 3;
  std::vector<std::uint8_t> data(static_cast<std::size_t>(stride) * kSize, 0x00);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x)
      std::copy(c.pixel.begin(), c.pixel.end(), data.begin() + y * stride + x * bytes);

  std::vector<std::uint8_t> jpeg;
  std::string error;
  ASSERT_TRUE(encodeJpeg({data.data(), kSize, kSize, stride, c.layout}, 80, jpeg, error))
      << error;

  tjhandle tj = tjInitDecompress();
  int width = 0, height = 0, subsamp = -1, colorspace = -1;
  ASSERT_EQ(tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &width, &height, &subsamp,
                                &colorspace),
            0);
  EXPECT_EQ(width, kSize);
  EXPECT_EQ(height, kSize);
  EXPECT_EQ(subsamp, TJSAMP_420);
  std::vector<std::uint8_t> rgb(kSize * kSize * 3);
  ASSERT_EQ(tjDecompress2(tj, jpeg.data(), jpeg.size(), rgb.data(), kSize, 0, kSize, TJPF_RGB, 0),
            0);
  tjDestroy(tj);
  const std::size_t centre = (kSize / 2 * kSize + kSize / 2) * 3;
  EXPECT_NEAR(rgb[centre + 0], c.expectedR, c.tolerance + 6);
  EXPECT_NEAR(rgb[centre + 1], c.expectedG, c.tolerance + 6);
  EXPECT_NEAR(rgb[centre + 2], c.expectedB, c.tolerance + 6);
}

// The colour (0x12, 0x80, 0xfe) in every layout; in 5-6-5 it is (2, 32, 31).
INSTANTIATE_TEST_SUITE_P(
    Layouts, PixelLayouts,
    ::testing::Values(
        LayoutCase{"Bgrx32Lsb", {32, false, 0xff0000, 0x00ff00, 0x0000ff},
                   {0xfe, 0x80, 0x12, 0x00}, 0x12, 0x80, 0xfe, 0},
        LayoutCase{"Xrgb32Msb", {32, true, 0xff0000, 0x00ff00, 0x0000ff},
                   {0x00, 0x12, 0x80, 0xfe}, 0x12, 0x80, 0xfe, 0},
        LayoutCase{"Rgbx32Lsb", {32, false, 0x0000ff, 0x00ff00, 0xff0000},
                   {0x12, 0x80, 0xfe, 0x00}, 0x12, 0x80, 0xfe, 0},
        LayoutCase{"Xbgr32Msb", {32, true, 0x0000ff, 0x00ff00, 0xff0000},
                   {0x00, 0xfe, 0x80, 0x12}, 0x12, 0x80, 0xfe, 0},
        LayoutCase{"Rgb32HighByteLsb", {32, false, 0xff000000, 0x00ff0000, 0x0000ff00},
                   {0x00, 0xfe, 0x80, 0x12}, 0x12, 0x80, 0xfe, 0},
        LayoutCase{"Bgr24Lsb", {24, false, 0xff0000, 0x00ff00, 0x0000ff},
                   {0xfe, 0x80, 0x12}, 0x12, 0x80, 0xfe, 0},
        LayoutCase{"Rgb24Msb", {24, true, 0xff0000, 0x00ff00, 0x0000ff},
                   {0x12, 0x80, 0xfe}, 0x12, 0x80, 0xfe, 0},
        // 10 bits per channel (depth 30): 0x048, 0x200, 0x3f8.
        LayoutCase{"Rgb30Lsb", {32, false, 0x3ff00000, 0x000ffc00, 0x000003ff},
                   {0xf8, 0x03, 0x88, 0x04}, 0x12, 0x80, 0xfe, 0},
        LayoutCase{"Rgb565Lsb", {16, false, 0xf800, 0x07e0, 0x001f}, {0x1f, 0x14}, 0x10, 0x81,
                   0xff, 1},
        LayoutCase{"Rgb565Msb", {16, true, 0xf800, 0x07e0, 0x001f}, {0x14, 0x1f}, 0x10, 0x81,
                   0xff, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PixelLayouts, RefusesWhatItCannotRead) {
  const PixelLayout bad[] = {
      {8, false, 0xe0, 0x1c, 0x03},              // palette-sized pixels
      {32, false, 0, 0x00ff00, 0x0000ff},        // missing red
      {32, false, 0xff00ff, 0x00ff00, 0x0000ff}, // holes in a mask
      {32, false, 0xff0000, 0xff0000, 0x0000ff}, // overlapping masks
      {16, false, 0xff0000, 0x00ff00, 0x0000ff}, // masks wider than the pixel
  };
  for (const PixelLayout& layout : bad) {
    EXPECT_NE(checkLayout(layout), "") << layout.bitsPerPixel << " " << layout.redMask;
    std::vector<std::uint8_t> data(64, 0);
    std::vector<std::uint8_t> jpeg;
    std::string error;
    EXPECT_FALSE(encodeJpeg({data.data(), 2, 2, 16, layout}, 80, jpeg, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(jpeg.empty());
  }
}

// ---- writing the file ------------------------------------------------------

class AtomicWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    char dirTemplate[] = "/tmp/swscr-core-test-XXXXXX";
    ASSERT_NE(::mkdtemp(dirTemplate), nullptr);
    dir_ = dirTemplate;
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string tempNameFor(const std::string& file) const {
    return (dir_ / file).string() + ".tmp-" + std::to_string(::getpid());
  }

  fs::path dir_;
  const std::vector<std::uint8_t> data_ = {'J', 'P', 'E', 'G', 0, 1, 2};
};

TEST_F(AtomicWrite, WritesTheDataPrivatelyAndLeavesNoTempFile) {
  std::string error;
  ASSERT_TRUE(writeFileAtomically((dir_ / "shot.jpg").string(), data_, error)) << error;
  EXPECT_EQ(read(dir_ / "shot.jpg"), std::string("JPEG\0\1\2", 7));
  EXPECT_EQ(entries(), std::vector<std::string>{"shot.jpg"});
  EXPECT_EQ(fs::status(dir_ / "shot.jpg").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(AtomicWrite, ReplacesAnOlderFile) {
  std::ofstream(dir_ / "shot.jpg") << "an older and longer picture";
  std::string error;
  ASSERT_TRUE(writeFileAtomically((dir_ / "shot.jpg").string(), data_, error)) << error;
  EXPECT_EQ(read(dir_ / "shot.jpg"), std::string("JPEG\0\1\2", 7));
}

TEST_F(AtomicWrite, DoesNotFollowASymlinkPlantedAtTheTempName) {
  std::ofstream(dir_ / "victim") << "keep me";
  fs::create_symlink(dir_ / "victim", tempNameFor("shot.jpg"));
  std::string error;
  EXPECT_FALSE(writeFileAtomically((dir_ / "shot.jpg").string(), data_, error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(read(dir_ / "victim"), "keep me");
  EXPECT_FALSE(fs::exists(dir_ / "shot.jpg"));
}

TEST_F(AtomicWrite, FailsCleanlyWhenTheTargetCannotBeReplaced) {
  // rename() cannot put a file over a non-empty directory.
  fs::create_directories(dir_ / "shot.jpg" / "inside");
  std::string error;
  EXPECT_FALSE(writeFileAtomically((dir_ / "shot.jpg").string(), data_, error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(entries(), std::vector<std::string>{"shot.jpg"});
}

TEST_F(AtomicWrite, FailsForAMissingFolder) {
  std::string error;
  EXPECT_FALSE(writeFileAtomically((dir_ / "missing" / "shot.jpg").string(), data_, error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(entries().empty());
}

// ---- the fallback picture --------------------------------------------------

TEST(FallbackPicture, IsASmallJpegNextToTheHelpers) {
  std::ifstream in(SWSCRERROR_JPG, std::ios::binary);
  ASSERT_TRUE(in) << SWSCRERROR_JPG;
  const std::vector<unsigned char> jpeg{std::istreambuf_iterator<char>(in), {}};
  EXPECT_LT(jpeg.size(), 30u * 1024);

  tjhandle tj = tjInitDecompress();
  int width = 0, height = 0, subsamp = -1, colorspace = -1;
  ASSERT_EQ(tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &width, &height, &subsamp,
                                &colorspace),
            0)
      << tjGetErrorStr2(tj);
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 360);
  std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * height * 3);
  ASSERT_EQ(tjDecompress2(tj, jpeg.data(), jpeg.size(), rgb.data(), width, 0, height, TJPF_RGB,
                          0),
            0);
  tjDestroy(tj);
  // Dark background with light text on it.
  EXPECT_LT(rgb[0], 80);
  EXPECT_GT(*std::max_element(rgb.begin(), rgb.end()), 200);
}

}  // namespace

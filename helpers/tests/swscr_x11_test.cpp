// swscr against a private Xvfb server: real capture, real files.

// gtest before Xlib: Xlib #defines None and Bool, which gtest uses as names.
#include <gtest/gtest.h>

#include "child_process.h"
#include "x11_test_util.h"
#include "temp_dir.h"
#include "xvfb.h"

#include <turbojpeg.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace saalwacht::helpers_test;
using saalwacht::testing::XvfbDisplay;
namespace fs = std::filesystem;

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kJpegTolerance = 24;

const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255};

struct Decoded {
  bool ok = false;
  std::string error;
  int width = 0, height = 0, subsamp = -1;
  std::vector<unsigned char> rgb;
  Rgb at(int x, int y) const {
    const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
  }
};

Decoded decodeJpegFile(const fs::path& path) {
  Decoded d;
  std::ifstream in(path, std::ios::binary);
  const std::vector<unsigned char> jpeg{std::istreambuf_iterator<char>(in), {}};
  tjhandle tj = tjInitDecompress();
  int colorspace = 0;
  if (tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &d.width, &d.height, &d.subsamp,
                          &colorspace) == 0) {
    d.rgb.resize(static_cast<std::size_t>(d.width) * d.height * 3);
    d.ok = tjDecompress2(tj, jpeg.data(), jpeg.size(), d.rgb.data(), d.width, 0, d.height,
                         TJPF_RGB, 0) == 0;
  }
  if (!d.ok) d.error = tjGetErrorStr2(tj);
  tjDestroy(tj);
  return d;
}

using saalwacht::testing::TempDir;

bool exitedWith(const std::optional<int>& status, int code) {
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == code;
}

bool failedWithOneLine(const RunResult& r) {
  if (!r.status || !WIFEXITED(*r.status) || WEXITSTATUS(*r.status) == 0) return false;
  return r.output.rfind("swscr: ", 0) == 0 && r.output.find('\n') == r.output.size() - 1;
}

// Three vertical stripes and a white block, so a swapped channel, a mirrored
// or offset picture, or a wrong size all show up.
void paintTestPattern(Display* display) {
  const int third = kWidth / 3;
  createFilledWindow(display, 0, 0, third, kHeight, kRed);
  createFilledWindow(display, third, 0, third, kHeight, kGreen);
  createFilledWindow(display, 2 * third, 0, kWidth - 2 * third, kHeight, kBlue);
  createFilledWindow(display, 0, 0, 64, 64, kWhite);
}

void expectTestPattern(const Decoded& picture) {
  struct Probe {
    int x, y;
    Rgb colour;
  };
  const int third = kWidth / 3;
  for (const Probe& p : {Probe{32, 32, kWhite}, Probe{third / 2, kHeight / 2, kRed},
                         Probe{third / 2, kHeight - 8, kRed},
                         Probe{third + third / 2, kHeight / 2, kGreen},
                         Probe{2 * third + third / 2, kHeight / 2, kBlue},
                         Probe{kWidth - 8, kHeight - 8, kBlue}}) {
    const Rgb actual = picture.at(p.x, p.y);
    EXPECT_TRUE(closeTo(actual, p.colour, kJpegTolerance))
        << "at " << p.x << "," << p.y << ": " << describe(actual) << ", expected "
        << describe(p.colour);
  }
}

struct ServerCase {
  const char* name;
  int depth;
  std::vector<std::string> xvfbArgs;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ServerCase& c, std::ostream* os) { *os << c.name; }

class SwscrCapture : public ::testing::TestWithParam<ServerCase> {};

TEST_P(SwscrCapture, WritesAJpegOfTheWholeScreen) {
  XvfbDisplay xvfb;
  ASSERT_TRUE(xvfb.start(kWidth, kHeight, GetParam().depth, GetParam().xvfbArgs))
      << xvfb.message();
  XConnection x(xvfb.name());
  ASSERT_TRUE(x);
  paintTestPattern(x.get());

  TempDir dir;
  const fs::path shot = dir.path() / "screenshot.jpg";
  const RunResult r = runToEnd(SWSCR_EXE, {shot.string()}, {{"DISPLAY", xvfb.name()}});
  ASSERT_TRUE(exitedWith(r.status, 0)) << r.output;
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"screenshot.jpg"})
      << "no temporary file may stay behind";

  const Decoded picture = decodeJpegFile(shot);
  ASSERT_TRUE(picture.ok) << picture.error;
  EXPECT_EQ(picture.width, kWidth);
  EXPECT_EQ(picture.height, kHeight);
  EXPECT_EQ(picture.subsamp, TJSAMP_420);
  expectTestPattern(picture);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, SwscrCapture,
    ::testing::Values(ServerCase{"Depth24", 24, {}},
                      ServerCase{"Depth24WithoutSharedMemory", 24, {"-extension", "MIT-SHM"}},
                      ServerCase{"Depth16", 16, {}}, ServerCase{"Depth30", 30, {}}),
    [](const auto& info) { return std::string(info.param.name); });

class SwscrOnDisplay : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(xvfb_.start(kWidth, kHeight)) << xvfb_.message();
    x_ = std::make_unique<XConnection>(xvfb_.name());
    ASSERT_TRUE(*x_);
    paintTestPattern(x_->get());
  }

  XvfbDisplay xvfb_;
  std::unique_ptr<XConnection> x_;
};

TEST_F(SwscrOnDisplay, AcceptsQuotedPathsAndReplacesAnOldFile) {
  TempDir dir;
  const std::string shot = (dir.path() / "bild.jpg").string();
  for (const std::string& argument : {"\"" + shot, "\"" + shot + "\"", shot}) {
    SCOPED_TRACE(argument);
    std::ofstream(shot) << "old, broken picture";
    const RunResult r = runToEnd(SWSCR_EXE, {argument}, {{"DISPLAY", xvfb_.name()}});
    ASSERT_TRUE(exitedWith(r.status, 0)) << r.output;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"bild.jpg"});
    const Decoded picture = decodeJpegFile(shot);
    ASSERT_TRUE(picture.ok) << picture.error;
    expectTestPattern(picture);
  }
}

TEST_F(SwscrOnDisplay, FailsForPlacesItCannotWrite) {
  TempDir dir;
  std::ofstream(dir.path() / "datei") << "a file, not a folder";
  fs::create_directories(dir.path() / "ordner" / "voll");
  fs::create_directories(dir.path() / "gesperrt");
  fs::permissions(dir.path() / "gesperrt", fs::perms::owner_read | fs::perms::owner_exec);

  struct Case {
    std::string path;
    std::vector<std::string> expectedEntries;
    bool needsPermissionChecks;
  };
  const std::vector<std::string> untouched = {"datei", "gesperrt", "ordner", "ordner/voll"};
  const std::vector<Case> cases = {
      {(dir.path() / "fehlt" / "x.jpg").string(), untouched, false},
      {(dir.path() / "datei" / "x.jpg").string(), untouched, false},
      {(dir.path() / "ordner").string(), untouched, false},  // a folder is in the way
      {"", untouched, false},
      {"\"\"", untouched, false},
      {(dir.path() / "gesperrt" / "x.jpg").string(), untouched, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    // root may write into a read-only folder anyway.
    if (c.needsPermissionChecks && ::geteuid() == 0) continue;
    const RunResult r = runToEnd(SWSCR_EXE, {c.path}, {{"DISPLAY", xvfb_.name()}});
    EXPECT_TRUE(failedWithOneLine(r)) << r.output;
    EXPECT_EQ(dir.entries(), c.expectedEntries);
  }
}

TEST(SwscrWithoutDisplay, FailsAndWritesNothing) {
  TempDir dir;
  const fs::path shot = dir.path() / "screenshot.jpg";
  // A display number nobody serves.
  std::string unused;
  for (int n = 4093; n > 4000 && unused.empty(); --n) {
    if (!fs::exists("/tmp/.X11-unix/X" + std::to_string(n)) &&
        !fs::exists("/tmp/.X" + std::to_string(n) + "-lock"))
      unused = ":" + std::to_string(n);
  }
  ASSERT_FALSE(unused.empty());

  const std::vector<ChildProcess::EnvChanges> environments = {
      {{"DISPLAY", std::nullopt}}, {{"DISPLAY", ""}}, {{"DISPLAY", unused}}};
  for (const auto& env : environments) {
    SCOPED_TRACE(env.at("DISPLAY").value_or("(unset)"));
    const RunResult r = runToEnd(SWSCR_EXE, {shot.string()}, env);
    EXPECT_TRUE(failedWithOneLine(r)) << r.output;
    EXPECT_TRUE(dir.entries().empty());
  }
}

TEST(SwscrArguments, RefusesAWrongNumberOfArguments) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"/tmp/a.jpg", "/tmp/b.jpg"}}) {
    const RunResult r = runToEnd(SWSCR_EXE, args, {{"DISPLAY", std::nullopt}});
    EXPECT_TRUE(exitedWith(r.status, 2)) << r.output;
    EXPECT_NE(r.output.find("usage"), std::string::npos) << r.output;
  }
}

}  // namespace

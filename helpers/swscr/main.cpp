// swscr PATH: writes a JPEG of the whole X screen to PATH. The file appears
// complete or not at all; any failure exits non-zero with one line on stderr.

#include "capture.h"
#include "jpegfile.h"
#include "pixels.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kJpegQuality = 80;

int fail(const std::string& message) {
  std::fprintf(stderr, "swscr: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace saalwacht::swscr;
  if (argc != 2) {
    std::fputs("swscr: usage: swscr PATH\n", stderr);
    return 2;
  }
  const std::string path = normaliseOutputPath(argv[1]);
  if (path.empty()) return fail("empty output path");

  std::string error;
  std::vector<std::uint8_t> jpeg;
  {
    ScreenCapture capture;
    if (!capture.open(error) || !capture.grab(error)) return fail(error);
    if (!encodeJpeg(capture.image(), kJpegQuality, jpeg, error)) return fail(error);
  }
  if (!writeFileAtomically(path, jpeg, error)) return fail(error);
  return 0;
}

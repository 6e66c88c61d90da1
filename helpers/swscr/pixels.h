#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace saalwacht::swscr {

// How one row of a captured X image stores its pixels.
struct PixelLayout {
  int bitsPerPixel = 32;  // 16, 24 or 32
  bool msbFirst = false;  // byte order of a pixel in memory
  std::uint32_t redMask = 0xff0000;
  std::uint32_t greenMask = 0x00ff00;
  std::uint32_t blueMask = 0x0000ff;
};

// A view on a captured image; rows are `stride` bytes apart.
struct ImageView {
  const std::uint8_t* data = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;
  PixelLayout layout;
};

// Empty when the layout can be handled, otherwise why not.
std::string checkLayout(const PixelLayout& layout);

// The TurboJPEG pixel format that reads the image as it is, or -1 when the
// pixels first have to be converted with toRgb().
int directTurboFormat(const PixelLayout& layout);

// Converts any supported layout to packed 8-bit RGB, using the channel masks
// rather than assuming a byte order.
std::vector<std::uint8_t> toRgb(const ImageView& image);

// Encodes as JPEG (4:2:0). On failure returns false and sets error.
bool encodeJpeg(const ImageView& image, int quality, std::vector<std::uint8_t>& jpeg,
                std::string& error);

}  // namespace saalwacht::swscr

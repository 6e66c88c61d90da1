#include "pixels.h"

#include <turbojpeg.h>

#include <bit>

namespace saalwacht::swscr {

namespace {

struct Channel {
  int shift = 0;
  int bits = 0;
  std::uint32_t mask = 0;
};

Channel channelOf(std::uint32_t mask) {
  Channel c;
  c.mask = mask;
  if (mask == 0) return c;
  c.shift = std::countr_zero(mask);
  c.bits = std::popcount(mask);
  return c;
}

bool contiguous(std::uint32_t mask) {
  if (mask == 0) return false;
  const std::uint32_t shifted = mask >> std::countr_zero(mask);
  return (shifted & (shifted + 1)) == 0;
}

std::uint8_t scaleTo8(std::uint32_t value, int bits) {
  if (bits >= 8) return static_cast<std::uint8_t>(value >> (bits - 8));
  const std::uint32_t max = (1u << bits) - 1;
  return static_cast<std::uint8_t>((value * 255 + max / 2) / max);
}

std::uint32_t readPixel(const std::uint8_t* p, int bytes, bool msbFirst) {
  std::uint32_t v = 0;
  if (msbFirst) {
    for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
  } else {
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  }
  return v;
}

}  // namespace

std::string checkLayout(const PixelLayout& layout) {
  if (layout.bitsPerPixel != 16 && layout.bitsPerPixel != 24 && layout.bitsPerPixel != 32)
    return "unsupported pixel size of " + std::to_string(layout.bitsPerPixel) + " bits";
  const std::uint64_t limit = layout.bitsPerPixel == 32 ? 0x100000000ull
                                                         : (1ull << layout.bitsPerPixel);
  for (std::uint32_t mask : {layout.redMask, layout.greenMask, layout.blueMask}) {
    if (!contiguous(mask) || mask >= limit) return "unsupported colour masks";
  }
  if ((layout.redMask & layout.greenMask) || (layout.redMask & layout.blueMask) ||
      (layout.greenMask & layout.blueMask))
    return "overlapping colour masks";
  return {};
}

int directTurboFormat(const PixelLayout& l) {
  // Byte offsets of red/green/blue in memory decide the TurboJPEG format.
  if (l.bitsPerPixel != 32 && l.bitsPerPixel != 24) return -1;
  const int bytes = l.bitsPerPixel / 8;
  auto offset = [&](std::uint32_t mask) -> int {
    switch (mask) {
      case 0x000000ffu: return l.msbFirst ? bytes - 1 : 0;
      case 0x0000ff00u: return l.msbFirst ? bytes - 2 : 1;
      case 0x00ff0000u: return l.msbFirst ? bytes - 3 : 2;
      case 0xff000000u: return bytes == 4 ? (l.msbFirst ? 0 : 3) : -1;
      default: return -1;
    }
  };
  const int r = offset(l.redMask), g = offset(l.greenMask), b = offset(l.blueMask);
  if (r < 0 || g < 0 || b < 0) return -1;
  for (int pf : {TJPF_RGB, TJPF_BGR, TJPF_RGBX, TJPF_BGRX, TJPF_XRGB, TJPF_XBGR}) {
    if (tjPixelSize[pf] == bytes && tjRedOffset[pf] == r && tjGreenOffset[pf] == g &&
        tjBlueOffset[pf] == b)
      return pf;
  }
  return -1;
}

std::vector<std::uint8_t> toRgb(const ImageView& image) {
  const PixelLayout& l = image.layout;
  const int bytes = l.bitsPerPixel / 8;
  const Channel red = channelOf(l.redMask), green = channelOf(l.greenMask),
                blue = channelOf(l.blueMask);
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(image.width) * image.height * 3);
  std::uint8_t* out = rgb.data();
  for (int y = 0; y < image.height; ++y) {
    const std::uint8_t* row = image.data + static_cast<std::ptrdiff_t>(y) * image.stride;
    for (int x = 0; x < image.width; ++x) {
      const std::uint32_t v = readPixel(row + x * bytes, bytes, l.msbFirst);
      *out++ = scaleTo8((v & red.mask) >> red.shift, red.bits);
      *out++ = scaleTo8((v & green.mask) >> green.shift, green.bits);
      *out++ = scaleTo8((v & blue.mask) >> blue.shift, blue.bits);
    }
  }
  return rgb;
}

bool encodeJpeg(const ImageView& image, int quality, std::vector<std::uint8_t>& jpeg,
                std::string& error) {
  if (std::string why = checkLayout(image.layout); !why.empty()) {
    error = why;
    return false;
  }
  if (image.width <= 0 || image.height <= 0 || image.data == nullptr) {
    error = "empty image";
    return false;
  }
  if (image.stride < image.width * (image.layout.bitsPerPixel / 8)) {
    error = "image rows overlap";
    return false;
  }

  const std::uint8_t* pixels = image.data;
  int stride = image.stride;
  int format = directTurboFormat(image.layout);
  std::vector<std::uint8_t> converted;
  if (format < 0) {
    converted = toRgb(image);
    pixels = converted.data();
    stride = image.width * 3;
    format = TJPF_RGB;
  }

  tjhandle handle = tjInitCompress();
  if (handle == nullptr) {
    error = std::string("cannot start the JPEG encoder: ") + tjGetErrorStr2(nullptr);
    return false;
  }
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  const int rc = tjCompress2(handle, pixels, image.width, stride, image.height, format,
                             &buffer, &size, TJSAMP_420, quality, TJFLAG_FASTDCT);
  if (rc != 0) {
    error = std::string("JPEG encoding failed: ") + tjGetErrorStr2(handle);
  } else {
    jpeg.assign(buffer, buffer + size);
  }
  tjFree(buffer);
  tjDestroy(handle);
  return rc == 0;
}

}  // namespace saalwacht::swscr

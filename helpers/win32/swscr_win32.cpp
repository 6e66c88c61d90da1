// swscr PATH: writes a JPEG of the whole screen (all monitors) to PATH. The
// file appears complete or not at all; when the screen cannot be read the
// program writes nothing and exits non-zero, so that no black picture ever
// passes for a screenshot.

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>
#include <string>
#include <vector>

#include "command_line_win32.h"

namespace {

constexpr ULONG kJpegQuality = 80;

struct DcReleaser {
  void operator()(HDC dc) const { ::ReleaseDC(nullptr, dc); }
};
struct DcDeleter {
  void operator()(HDC dc) const { ::DeleteDC(dc); }
};
struct ObjectDeleter {
  void operator()(HGDIOBJ object) const { ::DeleteObject(object); }
};

class GdiPlus {
 public:
  GdiPlus() { ok_ = Gdiplus::GdiplusStartup(&token_, &input_, nullptr) == Gdiplus::Ok; }
  ~GdiPlus() {
    if (ok_) Gdiplus::GdiplusShutdown(token_);
  }
  GdiPlus(const GdiPlus&) = delete;
  GdiPlus& operator=(const GdiPlus&) = delete;
  bool ok() const { return ok_; }

 private:
  Gdiplus::GdiplusStartupInput input_;
  ULONG_PTR token_ = 0;
  bool ok_ = false;
};

bool jpegEncoder(CLSID& clsid) {
  UINT count = 0;
  UINT bytes = 0;
  if (Gdiplus::GetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || bytes == 0) return false;
  std::vector<unsigned char> buffer(bytes);
  auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (Gdiplus::GetImageEncoders(count, bytes, encoders) != Gdiplus::Ok) return false;
  for (UINT i = 0; i < count; ++i) {
    if (std::wstring(encoders[i].MimeType) == L"image/jpeg") {
      clsid = encoders[i].Clsid;
      return true;
    }
  }
  return false;
}

// 32-bit pixels of the virtual screen, top row first, or nothing.
struct Capture {
  int width = 0;
  int height = 0;
  std::unique_ptr<std::remove_pointer_t<HBITMAP>, ObjectDeleter> bitmap;
  void* bits = nullptr;
};

bool captureScreen(Capture& capture) {
  const int left = ::GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int top = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
  capture.width = ::GetSystemMetrics(SM_CXVIRTUALSCREEN);
  capture.height = ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
  if (capture.width <= 0 || capture.height <= 0) return false;

  const std::unique_ptr<std::remove_pointer_t<HDC>, DcReleaser> screen(::GetDC(nullptr));
  if (!screen) return false;
  const std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter> memory(::CreateCompatibleDC(screen.get()));
  if (!memory) return false;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = capture.width;
  info.bmiHeader.biHeight = -capture.height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  capture.bitmap.reset(::CreateDIBSection(memory.get(), &info, DIB_RGB_COLORS, &capture.bits, nullptr, 0));
  if (!capture.bitmap || !capture.bits) return false;
  const HGDIOBJ previous = ::SelectObject(memory.get(), capture.bitmap.get());
  const bool copied = ::BitBlt(memory.get(), 0, 0, capture.width, capture.height, screen.get(), left, top,
                               SRCCOPY | CAPTUREBLT) != 0;
  ::SelectObject(memory.get(), previous);
  ::GdiFlush();
  return copied;
}

bool writeJpeg(const Capture& capture, const std::wstring& path) {
  const GdiPlus gdiplus;
  CLSID encoder{};
  if (!gdiplus.ok() || !jpegEncoder(encoder)) return false;
  Gdiplus::Bitmap bitmap(capture.width, capture.height, capture.width * 4, PixelFormat32bppRGB,
                         static_cast<BYTE*>(capture.bits));
  if (bitmap.GetLastStatus() != Gdiplus::Ok) return false;
  ULONG quality = kJpegQuality;
  Gdiplus::EncoderParameters parameters{};
  parameters.Count = 1;
  parameters.Parameter[0].Guid = Gdiplus::EncoderQuality;
  parameters.Parameter[0].Type = Gdiplus::EncoderParameterValueTypeLong;
  parameters.Parameter[0].NumberOfValues = 1;
  parameters.Parameter[0].Value = &quality;
  return bitmap.Save(path.c_str(), &encoder, &parameters) == Gdiplus::Ok;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const auto args = saalwacht::helpers::programArguments();
  if (args.size() != 1 || args.front().empty()) return 2;
  // Real pixels, not the scaled ones a DPI-unaware program would see.
  ::SetProcessDPIAware();

  Capture capture;
  if (!captureScreen(capture)) return 1;

  const std::wstring& path = args.front();
  const std::wstring temporary = path + L".tmp-" + std::to_wstring(::GetCurrentProcessId());
  if (!writeJpeg(capture, temporary)) {
    ::DeleteFileW(temporary.c_str());
    return 1;
  }
  if (!::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ::DeleteFileW(temporary.c_str());
    return 1;
  }
  return 0;
}

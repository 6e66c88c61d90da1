#pragma once

#include "pixels.h"

#include <string>

namespace saalwacht::swscr {

// Captures the whole X root window (all monitors) once. Uses MIT-SHM when
// the server offers it for this client and plain XGetImage otherwise.
class ScreenCapture {
 public:
  ScreenCapture() = default;
  ~ScreenCapture();
  ScreenCapture(const ScreenCapture&) = delete;
  ScreenCapture& operator=(const ScreenCapture&) = delete;

  // Connects to $DISPLAY.
  bool open(std::string& error);
  bool grab(std::string& error);
  // Valid after a successful grab(), until the object goes away.
  ImageView image() const;
  bool usedSharedMemory() const { return shmId_ >= 0; }

 private:
  bool grabShared(void* visual, int depth, int width, int height);
  void release();

  void* display_ = nullptr;  // Display*; Xlib stays out of this header
  void* image_ = nullptr;    // XImage*
  void* shmInfo_ = nullptr;  // XShmSegmentInfo*
  int shmId_ = -1;
  PixelLayout layout_;
};

}  // namespace saalwacht::swscr

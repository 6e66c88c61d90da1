#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace saalwacht::helpers_test {

// Own connection to a test display; X errors are recorded, not fatal.
class XConnection {
 public:
  explicit XConnection(const std::string& displayName);
  ~XConnection();
  XConnection(const XConnection&) = delete;
  XConnection& operator=(const XConnection&) = delete;

  Display* get() const { return display_; }
  explicit operator bool() const { return display_ != nullptr; }
  Window root() const { return DefaultRootWindow(display_); }
  int width() const;
  int height() const;

 private:
  Display* display_ = nullptr;
};

struct Rgb {
  int r = 0, g = 0, b = 0;
};

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<Rgb> pixels;
  Rgb at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
  // Pixels whose channels are all at most `tolerance`.
  std::size_t countNotBlack(int tolerance = 0) const;
};

// The root window as the X server has it, read with plain XGetImage.
Picture captureRoot(Display* display);

// A mapped window that the window manager leaves alone, filled with one colour.
Window createFilledWindow(Display* display, int x, int y, int width, int height, Rgb colour);

// Viewable direct children of the root whose WM_CLASS contains `needle`
// (case-insensitive).
std::vector<Window> viewableWindowsOfClass(Display* display, const std::string& needle);
// Viewable direct children of the root whose _NET_WM_NAME equals `title`.
std::vector<Window> viewableWindowsTitled(Display* display, const std::string& title);

std::vector<std::string> atomListProperty(Display* display, Window window, const char* name);

// Probes the grabs from this client: true if another client holds them.
// A probe that succeeds is released at once.
bool keyboardHeldByOther(Display* display);
bool pointerHeldByOther(Display* display);

// Polls until done() or the bound is over; returns done()'s last result.
bool pollUntil(const std::function<bool()>& done,
               std::chrono::milliseconds bound = std::chrono::seconds(10));

bool closeTo(Rgb actual, Rgb expected, int tolerance);
std::string describe(Rgb colour);

}  // namespace saalwacht::helpers_test

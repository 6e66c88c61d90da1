#include "x11_test_util.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace saalwacht::helpers_test {

namespace {

int ignoreXError(Display*, XErrorEvent*) { return 0; }

int channel(unsigned long pixel, unsigned long mask) {
  if (mask == 0) return 0;
  const unsigned long value = (pixel & mask) >> std::countr_zero(mask);
  const int bits = std::popcount(mask);
  return static_cast<int>(value * 255 / ((1ul << bits) - 1));
}

unsigned long pixelFor(Visual* visual, Rgb colour) {
  auto part = [](int value, unsigned long mask) -> unsigned long {
    const int bits = std::popcount(mask);
    const unsigned long scaled = static_cast<unsigned long>(value) * ((1ul << bits) - 1) / 255;
    return scaled << std::countr_zero(mask);
  };
  return part(colour.r, visual->red_mask) | part(colour.g, visual->green_mask) |
         part(colour.b, visual->blue_mask);
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::vector<Window> viewableTopLevels(Display* display) {
  std::vector<Window> result;
  Window rootReturn = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display, DefaultRootWindow(display), &rootReturn, &parent, &children, &count))
    return result;
  for (unsigned int i = 0; i < count; ++i) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, children[i], &attributes) &&
        attributes.map_state == IsViewable)
      result.push_back(children[i]);
  }
  if (children) XFree(children);
  return result;
}

}  // namespace

XConnection::XConnection(const std::string& displayName) {
  XSetErrorHandler(ignoreXError);
  display_ = XOpenDisplay(displayName.c_str());
}

XConnection::~XConnection() {
  if (display_) XCloseDisplay(display_);
}

int XConnection::width() const { return DisplayWidth(display_, DefaultScreen(display_)); }
int XConnection::height() const { return DisplayHeight(display_, DefaultScreen(display_)); }

std::size_t Picture::countNotBlack(int tolerance) const {
  return static_cast<std::size_t>(std::count_if(pixels.begin(), pixels.end(), [&](Rgb p) {
    return p.r > tolerance || p.g > tolerance || p.b > tolerance;
  }));
}

Picture captureRoot(Display* display) {
  Picture picture;
  const int screen = DefaultScreen(display);
  const int width = DisplayWidth(display, screen);
  const int height = DisplayHeight(display, screen);
  XImage* image = XGetImage(display, DefaultRootWindow(display), 0, 0, width, height, AllPlanes,
                            ZPixmap);
  if (image == nullptr) return picture;
  Visual* visual = DefaultVisual(display, screen);
  picture.width = width;
  picture.height = height;
  picture.pixels.resize(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const unsigned long p = XGetPixel(image, x, y);
      picture.pixels[static_cast<std::size_t>(y) * width + x] = {
          channel(p, visual->red_mask), channel(p, visual->green_mask),
          channel(p, visual->blue_mask)};
    }
  }
  XDestroyImage(image);
  return picture;
}

Window createFilledWindow(Display* display, int x, int y, int width, int height, Rgb colour) {
  const int screen = DefaultScreen(display);
  XSetWindowAttributes attributes = {};
  attributes.override_redirect = True;
  attributes.background_pixel = pixelFor(DefaultVisual(display, screen), colour);
  const Window window = XCreateWindow(
      display, DefaultRootWindow(display), x, y, static_cast<unsigned>(width),
      static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
      CWOverrideRedirect | CWBackPixel, &attributes);
  XMapRaised(display, window);
  XSync(display, False);
  return window;
}

std::vector<Window> viewableWindowsOfClass(Display* display, const std::string& needle) {
  std::vector<Window> result;
  for (Window window : viewableTopLevels(display)) {
    XClassHint hint = {};
    if (!XGetClassHint(display, window, &hint)) continue;
    const std::string both = std::string(hint.res_name ? hint.res_name : "") + "/" +
                             (hint.res_class ? hint.res_class : "");
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
    if (lower(both).find(lower(needle)) != std::string::npos) result.push_back(window);
  }
  return result;
}

std::vector<Window> viewableWindowsTitled(Display* display, const std::string& title) {
  std::vector<Window> result;
  const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  for (Window window : viewableTopLevels(display)) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, netWmName, 0, 1024, False, utf8, &type, &format,
                           &count, &after, &data) == Success &&
        data != nullptr) {
      if (std::string(reinterpret_cast<char*>(data), count) == title) result.push_back(window);
      XFree(data);
    }
  }
  return result;
}

std::vector<std::string> atomListProperty(Display* display, Window window, const char* name) {
  std::vector<std::string> result;
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 64, False,
                         XA_ATOM, &type, &format, &count, &after, &data) != Success ||
      data == nullptr)
    return result;
  const auto* atoms = reinterpret_cast<const Atom*>(data);
  for (unsigned long i = 0; i < count; ++i) {
    if (char* atomName = XGetAtomName(display, atoms[i])) {
      result.emplace_back(atomName);
      XFree(atomName);
    }
  }
  XFree(data);
  return result;
}

bool keyboardHeldByOther(Display* display) {
  const int rc = XGrabKeyboard(display, DefaultRootWindow(display), False, GrabModeAsync,
                               GrabModeAsync, CurrentTime);
  if (rc == GrabSuccess) {
    XUngrabKeyboard(display, CurrentTime);
    XSync(display, False);
  }
  return rc == AlreadyGrabbed;
}

bool pointerHeldByOther(Display* display) {
  const int rc = XGrabPointer(display, DefaultRootWindow(display), False, ButtonPressMask,
                              GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
  if (rc == GrabSuccess) {
    XUngrabPointer(display, CurrentTime);
    XSync(display, False);
  }
  return rc == AlreadyGrabbed;
}

bool pollUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return true;
}

bool closeTo(Rgb actual, Rgb expected, int tolerance) {
  return std::abs(actual.r - expected.r) <= tolerance &&
         std::abs(actual.g - expected.g) <= tolerance &&
         std::abs(actual.b - expected.b) <= tolerance;
}

std::string describe(Rgb colour) {
  std::ostringstream text;
  text << "rgb(" << colour.r << ", " << colour.g << ", " << colour.b << ")";
  return text.str();
}

}  // namespace saalwacht::helpers_test

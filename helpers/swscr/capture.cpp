#include "capture.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace saalwacht::swscr {

namespace {

// Xlib reports protocol errors asynchronously; remember the last one so a
// failed request can be detected after XSync instead of aborting.
int g_lastXError = 0;

int recordXError(Display*, XErrorEvent* event) {
  g_lastXError = event->error_code;
  return 0;
}

[[noreturn]] int connectionLost(Display*) {
  // Xlib's own handler prints several lines; keep to one.
  std::fputs("swscr: lost the connection to the X display\n", stderr);
  _exit(1);
}

Display* dpy(void* p) { return static_cast<Display*>(p); }
XImage* img(void* p) { return static_cast<XImage*>(p); }

}  // namespace

ScreenCapture::~ScreenCapture() {
  release();
  if (display_) XCloseDisplay(dpy(display_));
}

void ScreenCapture::release() {
  auto* info = static_cast<XShmSegmentInfo*>(shmInfo_);
  if (info) {
    XShmDetach(dpy(display_), info);
    XSync(dpy(display_), False);
    shmdt(info->shmaddr);
    delete info;
    shmInfo_ = nullptr;
    shmId_ = -1;
    // The data belonged to the segment, not to Xlib's allocator.
    if (image_) img(image_)->data = nullptr;
  }
  if (image_) {
    XDestroyImage(img(image_));
    image_ = nullptr;
  }
}

bool ScreenCapture::open(std::string& error) {
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') {
    error = "no X display (DISPLAY is not set)";
    return false;
  }
  XSetErrorHandler(recordXError);
  XSetIOErrorHandler(connectionLost);
  display_ = XOpenDisplay(nullptr);
  if (display_ == nullptr) {
    error = std::string("cannot open X display ") + name;
    return false;
  }
  return true;
}

bool ScreenCapture::grabShared(void* visual, int depth, int width, int height) {
  Display* d = dpy(display_);
  // Ask quietly first: the XShm calls print a warning when it is missing.
  int opcode = 0, firstEvent = 0, firstError = 0;
  if (!XQueryExtension(d, "MIT-SHM", &opcode, &firstEvent, &firstError)) return false;
  int major = 0, minor = 0;
  Bool pixmaps = False;
  if (!XShmQueryVersion(d, &major, &minor, &pixmaps)) return false;

  auto* info = new XShmSegmentInfo{};
  XImage* image = XShmCreateImage(d, static_cast<Visual*>(visual), static_cast<unsigned>(depth),
                                  ZPixmap, nullptr, info, static_cast<unsigned>(width),
                                  static_cast<unsigned>(height));
  if (image == nullptr) {
    delete info;
    return false;
  }
  info->shmid = shmget(IPC_PRIVATE, static_cast<std::size_t>(image->bytes_per_line) * image->height,
                       IPC_CREAT | 0600);
  if (info->shmid < 0) {
    XDestroyImage(image);
    delete info;
    return false;
  }
  info->shmaddr = image->data = static_cast<char*>(shmat(info->shmid, nullptr, 0));
  if (info->shmaddr == reinterpret_cast<char*>(-1)) {
    shmctl(info->shmid, IPC_RMID, nullptr);
    image->data = nullptr;
    XDestroyImage(image);
    delete info;
    return false;
  }
  info->readOnly = False;

  g_lastXError = 0;
  const Bool attached = XShmAttach(d, info);
  XSync(d, False);
  // Mark for removal now: the segment then goes away with the last detach,
  // even if this process is killed.
  shmctl(info->shmid, IPC_RMID, nullptr);
  if (!attached || g_lastXError != 0) {
    // Typically a remote display, where the server cannot see our memory.
    shmdt(info->shmaddr);
    image->data = nullptr;
    XDestroyImage(image);
    delete info;
    return false;
  }

  image_ = image;
  shmInfo_ = info;
  shmId_ = info->shmid;
  const Bool got = XShmGetImage(d, DefaultRootWindow(d), image, 0, 0, AllPlanes);
  XSync(d, False);
  if (!got || g_lastXError != 0) {
    release();
    return false;
  }
  return true;
}

bool ScreenCapture::grab(std::string& error) {
  Display* d = dpy(display_);
  const Window root = DefaultRootWindow(d);
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(d, root, &attributes)) {
    error = "cannot read the root window's attributes";
    return false;
  }
  Visual* visual = attributes.visual;
  if (visual->c_class != TrueColor && visual->c_class != DirectColor) {
    error = "unsupported X visual (not TrueColor), depth " + std::to_string(attributes.depth);
    return false;
  }

  release();
  if (!grabShared(visual, attributes.depth, attributes.width, attributes.height)) {
    g_lastXError = 0;
    XImage* image = XGetImage(d, root, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    XSync(d, False);
    if (image == nullptr || g_lastXError != 0) {
      if (image) XDestroyImage(image);
      error = "cannot capture the screen (XGetImage failed)";
      return false;
    }
    image_ = image;
  }

  const XImage* image = img(image_);
  layout_.bitsPerPixel = image->bits_per_pixel;
  layout_.msbFirst = image->byte_order == MSBFirst;
  layout_.redMask = static_cast<std::uint32_t>(visual->red_mask);
  layout_.greenMask = static_cast<std::uint32_t>(visual->green_mask);
  layout_.blueMask = static_cast<std::uint32_t>(visual->blue_mask);
  if (std::string why = checkLayout(layout_); !why.empty()) {
    error = why + " (depth " + std::to_string(attributes.depth) + ")";
    release();
    return false;
  }
  return true;
}

ImageView ScreenCapture::image() const {
  ImageView view;
  if (const XImage* image = img(image_)) {
    view.data = reinterpret_cast<const std::uint8_t*>(image->data);
    view.width = image->width;
    view.height = image->height;
    view.stride = image->bytes_per_line;
    view.layout = layout_;
  }
  return view;
}

}  // namespace saalwacht::swscr

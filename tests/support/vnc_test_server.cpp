#include "vnc_test_server.h"

#include <arpa/inet.h>
#include <rfb/rfb.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <cstring>
#include <vector>

namespace saalwacht::testing {

namespace {
// Server pixels are R, G, B, unused in memory.
void put(char* p, std::uint32_t rgb) {
  p[0] = static_cast<char>(rgb >> 16);
  p[1] = static_cast<char>(rgb >> 8);
  p[2] = static_cast<char>(rgb);
  p[3] = 0;
}
}  // namespace

struct VncTestServer::State {
  rfbScreenInfoPtr screen = nullptr;
  std::vector<char> pixels;
  std::string password;
  char* passwords[2] = {nullptr, nullptr};
  int width = 0, height = 0;
  std::uint32_t left = 0, right = 0;
  int boxX = 0, boxY = 0, boxW = 0, boxH = 0;
  bool running = false;
  // One thread serves every client: libvncserver's own background mode runs
  // a thread per client and can crash when clients come and go quickly.
  std::thread loop;
  std::atomic<bool> stop{false};
  mutable std::mutex mutex;  // the screen is touched by the loop and by the calls below
  // Guarded by mutex; the hooks run inside the loop, which holds it.
  ScaleAnswer scaleAnswer = ScaleAnswer::Scale;
  int connections = 0;
  int goneScaleRequests = 0;

  static int scaleRequestsOf(rfbClientPtr cl) {
    return rfbStatGetMessageCountRcvd(cl, rfbSetScale) + rfbStatGetMessageCountRcvd(cl, rfbPalmVNCSetScaleFactor);
  }
  static State& of(rfbClientPtr cl) { return *static_cast<State*>(cl->screen->screenData); }
  static void clientGone(rfbClientPtr cl) { of(cl).goneScaleRequests += scaleRequestsOf(cl); }
  static rfbNewClientAction newClient(rfbClientPtr cl) {
    ++of(cl).connections;
    cl->clientGoneHook = clientGone;
    return RFB_CLIENT_ACCEPT;
  }
  // Runs before every update a client gets, before libvncserver looks at a
  // pending size change or at the supported-messages announcement.
  static void beforeUpdate(rfbClientPtr cl) {
    switch (of(cl).scaleAnswer) {
      case ScaleAnswer::Scale:
        break;
      case ScaleAnswer::NotOffered:
        cl->enableSupportedMessages = FALSE;
        break;
      case ScaleAnswer::Ignore:
        if (cl->scaledScreen != cl->screen) {
          cl->scaledScreen->scaledScreenRefCount--;
          cl->scaledScreen = cl->screen;
          cl->screen->scaledScreenRefCount++;
          cl->newFBSizePending = FALSE;
        }
        break;
      case ScaleAnswer::Black:
        if (cl->scaledScreen != cl->screen) {
          std::memset(cl->scaledScreen->frameBuffer, 0,
                      static_cast<std::size_t>(cl->scaledScreen->paddedWidthInBytes) * cl->scaledScreen->height);
        }
        break;
    }
  }
  void paint(int width, int height) {
    pixels.assign(static_cast<std::size_t>(width) * height * 4, 0);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) put(&pixels[(static_cast<std::size_t>(y) * width + x) * 4], x < width / 2 ? left : right);
    }
    this->width = width;
    this->height = height;
    boxW = boxH = 0;
  }
};

VncTestServer::VncTestServer(const std::string& address, int port, int width, int height,
                             const std::string& password, std::uint32_t left, std::uint32_t right)
    : state_(std::make_unique<State>()) {
  auto& s = *state_;
  s.width = width;
  s.height = height;
  s.left = left;
  s.right = right;
  s.password = password;
  s.passwords[0] = s.password.data();
  int argc = 0;
  s.screen = rfbGetScreen(&argc, nullptr, width, height, 8, 3, 4);
  if (!s.screen) return;
  s.paint(width, height);
  s.screen->frameBuffer = s.pixels.data();
  // No pointer drawn into the picture: tests look at every pixel.
  s.screen->cursor = nullptr;
  s.screen->screenData = &s;
  s.screen->newClientHook = State::newClient;
  s.screen->displayHook = State::beforeUpdate;
  s.screen->port = port;
  s.screen->ipv6port = 0;
  s.screen->httpPort = 0;
  s.screen->autoPort = FALSE;
  s.screen->listenInterface = ::inet_addr(address.c_str());
  s.screen->alwaysShared = TRUE;
  s.screen->authPasswdData = s.passwords;
  s.screen->passwordCheck = rfbCheckPasswordByList;
  rfbLogEnable(0);
  rfbInitServer(s.screen);
  s.running = s.screen->listenSock != RFB_INVALID_SOCKET;
  if (s.running) {
    s.loop = std::thread([&s] {
      while (!s.stop) {
        std::lock_guard lock(s.mutex);
        rfbProcessEvents(s.screen, 5000);
      }
    });
  }
}

VncTestServer::~VncTestServer() {
  auto& s = *state_;
  if (!s.screen) return;
  s.stop = true;
  if (s.loop.joinable()) s.loop.join();
  rfbShutdownServer(s.screen, TRUE);
  rfbScreenCleanup(s.screen);
}

bool VncTestServer::running() const { return state_->running; }

void VncTestServer::setScaleAnswer(ScaleAnswer answer) {
  std::lock_guard lock(state_->mutex);
  state_->scaleAnswer = answer;
}

int VncTestServer::scaleRequests() const {
  std::lock_guard lock(state_->mutex);
  int total = state_->goneScaleRequests;
  rfbClientIteratorPtr it = rfbGetClientIterator(state_->screen);
  while (rfbClientPtr cl = rfbClientIteratorNext(it)) total += State::scaleRequestsOf(cl);
  rfbReleaseClientIterator(it);
  return total;
}

int VncTestServer::connections() const {
  std::lock_guard lock(state_->mutex);
  return state_->connections;
}

void VncTestServer::resize(int width, int height) {
  auto& s = *state_;
  std::lock_guard lock(s.mutex);
  std::vector<char> old;
  old.swap(s.pixels);
  s.paint(width, height);
  rfbNewFramebuffer(s.screen, s.pixels.data(), width, height, 8, 3, 4);
}

void VncTestServer::animate(int step) {
  // A box that wanders over the screen and changes colour: like a student
  // moving a window. The rest of the screen stays, as on a real desktop.
  auto& s = *state_;
  std::lock_guard lock(s.mutex);
  const int boxW = std::min(240, s.width), boxH = std::min(160, s.height);
  const int x = (step * 37) % std::max(1, s.width - boxW), y = (step * 23) % std::max(1, s.height - boxH);
  const std::uint32_t colour = (static_cast<std::uint32_t>(step * 40) & 0xff) << 16 | 0x8040;
  if (s.boxW > 0) {
    for (int row = s.boxY; row < s.boxY + s.boxH; ++row) {
      for (int col = s.boxX; col < s.boxX + s.boxW; ++col) {
        put(&s.pixels[(static_cast<std::size_t>(row) * s.width + col) * 4], col < s.width / 2 ? s.left : s.right);
      }
    }
    rfbMarkRectAsModified(s.screen, s.boxX, s.boxY, s.boxX + s.boxW, s.boxY + s.boxH);
  }
  for (int row = y; row < y + boxH; ++row) {
    for (int col = x; col < x + boxW; ++col) put(&s.pixels[(static_cast<std::size_t>(row) * s.width + col) * 4], colour ^ static_cast<std::uint32_t>(col * row));
  }
  rfbMarkRectAsModified(s.screen, x, y, x + boxW, y + boxH);
  s.boxX = x;
  s.boxY = y;
  s.boxW = boxW;
  s.boxH = boxH;
}

long long VncTestServer::bytesSent() const {
  long long total = 0;
  std::lock_guard lock(state_->mutex);
  rfbClientIteratorPtr it = rfbGetClientIterator(state_->screen);
  while (rfbClientPtr cl = rfbClientIteratorNext(it)) total += rfbStatGetSentBytes(cl);
  rfbReleaseClientIterator(it);
  return total;
}

}  // namespace saalwacht::testing

#include "vnc_test_server.h"

#include <arpa/inet.h>
#include <rfb/rfb.h>

#include <cstring>
#include <vector>

namespace saalwacht::testing {

struct VncTestServer::State {
  rfbScreenInfoPtr screen = nullptr;
  std::vector<char> pixels;
  std::string password;
  char* passwords[2] = {nullptr, nullptr};
  int width = 0, height = 0;
  bool running = false;
};

namespace {
// Server pixels are R, G, B, unused in memory.
void put(char* p, std::uint32_t rgb) {
  p[0] = static_cast<char>(rgb >> 16);
  p[1] = static_cast<char>(rgb >> 8);
  p[2] = static_cast<char>(rgb);
  p[3] = 0;
}
}  // namespace

VncTestServer::VncTestServer(const std::string& address, int port, int width, int height,
                             const std::string& password, std::uint32_t left, std::uint32_t right)
    : state_(std::make_unique<State>()) {
  auto& s = *state_;
  s.width = width;
  s.height = height;
  s.password = password;
  s.passwords[0] = s.password.data();
  int argc = 0;
  s.screen = rfbGetScreen(&argc, nullptr, width, height, 8, 3, 4);
  if (!s.screen) return;
  s.pixels.resize(static_cast<std::size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) put(&s.pixels[(static_cast<std::size_t>(y) * width + x) * 4], x < width / 2 ? left : right);
  }
  s.screen->frameBuffer = s.pixels.data();
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
  if (s.running) rfbRunEventLoop(s.screen, 10000, TRUE);
}

VncTestServer::~VncTestServer() {
  auto& s = *state_;
  if (!s.screen) return;
  rfbShutdownServer(s.screen, TRUE);
  rfbScreenCleanup(s.screen);
}

bool VncTestServer::running() const { return state_->running; }

void VncTestServer::animate(int step) {
  auto& s = *state_;
  for (int y = 0; y < s.height; ++y) {
    for (int x = 0; x < s.width; ++x) {
      const std::uint32_t rgb = (static_cast<std::uint32_t>((x + step * 7) & 0xff) << 16) |
                                (static_cast<std::uint32_t>((y + step * 3) & 0xff) << 8) |
                                static_cast<std::uint32_t>((x ^ y ^ step) & 0xff);
      put(&s.pixels[(static_cast<std::size_t>(y) * s.width + x) * 4], rgb);
    }
  }
  rfbMarkRectAsModified(s.screen, 0, 0, s.width, s.height);
}

long long VncTestServer::bytesSent() const {
  long long total = 0;
  rfbClientIteratorPtr it = rfbGetClientIterator(state_->screen);
  while (rfbClientPtr cl = rfbClientIteratorNext(it)) total += rfbStatGetSentBytes(cl);
  rfbReleaseClientIterator(it);
  return total;
}

}  // namespace saalwacht::testing

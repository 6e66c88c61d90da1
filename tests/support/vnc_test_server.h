#pragma once
// An in-process VNC server (libvncserver) for tests and benchmarks: a screen
// of one colour per half, with a password, on a loopback address. It serves
// on a background thread until it is destroyed.

#include <cstdint>
#include <memory>
#include <string>

namespace saalwacht::testing {

class VncTestServer {
 public:
  // left/right: 0xRRGGBB of the two halves of the screen.
  VncTestServer(const std::string& address, int port, int width, int height, const std::string& password,
                std::uint32_t left = 0xd02020, std::uint32_t right = 0x2040d0);
  ~VncTestServer();
  VncTestServer(const VncTestServer&) = delete;
  VncTestServer& operator=(const VncTestServer&) = delete;

  bool running() const;
  // Moves a changing box one step over the screen (a benchmark's live screen).
  void animate(int step);
  // Bytes sent to all clients so far.
  long long bytesSent() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace saalwacht::testing

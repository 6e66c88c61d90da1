#pragma once
// An in-process VNC server (libvncserver) for tests and benchmarks: a screen
// of one colour per half, with a password, on a loopback address. It serves
// on a background thread until it is destroyed. It scales the screen for a
// client that asks, or plays a server that does not.

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

  // How the server treats a client's request to scale its screen.
  enum class ScaleAnswer {
    Scale,       // scales, as libvncserver does
    NotOffered,  // does not list the request among the messages it takes
    Ignore,      // takes the request and goes on with the full screen
    Black,       // answers with a scaled screen that stays black
  };
  void setScaleAnswer(ScaleAnswer answer);
  // Scale requests received and clients accepted so far.
  int scaleRequests() const;
  int connections() const;
  // The screen takes a new size, like a changed resolution.
  void resize(int width, int height);
  // Moves a changing box one step over the screen (a benchmark's live screen).
  void animate(int step);
  // Bytes sent to all clients so far.
  long long bytesSent() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace saalwacht::testing

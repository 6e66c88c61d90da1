#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "platform/quit_signal.h"

namespace saalwacht::platform {
namespace {

int writeEnd = -1;

// Only async-signal-safe work: one byte into the pipe.
void onQuitSignal(int) {
  const int saved = errno;
  const char byte = 'q';
  [[maybe_unused]] auto written = ::write(writeEnd, &byte, 1);
  errno = saved;
}

}  // namespace

int quitRequestDescriptor() {
  static int readEnd = -1;
  if (readEnd >= 0) return readEnd;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
  readEnd = fds[0];
  writeEnd = fds[1];
  struct sigaction action {};
  action.sa_handler = onQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  // A student PC that drops a thumbnail's connection must not end the
  // console: libvncclient writes to its sockets with plain write().
  ::signal(SIGPIPE, SIG_IGN);
  return readEnd;
}

void drainQuitRequests(int descriptor) {
  char buffer[64];
  while (::read(descriptor, buffer, sizeof buffer) > 0) {
  }
}

}  // namespace saalwacht::platform

// A stand-in for the VNC programs in tests and the demo. It appends its
// command line to the file named by VNC_STANDIN_LOG (one line per start,
// arguments separated by '|'), then:
//   with "-connect" among its arguments: hands over and ends after 300 ms,
//     as a VNC server's remote-control call does;
//   with "-exit": ends at once;
//   otherwise: runs until it is ended (a server, or a viewer window).

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  std::string line = argv[0];
  bool connect = false, exitAtOnce = false;
  for (int i = 1; i < argc; ++i) {
    line += '|';
    line += argv[i];
    connect = connect || std::strcmp(argv[i], "-connect") == 0;
    exitAtOnce = exitAtOnce || std::strcmp(argv[i], "-exit") == 0;
  }
  line += '\n';
  if (const char* log = std::getenv("VNC_STANDIN_LOG")) {
    const int fd = ::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd >= 0) {
      [[maybe_unused]] auto written = ::write(fd, line.data(), line.size());
      ::close(fd);
    }
  }
  if (exitAtOnce) return 0;
  if (connect) {
    ::usleep(300'000);
    return 0;
  }
  for (;;) ::pause();
}

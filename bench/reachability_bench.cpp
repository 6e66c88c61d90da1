// One pass of the reachability monitor over 8 answering and 2 silent seats,
// with real ICMP echo tests, against the pacing the echo test is built to:
// an answering PC costs two 200 ms pauses and three round trips, a silent one
// a single 1000 ms time-out, so a pass should take about 8 x 0.4 s + 2 x 1 s.
// The bench runs in a private network namespace (so it needs root) whose only
// device is loopback: the answering PCs are loopback addresses; the silent
// ones are routed onto loopback too, where nobody owns them and the packets
// are dropped. Nothing can leave the machine.
// Run: build/bin/reachability_bench

#include <QApplication>
#include <QElapsedTimer>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "console/console.h"
#include "console/message_display.h"
#include "platform/echo.h"
#include "platform/launcher.h"
#include "platform/posix/spawn_posix.h"
#include "platform/processes.h"
#include "platform/system.h"
#include "console_fakes.h"
#include "temp_dir.h"

using namespace saalwacht;
using namespace std::chrono;
namespace fs = std::filesystem;

namespace {

bool run(const std::vector<std::string>& argv) {
  auto child = platform::posix::spawn({argv[0], {argv.begin() + 1, argv.end()}, std::nullopt, std::nullopt});
  if (!child) return false;
  int status = 0;
  child->waitForExit(seconds(10));
  ::waitpid(child->pid(), &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread exists: a network of our own, with two silent addresses.
  if (::unshare(CLONE_NEWNET) != 0) {
    std::fprintf(stderr, "reachability_bench: needs root for a private network namespace\n");
    return 1;
  }
  const std::string ip = fs::exists("/usr/sbin/ip") ? "/usr/sbin/ip" : "/sbin/ip";
  if (!run({ip, "link", "set", "lo", "up"}) || !run({ip, "route", "add", "10.99.0.0/24", "dev", "lo"})) {
    std::fprintf(stderr, "reachability_bench: cannot set up the private network (iproute2)\n");
    return 1;
  }

  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::vector<std::string> names = {"127.0.0.51", "127.0.0.52", "127.0.0.53", "127.0.0.54", "10.99.0.2",
                                          "127.0.0.55", "127.0.0.56", "127.0.0.57", "127.0.0.58", "10.99.0.3"};
  testing::TempDir home("reachability_bench");
  {
    std::ofstream ini(home.path() / "saalwacht.ini");
    ini << "[Raum]\n";
    for (std::size_t i = 0; i < names.size(); ++i) ini << "rechnername" << i + 1 << "=" << names[i] << "\n";
  }
  std::string error;
  fs::copy_file(platform::executableDir() / "saalwacht.bmp", home.path() / "saalwacht.bmp");
  console::writeRemotePassword(home.path() / "saalwacht.bmp", "bench123", error);

  auto launcher = platform::createProgramLauncher();
  auto processes = platform::createProcessControl();
  auto echo = platform::createEchoTest();
  if (!echo->missingPermission().empty()) {
    std::fprintf(stderr, "reachability_bench: no ICMP permission\n");
    return 1;
  }
  testing::RecordingMessages messages;
  messages.echoToStderr = true;
  const auto bin = platform::executableDir();
  console::Console teacher({bin / "saalwacht", bin, home.path()}, {*launcher, *processes, *echo, messages});
  if (auto failed = teacher.start()) {
    std::fprintf(stderr, "reachability_bench: %s\n", failed->toStdString().c_str());
    return 1;
  }

  // Time each arrival of the walk at seat 1; a pass is the time between two.
  std::vector<double> arrivals;
  QElapsedTimer clock;
  clock.start();
  int last = teacher.seatCursor();
  while (arrivals.size() < 4 && clock.elapsed() < 60000) {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(milliseconds(1));
    const int cursor = teacher.seatCursor();
    if (cursor != last && cursor == 1) arrivals.push_back(clock.nsecsElapsed() / 1e6);
    last = cursor;
  }
  if (arrivals.size() < 2) {
    std::fprintf(stderr, "reachability_bench: the walk did not come round\n");
    return 1;
  }
  std::vector<double> passes;
  for (std::size_t i = 1; i < arrivals.size(); ++i) passes.push_back(arrivals[i] - arrivals[i - 1]);
  std::sort(passes.begin(), passes.end());
  int enabled = 0;
  for (std::size_t seat = 1; seat <= names.size(); ++seat) enabled += teacher.mainWindow().seatButton(seat)->isEnabled();

  const double expected = 8 * 400.0 + 2 * 1000.0;
  const double measured = passes[passes.size() / 2];
  std::printf("reachability pass over 8 answering + 2 silent seats: median %.0f ms over %zu passes\n", measured,
              passes.size());
  std::printf("pacing of the echo test (8 x 2 x 200 ms + 2 x 1000 ms):  %.0f ms   ratio %.3f\n", expected,
              measured / expected);
  std::printf("seats shown as reachable: %d of 10 (8 expected)\n", enabled);
  teacher.monitor().stop();
  return 0;
}

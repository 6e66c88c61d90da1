// 48 live thumbnails on this machine: 48 VNC servers (libvncserver, in a
// separate process) with changing 1920x1080 screens on 127.0.5.1 to
// 127.0.5.48, and the console showing all 48 seats with thumbnails.
// Measured in one run, first with server-side scaling, then without:
//  - the console's CPU share (of one core) and its resident memory;
//  - bytes the servers sent per thumbnail per second.
// Run: build/bin/thumbnail_bench

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <thread>

#include "console/console.h"
#include "console/message_display.h"
#include "platform/echo.h"
#include "platform/launcher.h"
#include "platform/processes.h"
#include "platform/system.h"
#include "console_fakes.h"
#include "temp_dir.h"
#include "vnc_test_server.h"

using namespace saalwacht;
using namespace std::chrono;
namespace fs = std::filesystem;

namespace {

constexpr int kSeats = 48;
constexpr int kPort = 5900;

std::string address(int seat) { return "127.0.5." + std::to_string(seat); }

// The student screens: 48 servers changing 5 times a second; the bytes sent
// so far are written to `report` every 100 ms.
int serve(const std::string& report) {
  std::vector<std::unique_ptr<testing::VncTestServer>> servers;
  for (int seat = 1; seat <= kSeats; ++seat) {
    servers.push_back(std::make_unique<testing::VncTestServer>(address(seat), kPort, 1920, 1080, "bench123"));
    if (!servers.back()->running()) return 1;
  }
  for (int step = 0;; ++step) {
    for (auto& s : servers) s->animate(step);
    std::this_thread::sleep_for(milliseconds(200));
    long long total = 0;
    for (auto& s : servers) total += s->bytesSent();
    std::ofstream(report + ".tmp", std::ios::trunc) << total;
    fs::rename(report + ".tmp", report);
  }
}

long long readBytes(const fs::path& report) {
  return std::atoll(platform::readFile(report).value_or("0").c_str());
}

double cpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long rssKb() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--serve") return serve(argv[2]);

  testing::TempDir work("thumbnail_bench");
  const fs::path report = work.path() / "bytes";
  const pid_t server = ::fork();
  if (server == 0) {
    ::execl("/proc/self/exe", "thumbnail_bench", "--serve", report.c_str(), nullptr);
    ::_exit(127);
  }
  struct EndServer {
    pid_t pid;
    ~EndServer() {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
  } endServer{server};
  for (int i = 0; i < 300 && !fs::exists(report); ++i) std::this_thread::sleep_for(milliseconds(100));
  if (!fs::exists(report)) {
    std::fprintf(stderr, "thumbnail_bench: the VNC servers did not come up\n");
    return 1;
  }

  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  {
    std::ofstream ini(work.path() / "saalwacht.ini");
    ini << "[Raum]\n";
    for (int seat = 1; seat <= kSeats; ++seat) ini << "rechnername" << seat << "=" << address(seat) << "\n";
    ini << "[Befehle]\nSchuelermonitor_holen_port=" << kPort << "\n";
  }
  std::string error;
  fs::copy_file(platform::executableDir() / "saalwacht.bmp", work.path() / "saalwacht.bmp");
  console::writeRemotePassword(work.path() / "saalwacht.bmp", "bench123", error);
  auto launcher = platform::createProgramLauncher();
  auto processes = platform::createProcessControl();
  // Answers like a PC on the network: three round trips with two 200 ms pauses.
  testing::FakeEcho echo;
  echo.everyone = true;
  echo.delay = milliseconds(400);
  testing::RecordingMessages messages;
  messages.echoToStderr = true;
  const auto bin = platform::executableDir();
  console::Console teacher({bin / "saalwacht", bin, work.path()}, {*launcher, *processes, echo, messages});
  if (auto failed = teacher.start()) {
    std::fprintf(stderr, "thumbnail_bench: %s\n", failed->toStdString().c_str());
    return 1;
  }

  for (const bool scaling : {true, false}) {
    for (int seat = 1; seat <= kSeats; ++seat) teacher.viewer(seat)->setServerSideScaling(scaling);
    teacher.mainWindow().action("Miniaturbildereinblenden1")->trigger();
    // The seat walk connects one seat per visit; wait until all 48 show frames.
    const bool all = testing::within(seconds(60), [&] {
      for (int seat = 1; seat <= kSeats; ++seat) {
        if (teacher.viewer(seat)->frame().isNull()) return false;
      }
      return true;
    });
    if (!all) std::fprintf(stderr, "thumbnail_bench: not every thumbnail showed a frame\n");
    testing::within(seconds(2), [] { return false; });
    const long long bytesBefore = readBytes(report);
    const double cpuBefore = cpuSeconds();
    const auto begin = steady_clock::now();
    testing::within(seconds(20), [] { return false; });
    const double wall = duration<double>(steady_clock::now() - begin).count();
    const double cpu = cpuSeconds() - cpuBefore;
    const double perThumb = (readBytes(report) - bytesBefore) / wall / kSeats;
    std::printf("%s server-side scaling: console CPU %.1f %% of one core, RSS %ld KiB, %.1f KiB per thumbnail per s\n",
                scaling ? "with   " : "without", 100 * cpu / wall, rssKb(), perThumb / 1024);
    teacher.mainWindow().action("Miniaturbilderausblenden1")->trigger();
    testing::within(seconds(10), [&] {
      for (int seat = 1; seat <= kSeats; ++seat) {
        if (teacher.viewer(seat)->connectionUp()) return false;
      }
      return true;
    });
  }
  teacher.monitor().stop();
  return 0;
}

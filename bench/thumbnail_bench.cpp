// 48 live thumbnails (zoom 14, 144 x 104) of changing 1920 x 1080 screens on
// this machine, against both kinds of student VNC server, each with and
// without server-side scaling, in one run:
//  - the libvncserver test server: 48 of them in a separate process;
//  - x11vnc as the demo runs it, each on an Xvfb desktop of its own, with a
//    box wandering over every desktop;
// all on 127.0.5.1 to 127.0.5.48, port 5900. Each of the four rounds is a
// fresh console process with 48 seats, so no round inherits another's heap.
// Measured over 20 s once all 48 show pictures (and, with scaling, all are
// scaled by their server):
//  - the console's CPU share of one core, its resident memory, and the
//    resident memory that showing the thumbnails added, per thumbnail;
//  - bytes the console received per thumbnail per second (TCP_INFO of its
//    VNC connections).
// The baseline is the same round without server-side scaling.
// Run: build/bin/thumbnail_bench   (needs Xvfb and x11vnc)

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <arpa/inet.h>
#include <dirent.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>
#include <type_traits>

#include "console/console.h"
#include "console/message_display.h"
#include "console/thumbnail_viewer.h"
#include "platform/echo.h"
#include "platform/launcher.h"
#include "platform/processes.h"
#include "platform/system.h"
#include "console_fakes.h"
#include "temp_dir.h"
#include "vnc_test_server.h"
#include "xvfb.h"

// Last: Xlib defines names that Qt uses.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace saalwacht;
using namespace std::chrono;
namespace fs = std::filesystem;

namespace {

constexpr int kSeats = 48;
constexpr int kPort = 5900;
constexpr int kWidth = 1920, kHeight = 1080;
constexpr auto kMeasureFor = seconds(20);
const char* const kPassword = "bench123";

std::string address(int seat) { return "127.0.5." + std::to_string(seat); }

// A box that wanders over the screen and changes colour, like a student
// moving a window: the same steps and pixels on both kinds of server
// (VncTestServer::animate draws it there).
struct Box {
  int x, y, w = 240, h = 160;
  std::uint32_t colour;
  static Box at(int step) {
    return {(step * 37) % (kWidth - 240), (step * 23) % (kHeight - 160), 240, 160,
            (static_cast<std::uint32_t>(step * 40) & 0xff) << 16 | 0x8040};
  }
};

// ------------------------------------------------------------ student servers

// The test servers: their screens change 5 times a second until `stop`.
class TestServerClassroom {
 public:
  bool start() {
    for (int seat = 1; seat <= kSeats; ++seat) {
      servers_.push_back(std::make_unique<testing::VncTestServer>(address(seat), kPort, kWidth, kHeight, kPassword));
      if (!servers_.back()->running()) return false;
    }
    animator_ = std::thread([this] {
      for (int step = 0; !stop_; ++step) {
        for (auto& s : servers_) s->animate(step);
        std::this_thread::sleep_for(milliseconds(200));
      }
    });
    return true;
  }
  ~TestServerClassroom() {
    stop_ = true;
    if (animator_.joinable()) animator_.join();
  }

 private:
  std::vector<std::unique_ptr<testing::VncTestServer>> servers_;
  std::thread animator_;
  std::atomic<bool> stop_{false};
};

// A program of ours with its output in a log file; ended by its pid.
class Started {
 public:
  Started(const std::vector<std::string>& argv, const fs::path& log) {
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) {
        ::dup2(fd, 1);
        ::dup2(fd, 2);
      }
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      ::execvp(args[0], args.data());
      ::_exit(127);
    }
  }
  ~Started() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  Started(const Started&) = delete;
  Started& operator=(const Started&) = delete;
  bool running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }

 private:
  pid_t pid_ = -1;
};

bool listening(const std::string& host, int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  ::inet_pton(AF_INET, host.c_str(), &to.sin_addr);
  const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
  ::close(fd);
  return up;
}

// 48 Xvfb desktops, each with x11vnc as the demo starts it on a student PC,
// and one thread that moves a box over every desktop 5 times a second.
class X11vncClassroom {
 public:
  bool start(const fs::path& logs) {
    for (int seat = 1; seat <= kSeats; ++seat) {
      auto display = std::make_unique<testing::XvfbDisplay>();
      if (!display->start(kWidth, kHeight)) {
        std::fprintf(stderr, "thumbnail_bench: Xvfb: %s\n", display->message().c_str());
        return false;
      }
      Display* x = XOpenDisplay(display->name().c_str());
      if (!x) return false;
      // A desktop colour of its own for every PC.
      const unsigned long background = 0x204060 + static_cast<unsigned long>(seat) * 0x030201;
      XSetWindowBackground(x, DefaultRootWindow(x), background);
      XClearWindow(x, DefaultRootWindow(x));
      XFlush(x);
      servers_.push_back(std::make_unique<Started>(
          std::vector<std::string>{"x11vnc", "-display", display->name(), "-listen", address(seat), "-rfbport",
                                   std::to_string(kPort), "-noipv6", "-passwd", kPassword, "-forever", "-shared",
                                   "-quiet", "-noxdamage", "-nowf", "-nowcr"},
          logs / ("x11vnc-" + std::to_string(seat) + ".log")));
      connections_.push_back({x, background});
      displays_.push_back(std::move(display));
    }
    for (int seat = 1; seat <= kSeats; ++seat) {
      const auto deadline = steady_clock::now() + seconds(60);
      while (!listening(address(seat), kPort)) {
        if (steady_clock::now() > deadline || !servers_[seat - 1]->running()) {
          std::fprintf(stderr, "thumbnail_bench: x11vnc on %s did not come up\n", address(seat).c_str());
          return false;
        }
        std::this_thread::sleep_for(milliseconds(100));
      }
    }
    animator_ = std::thread([this] {
      std::vector<char> pixels(240 * 160 * 4);
      for (int step = 0; !stop_; ++step) {
        const Box old = Box::at(step - 1), now = Box::at(step);
        auto* pixel = reinterpret_cast<std::uint32_t*>(pixels.data());
        for (int row = now.y; row < now.y + now.h; ++row) {
          for (int col = now.x; col < now.x + now.w; ++col) {
            *pixel++ = (now.colour ^ static_cast<std::uint32_t>(col * row)) & 0xffffff;
          }
        }
        for (auto& [x, background] : connections_) {
          if (step > 0) XClearArea(x, DefaultRootWindow(x), old.x, old.y, old.w, old.h, False);
          XImage* image = XCreateImage(x, DefaultVisual(x, DefaultScreen(x)), 24, ZPixmap, 0, pixels.data(), now.w,
                                       now.h, 32, 0);
          XPutImage(x, DefaultRootWindow(x), DefaultGC(x, DefaultScreen(x)), image, 0, 0, now.x, now.y, now.w,
                    now.h);
          image->data = nullptr;  // ours, not Xlib's to free
          XDestroyImage(image);
          XFlush(x);
        }
        std::this_thread::sleep_for(milliseconds(200));
      }
    });
    return true;
  }
  ~X11vncClassroom() {
    stop_ = true;
    if (animator_.joinable()) animator_.join();
    servers_.clear();
    for (auto& [x, background] : connections_) XCloseDisplay(x);
  }

 private:
  std::vector<std::unique_ptr<testing::XvfbDisplay>> displays_;
  std::vector<std::unique_ptr<Started>> servers_;
  std::vector<std::pair<Display*, unsigned long>> connections_;
  std::thread animator_;
  std::atomic<bool> stop_{false};
};

// Serves one kind of student PC in this process (a child of the benchmark)
// until SIGTERM; `ready` appears once all 48 listen.
int terminatePipe[2] = {-1, -1};

template <typename Classroom>
int serve(const fs::path& ready, const fs::path& logs) {
  // A handler, not a blocked signal: the servers started from here inherit
  // the signal mask, but not the handler.
  if (::pipe(terminatePipe) != 0) return 1;
  ::signal(SIGTERM, [](int) {
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(terminatePipe[1], &byte, 1);
  });
  {
    Classroom classroom;
    if constexpr (std::is_same_v<Classroom, X11vncClassroom>) {
      if (!classroom.start(logs)) return 1;
    } else {
      if (!classroom.start()) return 1;
    }
    std::ofstream(ready) << "ready";
    char byte = 0;
    while (::read(terminatePipe[0], &byte, 1) < 0 && errno == EINTR) {
    }
  }
  return 0;
}

// The servers of one kind in a child process, ended with it.
class Servers {
 public:
  Servers(const char* kind, const fs::path& work) {
    const fs::path ready = work / (std::string(kind) + "-ready");
    pid_ = ::fork();
    if (pid_ == 0) {
      // The student PCs share this machine with the console here, not in a
      // classroom: they give way to it.
      [[maybe_unused]] const int niceness = ::nice(10);
      ::execl("/proc/self/exe", "thumbnail_bench", "--serve", kind, ready.c_str(), work.c_str(), nullptr);
      ::_exit(127);
    }
    const auto deadline = steady_clock::now() + seconds(180);
    while (!fs::exists(ready) && steady_clock::now() < deadline && ::waitpid(pid_, nullptr, WNOHANG) == 0) {
      std::this_thread::sleep_for(milliseconds(100));
    }
    up_ = fs::exists(ready);
  }
  ~Servers() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  Servers(const Servers&) = delete;
  Servers& operator=(const Servers&) = delete;
  bool up() const { return up_; }

 private:
  pid_t pid_ = -1;
  bool up_ = false;
};

// ------------------------------------------------------------ the console

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

// Bytes received so far on each of this process's TCP connections to a VNC
// server, by socket inode.
std::map<ino_t, unsigned long long> receivedFromVncServers() {
  std::map<ino_t, unsigned long long> bytes;
  DIR* fds = ::opendir("/proc/self/fd");
  if (!fds) return bytes;
  while (dirent* entry = ::readdir(fds)) {
    const int fd = std::atoi(entry->d_name);
    struct stat info {};
    if (fd <= 2 || ::fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode)) continue;
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 || peer.sin_family != AF_INET ||
        ntohs(peer.sin_port) != kPort) {
      continue;
    }
    tcp_info tcp{};
    socklen_t size = sizeof tcp;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &tcp, &size) == 0) bytes[info.st_ino] = tcp.tcpi_bytes_received;
  }
  ::closedir(fds);
  return bytes;
}

// The console's own event loop, as in the program: polling for a condition
// would cost CPU of its own.
void runEventLoop(milliseconds time) {
  QEventLoop loop;
  QTimer::singleShot(time, &loop, &QEventLoop::quit);
  loop.exec();
}

struct Figures {
  double cpuPercent = 0;
  long rssKb = 0;
  long perThumbnailKb = 0;
  double receivedPerThumbnail = 0;  // bytes per second
  int showing = 0, scaledByServer = 0;
};

// One round in this process: the console with 48 seats and their thumbnails.
int measureConsole(int argc, char** argv, bool scaling, const fs::path& result) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  testing::TempDir work("thumbnail_bench_console");
  {
    std::ofstream ini(work.path() / "saalwacht.ini");
    ini << "[Raum]\n";
    for (int seat = 1; seat <= kSeats; ++seat) ini << "rechnername" << seat << "=" << address(seat) << "\n";
    // Thumbnails hidden at start, so every viewer gets this round's setting first.
    ini << "[Befehle]\nSchuelermonitor_holen_port=" << kPort
        << "\n[Einstellungen]\nGroesse_der_Miniaturbilder=14\nMiniaturbilder=ausblenden\n";
  }
  std::string error;
  fs::copy_file(platform::executableDir() / "saalwacht.bmp", work.path() / "saalwacht.bmp");
  console::writeRemotePassword(work.path() / "saalwacht.bmp", kPassword, error);
  auto launcher = platform::createProgramLauncher();
  auto processes = platform::createProcessControl();
  // Answers like a PC on the network: three round trips with two 200 ms pauses.
  testing::FakeEcho echo;
  echo.everyone = true;
  echo.delay = milliseconds(400);
  testing::RecordingMessages messages;
  messages.echoToStderr = true;
  const auto bin = platform::executableDir();
  Figures figures;
  {
    console::Console teacher({bin / "saalwacht", bin, work.path()}, {*launcher, *processes, echo, messages});
    if (auto failed = teacher.start()) {
      std::fprintf(stderr, "thumbnail_bench: %s\n", failed->toStdString().c_str());
      return 1;
    }
    runEventLoop(seconds(2));
    const long rssBefore = rssKb();
    for (int seat = 1; seat <= kSeats; ++seat) teacher.viewer(seat)->setServerSideScaling(scaling);
    teacher.mainWindow().action("Miniaturbildereinblenden1")->trigger();
    const auto count = [&] {
      figures.showing = figures.scaledByServer = 0;
      for (int seat = 1; seat <= kSeats; ++seat) {
        const auto* viewer = teacher.viewer(seat);
        if (viewer->frame().isNull()) continue;
        ++figures.showing;
        if (viewer->sourceSize().width() < kWidth) ++figures.scaledByServer;
      }
    };
    // The seat walk connects one seat per visit; wait until all 48 show
    // pictures, made by their servers where they are asked to scale.
    testing::within(seconds(120), [&] {
      count();
      return figures.showing == kSeats && (!scaling || figures.scaledByServer == kSeats);
    });
    runEventLoop(seconds(3));
    std::fprintf(stderr, "thumbnail_bench: %s server-side scaling, %d of %d showing, measuring for %lld s\n",
                 scaling ? "with" : "without", figures.showing, kSeats, static_cast<long long>(kMeasureFor.count()));
    const auto bytesBefore = receivedFromVncServers();
    const double cpuBefore = cpuSeconds();
    const auto begin = steady_clock::now();
    runEventLoop(kMeasureFor);
    const double wall = duration<double>(steady_clock::now() - begin).count();
    figures.cpuPercent = 100 * (cpuSeconds() - cpuBefore) / wall;
    unsigned long long received = 0;
    for (const auto& [socket, bytes] : receivedFromVncServers()) {
      const auto before = bytesBefore.find(socket);
      if (before != bytesBefore.end()) received += bytes - before->second;
    }
    figures.receivedPerThumbnail = received / wall / kSeats;
    figures.rssKb = rssKb();
    figures.perThumbnailKb = (figures.rssKb - rssBefore) / kSeats;
    count();
    teacher.mainWindow().action("Miniaturbilderausblenden1")->trigger();
    testing::within(seconds(10), [&] {
      for (int seat = 1; seat <= kSeats; ++seat) {
        if (teacher.viewer(seat)->connectionUp()) return false;
      }
      return true;
    });
    teacher.monitor().stop();
  }
  std::ofstream(result) << figures.cpuPercent << ' ' << figures.rssKb << ' ' << figures.perThumbnailKb << ' '
                        << figures.receivedPerThumbnail << ' ' << figures.showing << ' ' << figures.scaledByServer;
  return 0;
}

// Runs one round in a fresh console process.
std::optional<Figures> runRound(bool scaling, const fs::path& work) {
  const fs::path result = work / (scaling ? "with" : "without");
  fs::remove(result);
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl("/proc/self/exe", "thumbnail_bench", "--console", scaling ? "1" : "0", result.c_str(), nullptr);
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  std::ifstream in(result);
  Figures f;
  if (!(in >> f.cpuPercent >> f.rssKb >> f.perThumbnailKb >> f.receivedPerThumbnail >> f.showing >> f.scaledByServer)) {
    return std::nullopt;
  }
  return f;
}

struct Kind {
  const char* name;
  std::optional<Figures> with, without;
};

void print(const Kind& kind) {
  for (const bool scaling : {true, false}) {
    const auto& f = scaling ? kind.with : kind.without;
    if (!f) {
      std::printf("%-12s %-8s  (no figures)\n", kind.name, scaling ? "with" : "without");
      continue;
    }
    std::printf("%-12s %-8s  CPU %5.1f %% of one core   RSS %6.1f MiB   %5.2f MiB per thumbnail   "
                "%7.1f KiB per thumbnail per s   %d showing, %d scaled by the server\n",
                kind.name, scaling ? "with" : "without", f->cpuPercent, f->rssKb / 1024.0, f->perThumbnailKb / 1024.0,
                f->receivedPerThumbnail / 1024, f->showing, f->scaledByServer);
  }
  if (kind.with && kind.without) {
    std::printf("%-12s ratio with / without scaling: CPU %.2f, RSS %.2f, bytes %.3f\n", kind.name,
                kind.with->cpuPercent / kind.without->cpuPercent,
                static_cast<double>(kind.with->rssKb) / kind.without->rssKb,
                kind.with->receivedPerThumbnail / kind.without->receivedPerThumbnail);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--serve") {
    return std::string(argv[2]) == "x11vnc" ? serve<X11vncClassroom>(argv[3], argv[4])
                                            : serve<TestServerClassroom>(argv[3], argv[4]);
  }
  if (argc == 4 && std::string(argv[1]) == "--console") {
    return measureConsole(argc, argv, std::string(argv[2]) == "1", argv[3]);
  }

  testing::TempDir work("thumbnail_bench");
  std::printf("%d thumbnails of %d x %d screens at zoom 14 (144 x 104), %lld s each round\n", kSeats, kWidth,
              kHeight, static_cast<long long>(kMeasureFor.count()));
  std::fflush(stdout);
  Kind testServer{"test server", {}, {}}, x11vnc{"x11vnc", {}, {}};
  for (Kind* kind : {&testServer, &x11vnc}) {
    Servers servers(kind == &x11vnc ? "x11vnc" : "test", work.path());
    if (!servers.up()) {
      std::fprintf(stderr, "thumbnail_bench: the %s servers did not come up\n", kind->name);
      return 1;
    }
    kind->with = runRound(true, work.path());
    kind->without = runRound(false, work.path());
    print(*kind);
    std::fflush(stdout);
  }

  const auto verdict = [](bool met) { return met ? "met" : "MISSED"; };
  for (const Kind* kind : {&testServer, &x11vnc}) {
    if (!kind->with) continue;
    const Figures& f = *kind->with;
    std::printf("goals with scaling, %s: RSS below 150 MB %s, at most 2 MiB per thumbnail %s, "
                "CPU below 5 %% %s\n",
                kind->name, verdict(f.rssKb * 1024.0 < 150e6), verdict(f.perThumbnailKb <= 2048),
                verdict(f.cpuPercent < 5));
  }
  return 0;
}

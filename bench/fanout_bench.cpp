// "Alle dunkelschalten" fanned out to a full room, on this machine, twice:
// to 48 open services (127.0.0.2 to 127.0.0.49) and to 48 services that take
// only commands proven by the console's key (127.0.7.2 to 127.0.7.49):
//  - time from the click to all 48 services having handled "10" (their blank
//    flag file reads "1"), median of 10 runs;
// baseline: opening 48 loopback connections to the same services at once,
// measured in the same run; and the proven room against the open one. The
// services run without a display, so no helper window is started and the
// figure is the command path alone. All 48 services share this machine's two
// cores, so every service's check of its proof runs here too; in a classroom
// each PC checks its own.
// Run: build/bin/fanout_bench

#include <QApplication>
#include <QElapsedTimer>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "console/console.h"
#include "crypto/signing.h"
#include "console/message_display.h"
#include "median.h"
#include "platform/echo.h"
#include "platform/launcher.h"
#include "platform/processes.h"
#include "platform/system.h"
#include "student_pc.h"
#include "console_fakes.h"
#include "temp_dir.h"

using namespace saalwacht;
using namespace std::chrono;
namespace fs = std::filesystem;

using bench::median;

namespace {

constexpr int kSeats = 48;

// Opens one connection to each address at once and waits until all are up.
double connectAllMs(const std::vector<std::string>& addresses) {
  const auto begin = steady_clock::now();
  std::vector<pollfd> fds;
  for (const auto& address : addresses) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(4000);
    ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
    fds.push_back({fd, POLLOUT, 0});
  }
  std::size_t done = 0;
  std::vector<bool> up(fds.size());
  while (done < fds.size()) {
    ::poll(fds.data(), fds.size(), 1000);
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (!up[i] && (fds[i].revents & (POLLOUT | POLLERR | POLLHUP))) {
        up[i] = true;
        ++done;
        fds[i].events = 0;
      }
    }
  }
  const double ms = duration<double, std::milli>(steady_clock::now() - begin).count();
  for (auto& p : fds) ::close(p.fd);
  return ms;
}

struct RoomFigures {
  double fanout = 0, delivered = 0, baseline = 0;
};

// Starts a room of 48 services and a console, blanks and resets it 11 times.
std::optional<RoomFigures> measureRoom(const std::string& prefix, bool proven) {
  testing::TempDir home("fanout_bench");
  testing::TempDir trusted("fanout_bench_keys");
  if (proven) {
    // The console's key, as its first start makes it; every PC trusts it.
    const auto key = crypto::PrivateKey::generate("bench");
    if (crypto::savePrivateKey(home.path() / "saalwacht.key", key) ||
        crypto::savePublicKey(trusted.path() / "lehrer.pub", key.publicKey())) {
      std::fprintf(stderr, "fanout_bench: cannot write the console's key\n");
      return std::nullopt;
    }
  }
  std::vector<std::unique_ptr<testing::StudentPc>> pcs;
  std::vector<std::string> addresses;
  for (int i = 0; i < kSeats; ++i) {
    addresses.push_back(prefix + std::to_string(2 + i));
    pcs.push_back(std::make_unique<testing::StudentPc>(addresses.back(), ""));
    if (proven) pcs.back()->configure("trusted-keys = " + trusted.path().string() + "\n");
    if (!pcs.back()->start()) {
      std::fprintf(stderr, "fanout_bench: kursdienst did not come up on %s\n", addresses.back().c_str());
      return std::nullopt;
    }
  }
  {
    std::ofstream ini(home.path() / "saalwacht.ini");
    ini << "[Raum]\n";
    for (int i = 0; i < kSeats; ++i) ini << "rechnername" << i + 1 << "=" << addresses[i] << "\n";
  }
  std::string error;
  fs::copy_file(testing::binDir() / "saalwacht.bmp", home.path() / "saalwacht.bmp");
  console::writeRemotePassword(home.path() / "saalwacht.bmp", "bench123", error);

  auto launcher = platform::createProgramLauncher();
  auto processes = platform::createProcessControl();
  testing::FakeEcho echo;
  echo.everyone = true;
  testing::RecordingMessages messages;
  messages.echoToStderr = true;
  console::Console teacher({testing::binDir() / "saalwacht", testing::binDir(), home.path()},
                           {*launcher, *processes, echo, messages});
  if (auto failed = teacher.start()) {
    std::fprintf(stderr, "fanout_bench: %s\n", failed->toStdString().c_str());
    return std::nullopt;
  }
  testing::within(seconds(30), [&] {
    for (int seat = 1; seat <= kSeats; ++seat) {
      if (!teacher.mainWindow().seatButton(seat)->isEnabled()) return false;
    }
    return true;
  });
  teacher.monitor().stop();  // the seat walk would only add noise

  auto flagsRead = [&](char value) {
    for (auto& pc : pcs) {
      if (platform::readFile(pc->flagFile()).value_or("") != std::string(1, value)) return false;
    }
    return true;
  };

  std::vector<double> fanout, delivered, baseline;
  for (int run = 0; run < 11; ++run) {
    teacher.resetAll();
    if (!testing::within(seconds(20), [&] { return flagsRead('0') && teacher.commandClient().outstanding() == 0; })) {
      std::fprintf(stderr, "fanout_bench: reset did not reach every service\n");
      return std::nullopt;
    }
    const double connectMs = connectAllMs(addresses);
    std::this_thread::sleep_for(milliseconds(200));  // the services drop the probe connections

    // The flags are watched from another thread, so the console's loop runs freely.
    std::atomic<bool> allBlank{false};
    const auto begin = steady_clock::now();
    std::atomic<long long> doneNs{0};
    std::thread watcher([&] {
      while (!flagsRead('1')) std::this_thread::sleep_for(microseconds(200));
      doneNs = duration_cast<nanoseconds>(steady_clock::now() - begin).count();
      allBlank = true;
    });
    teacher.blankAll();
    testing::within(seconds(20), [&] { return teacher.commandClient().outstanding() == 0; });
    const double deliveredMs = duration<double, std::milli>(steady_clock::now() - begin).count();
    testing::within(seconds(20), [&] { return allBlank.load(); });
    watcher.join();
    if (run == 0) continue;  // warm-up
    delivered.push_back(deliveredMs);
    fanout.push_back(doneNs / 1e6);
    baseline.push_back(connectMs);
  }
  teacher.resetAll();
  testing::within(seconds(20), [&] { return teacher.commandClient().outstanding() == 0; });
  if (!messages.shown.empty()) return std::nullopt;  // a PC refused the console
  return RoomFigures{median(fanout), median(delivered), median(baseline)};
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const auto open = measureRoom("127.0.0.", false);
  const auto proven = measureRoom("127.0.7.", true);
  if (!open || !proven) return 1;
  for (const auto& [label, room] : {std::pair{"open services", *open}, std::pair{"proven commands", *proven}}) {
    std::printf("%s: \"Alle dunkelschalten\" to 48 services having handled \"10\": median %.1f ms over 10 runs\n",
                label, room.fanout);
    std::printf("  of which the console had sent all 48 \"10\" and closed:        median %.1f ms\n", room.delivered);
    std::printf("  baseline, 48 loopback connections opened at once:            median %.1f ms   ratio %.1f\n",
                room.baseline, room.fanout / room.baseline);
  }
  std::printf("proven against open: ratio %.2f\n", proven->fanout / open->fanout);
  return 0;
}

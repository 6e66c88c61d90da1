// How long a student's attack on the blank screen frees it, on a 640x480
// Xvfb desktop with the real service and helpers:
//  - kill: SIGKILL of the blanking helper until the screen is black again;
//  - stop plus unmap: SIGSTOP of the helper and its window unmapped by
//    another client, until the screen is black again;
//  - unmap: a running helper's window unmapped, until it is black again;
// each the median of 10, against the baseline of "10" to a black screen,
// measured in the same run. "Black" is read from the X server every 2 ms.
// Run: build/bin/blank_bench

#include "x11_test_util.h"

#include <csignal>
#include <cstdio>
#include <thread>

#include "median.h"
#include "student_pc.h"
#include "xvfb.h"

using namespace saalwacht;
using namespace std::chrono;
using helpers_test::captureRoot;

namespace {

double msSince(steady_clock::time_point begin) { return duration<double, std::milli>(steady_clock::now() - begin).count(); }

bool waitBlack(Display* d, bool black, seconds limit = seconds(10)) {
  const auto deadline = steady_clock::now() + limit;
  while (steady_clock::now() < deadline) {
    if ((captureRoot(d).countNotBlack() == 0) == black) return true;
    std::this_thread::sleep_for(milliseconds(2));
  }
  return false;
}

pid_t blanker(const testing::StudentPc& pc) {
  const auto pids = pc.helpers("swdkl");
  return pids.size() == 1 ? pids[0] : -1;
}

}  // namespace

int main() {
  testing::XvfbDisplay display;
  if (!display.start(640, 480)) {
    std::fprintf(stderr, "blank_bench: %s\n", display.message().c_str());
    return 1;
  }
  helpers_test::XConnection x(display.name());
  helpers_test::createFilledWindow(x.get(), 0, 0, 640, 480, {255, 255, 0});
  testing::StudentPc pc("127.0.8.1", display.name());
  if (!pc.start()) return 1;

  std::vector<double> toBlack, afterKill, afterStop, afterUnmap;
  for (int i = 0; i < 10; ++i) {
    auto begin = steady_clock::now();
    testing::runCli({pc.address(), "blank"});
    if (!waitBlack(x.get(), true)) return 1;
    toBlack.push_back(msSince(begin));
    testing::eventually([&] { return blanker(pc) > 0; }, seconds(5));

    // A kill, then a stop with the window unmapped, then an unmap alone.
    std::this_thread::sleep_for(milliseconds(700));  // a kill, not a crash loop
    pid_t target = blanker(pc);
    begin = steady_clock::now();
    ::kill(target, SIGKILL);
    waitBlack(x.get(), false, seconds(1));  // it may be back before it was ever seen free
    if (!waitBlack(x.get(), true)) return 1;
    afterKill.push_back(msSince(begin));

    testing::eventually([&] { const pid_t p = blanker(pc); return p > 0 && p != target; }, seconds(5));
    std::this_thread::sleep_for(milliseconds(700));
    target = blanker(pc);
    begin = steady_clock::now();
    ::kill(target, SIGSTOP);
    for (Window w : helpers_test::viewableWindowsOfClass(x.get(), "swdkl")) XUnmapWindow(x.get(), w);
    XSync(x.get(), False);
    waitBlack(x.get(), false, seconds(1));
    if (!waitBlack(x.get(), true)) return 1;
    afterStop.push_back(msSince(begin));

    testing::eventually([&] { const pid_t p = blanker(pc); return p > 0 && p != target; }, seconds(5));
    std::this_thread::sleep_for(milliseconds(300));
    begin = steady_clock::now();
    for (Window w : helpers_test::viewableWindowsOfClass(x.get(), "swdkl")) XUnmapWindow(x.get(), w);
    XSync(x.get(), False);
    waitBlack(x.get(), false, seconds(1));
    if (!waitBlack(x.get(), true)) return 1;
    afterUnmap.push_back(msSince(begin));

    testing::runCli({pc.address(), "reset"});
    if (!waitBlack(x.get(), false)) return 1;
  }
  const double base = bench::median(toBlack);
  std::printf("\"10\" to a black screen (baseline):     median %6.1f ms\n", base);
  std::printf("kill to black again:                   median %6.1f ms  (%.2fx the baseline)\n",
              bench::median(afterKill), bench::median(afterKill) / base);
  std::printf("stop plus unmap to black again:        median %6.1f ms  (%.2fx)\n", bench::median(afterStop),
              bench::median(afterStop) / base);
  std::printf("unmap of a running blanker to black:   median %6.1f ms  (%.2fx)\n", bench::median(afterUnmap),
              bench::median(afterUnmap) / base);
  return 0;
}

// Teacher console start-up on this machine, with 48 named seats:
//  - time from process start to the main window being shown (mapped on the
//    X server), median of 7 runs;
//  - resident and proportional memory once it has settled;
// baseline: the smallest Qt Widgets program showing one window, measured the
// same way in the same run.
// Run: build/bin/console_bench   (needs Xvfb)

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <thread>

#include "median.h"
#include "platform/posix/spawn_posix.h"
#include "platform/system.h"
#include "temp_dir.h"
#include "xvfb.h"

using namespace saalwacht;
using namespace std::chrono;
namespace fs = std::filesystem;

using bench::median;

namespace {

bool hasViewableWindowNamed(Display* display, Window window, const std::string& title) {
  XWindowAttributes attributes;
  if (XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable) {
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name) {
      const bool match = title == name;
      XFree(name);
      if (match) return true;
    }
  }
  Window root, parent, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display, window, &root, &parent, &children, &count)) return false;
  bool found = false;
  for (unsigned i = 0; i < count && !found; ++i) found = hasViewableWindowNamed(display, children[i], title);
  if (children) XFree(children);
  return found;
}

long statusKb(pid_t pid, const std::string& field, const char* file = "status") {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
  }
  return -1;
}

// Qt wants a private runtime folder; one per benchmark run.
const fs::path& runtimeDir() {
  static testing::TempDir dir("console_bench_runtime");
  fs::permissions(dir.path(), fs::perms::owner_all);
  return dir.path();
}

struct Run {
  double startMs = 0;
  long rssKb = 0;
  long pssKb = 0;
};

// Starts the program, waits for its window, measures, ends it with SIGTERM.
Run measure(const fs::path& program, const std::string& title, const std::string& displayName,
            const std::vector<std::string>& environment) {
  Display* display = XOpenDisplay(displayName.c_str());
  if (!display) throw std::runtime_error("cannot open " + displayName);
  std::vector<std::string> env = environment;
  env.push_back("DISPLAY=" + displayName);
  env.push_back("PATH=" + platform::environmentValue("PATH").value_or("/usr/bin:/bin"));
  env.push_back("HOME=" + platform::environmentValue("HOME").value_or("/tmp"));
  env.push_back("XDG_RUNTIME_DIR=" + runtimeDir().string());
  const auto begin = steady_clock::now();
  auto child = platform::posix::spawn({program, {}, env, std::nullopt});
  if (!child) throw std::runtime_error("cannot start " + program.string());
  Run run;
  while (!hasViewableWindowNamed(display, DefaultRootWindow(display), title)) {
    if (steady_clock::now() - begin > seconds(30)) throw std::runtime_error(title + " did not show a window");
    std::this_thread::sleep_for(microseconds(500));
  }
  run.startMs = duration<double, std::milli>(steady_clock::now() - begin).count();
  std::this_thread::sleep_for(milliseconds(1500));
  run.rssKb = statusKb(child->pid(), "VmRSS");
  run.pssKb = statusKb(child->pid(), "Pss", "smaps_rollup");
  ::kill(child->pid(), SIGTERM);
  if (!child->waitForExit(seconds(10))) ::kill(child->pid(), SIGKILL);
  ::waitpid(child->pid(), nullptr, 0);
  XCloseDisplay(display);
  return run;
}

}  // namespace

int main() {
  testing::XvfbDisplay xvfb;
  if (!xvfb.start(1280, 1024)) {
    std::cerr << "console_bench: " << xvfb.message() << "\n";
    return 1;
  }
  const fs::path bin = platform::executableDir();
  testing::TempDir home("console_bench");
  {
    std::ofstream ini(home.path() / "saalwacht.ini");
    ini << "[Raum]\n";
    for (int seat = 1; seat <= 48; ++seat) ini << "rechnername" << seat << "=pc" << seat << "\n";
    ini << "[Language]\nHead=Saalwacht Messung\n";
  }
  // A store that holds a password, so no prompt stands between start and window.
  const fs::path store = home.path() / "saalwacht.bmp";
  const auto maker = bin.parent_path() / "console" / "make_picture_store";
  auto made = platform::posix::spawn({maker, {store.string(), "bench123"}, std::nullopt, std::nullopt});
  if (!made || !made->waitForExit(seconds(10))) return 1;
  ::waitpid(made->pid(), nullptr, 0);

  const std::vector<std::string> consoleEnv = {"SAALWACHT_HOME=" + home.path().string()};
  std::vector<double> console, baseline;
  Run last, lastBaseline;
  // One untimed run each warms the file cache.
  measure(bin / "qt_baseline", "Grundlinie", xvfb.name(), {});
  measure(bin / "saalwacht", "Saalwacht Messung", xvfb.name(), consoleEnv);
  for (int i = 0; i < 7; ++i) {
    lastBaseline = measure(bin / "qt_baseline", "Grundlinie", xvfb.name(), {});
    baseline.push_back(lastBaseline.startMs);
    last = measure(bin / "saalwacht", "Saalwacht Messung", xvfb.name(), consoleEnv);
    console.push_back(last.startMs);
  }
  const double c = median(console), b = median(baseline);
  std::printf("console start to main window shown (48 named seats): median %.1f ms over 7 runs\n", c);
  std::printf("baseline, smallest Qt window:                         median %.1f ms   ratio %.2f\n", b, c / b);
  std::printf("console memory after start-up: RSS %ld KiB, PSS %ld KiB\n", last.rssKb, last.pssKb);
  std::printf("baseline memory:                RSS %ld KiB, PSS %ld KiB   RSS ratio %.2f\n", lastBaseline.rssKb,
              lastBaseline.pssKb, static_cast<double>(last.rssKb) / lastBaseline.rssKb);
  return 0;
}

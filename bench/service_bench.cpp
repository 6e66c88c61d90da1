// Student service figures on this machine:
//  - screenshot round trip of a 1920x1080 screen (request to last byte at the
//    client), median of 20, with the CPU time the service and its capture
//    helper spend; baseline: the capture helper run on its own;
//  - time from "10" to the blanking helper running; baseline: starting the
//    helper directly.
// Run: build/bin/service_bench   (needs Xvfb and ImageMagick, uses 127.0.0.201)

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "cli/command_client.h"
#include "median.h"
#include "platform/posix/spawn_posix.h"
#include "platform/system.h"
#include "student_pc.h"
#include "xvfb.h"

using namespace saalwacht;
using namespace std::chrono;
namespace fs = std::filesystem;

using bench::median;

namespace {

// CPU seconds of a process: its own and that of its ended, collected children.
std::pair<double, double> cpuSeconds(pid_t pid) {
  const auto stat = platform::readFile("/proc/" + std::to_string(pid) + "/stat").value_or("");
  const auto close = stat.rfind(')');
  unsigned long utime = 0, stime = 0;
  long cutime = 0, cstime = 0;
  std::sscanf(stat.c_str() + close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu %ld %ld", &utime, &stime,
              &cutime, &cstime);
  const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
  // The scheduler's nanosecond count is finer than clock ticks for the service itself.
  double own = (utime + stime) / tick;
  if (const auto sched = platform::readFile("/proc/" + std::to_string(pid) + "/schedstat")) {
    own = std::strtod(sched->c_str(), nullptr) / 1e9;
  }
  return {own, (cutime + cstime) / tick};
}

// Polls every millisecond; the tests' 50 ms poll would swamp the figure.
template <typename Condition>
void waitUntil(Condition condition) {
  const auto deadline = steady_clock::now() + seconds(5);
  while (!condition() && steady_clock::now() < deadline) usleep(1000);
}

double ms(steady_clock::duration d) { return duration<double, std::milli>(d).count(); }

bool run(const std::vector<std::string>& argv, const std::string& display) {
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("DISPLAY", display.c_str(), 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main() {
  testing::XvfbDisplay display;
  if (!display.start(1920, 1080)) {
    std::cerr << "service_bench: " << display.message() << "\n";
    return 1;
  }
  // A busy desktop picture, so that the JPEG is as large as a real one.
  const fs::path work = fs::temp_directory_path() / ("saalwacht-bench-" + std::to_string(getpid()));
  fs::create_directories(work);
  const std::string desktop = (work / "desktop.png").string();
  run({"convert", "-size", "1920x1080", "-seed", "7", "plasma:fractal", "-blur", "0x1", "-font", "DejaVu-Sans",
       "-pointsize", "28", "-fill", "black", "-annotate", "+40+60",
       "Arbeitsblatt Mathematik 7b – Aufgabe 3: Bruchrechnung", desktop},
      display.name());
  run({"display", "-window", "root", desktop}, display.name());

  testing::StudentPc pc("127.0.0.201", display.name());
  if (!pc.start()) {
    std::cerr << "service_bench: kursdienst did not start\n";
    return 1;
  }

  constexpr int kRuns = 20;
  // Baseline: the capture helper alone, writing the same picture.
  std::vector<double> helperAlone;
  const std::string target = (work / "direct.jpg").string();
  for (int i = 0; i < kRuns; ++i) {
    const auto start = steady_clock::now();
    run({(testing::binDir() / "swscr").string(), target}, display.name());
    helperAlone.push_back(ms(steady_clock::now() - start));
  }

  std::vector<double> roundTrips;
  std::size_t bytes = 0;
  const auto cpuBefore = cpuSeconds(pc.servicePid());
  cli::CommandRequest request;
  request.code = protocol::CommandCode::ScreenshotRequest;
  for (int i = 0; i < kRuns; ++i) {
    const auto start = steady_clock::now();
    const auto results = cli::sendToHosts({pc.address()}, request);
    roundTrips.push_back(ms(steady_clock::now() - start));
    if (!results[0].ok) {
      std::cerr << "service_bench: screenshot failed: " << results[0].error << "\n";
      return 1;
    }
    bytes = results[0].picture.size();
  }
  usleep(200000);  // let the service collect its last helper
  const auto cpuAfter = cpuSeconds(pc.servicePid());

  // "10" until the blanking helper runs, against starting it directly.
  std::vector<double> blankTimes;
  std::vector<double> directStarts;
  cli::CommandRequest blank, reset;
  blank.code = protocol::CommandCode::Blank;
  for (int i = 0; i < 10; ++i) {
    auto start = steady_clock::now();
    cli::sendToHosts({pc.address()}, blank);
    waitUntil([&] { return !pc.helpers("swdkl").empty(); });
    blankTimes.push_back(ms(steady_clock::now() - start));
    cli::sendToHosts({pc.address()}, reset);
    testing::eventually([&] { return pc.helpers("swdkl").empty(); }, seconds(5));

    start = steady_clock::now();
    auto direct = platform::posix::spawn(
        {testing::binDir() / "swdkl", {}, std::vector<std::string>{"DISPLAY=" + display.name()}, std::nullopt});
    waitUntil([&] { return fs::exists("/proc/" + std::to_string(direct ? direct->pid() : 0) + "/exe"); });
    directStarts.push_back(ms(steady_clock::now() - start));
    if (direct) {
      kill(direct->pid(), SIGTERM);
      direct->waitForExit(seconds(5));
      platform::posix::reapChildren();
    }
  }

  const double roundTrip = median(roundTrips);
  const double helper = median(helperAlone);
  std::printf("screenshot 1920x1080: %zu bytes\n", bytes);
  std::printf("  round trip, median of %d:   %7.1f ms\n", kRuns, roundTrip);
  std::printf("  capture helper alone:        %7.1f ms   (round trip / helper alone = %.2f)\n", helper,
              roundTrip / helper);
  std::printf("  service CPU per screenshot:  %7.2f ms   (capture helper CPU: %.1f ms)\n",
              (cpuAfter.first - cpuBefore.first) * 1000 / kRuns, (cpuAfter.second - cpuBefore.second) * 1000 / kRuns);
  std::printf("blank: \"10\" to swdkl running, median of 10: %.1f ms   (starting swdkl directly: %.1f ms, ratio %.2f)\n",
              median(blankTimes), median(directStarts), median(blankTimes) / median(directStarts));
  pc.stop();
  fs::remove_all(work);
  return 0;
}

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <mutex>
#include <thread>

#include "platform/system.h"
#include "service/command_server.h"
#include "service/student_service.h"
#include "temp_dir.h"

namespace saalwacht::service {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using protocol::Command;
using protocol::CommandCode;

using saalwacht::testing::TempDir;

std::string slurp(const fs::path& p) { return platform::readFile(p).value_or("<missing>"); }

// A helper's file name as the service uses it on this platform.
std::string exe(std::string_view name) { return std::string(name) + std::string(platform::kExecutableSuffix); }

// Processes found by name or path: what a student can start himself.
class FakeProcesses : public platform::ProcessControl {
 public:
  int count(std::string_view name) override { return running[std::string(name)]; }
  bool terminateFirst(std::string_view name) override {
    terminated.push_back(std::string(name));
    auto& n = running[std::string(name)];
    if (n == 0) return false;
    --n;
    return true;
  }
  int terminateProgram(const fs::path& program) override {
    terminatedPrograms.push_back(program.filename().string());
    return 0;
  }
  std::map<std::string, int> running;
  std::vector<std::string> terminated;
  std::vector<std::string> terminatedPrograms;
};

// A started helper the test can end, stop and look at.
struct ProcessState {
  bool ended = false;
  bool stopped = false;
  bool terminated = false;
  asio::io_context* io = nullptr;
  std::function<void()> onExit;
  void end() {
    ended = true;
    if (onExit && io) asio::post(*io, std::exchange(onExit, {}));
  }
};

struct Launch {
  std::string program;  // file name only
  std::vector<std::string> args;
  std::shared_ptr<ProcessState> state;  // null when it could not be started
};

class FakeProcess : public platform::LaunchedProcess {
 public:
  explicit FakeProcess(std::shared_ptr<ProcessState> state) : state_(std::move(state)) {}
  ~FakeProcess() override { state_->onExit = nullptr; }
  bool waitForExit(std::chrono::milliseconds) override { return state_->ended; }
  void asyncWaitForExit(asio::io_context& io, std::function<void()> onExit) override {
    state_->io = &io;
    state_->onExit = std::move(onExit);
    if (state_->ended) state_->end();
  }
  bool terminate() override {
    if (state_->ended) return false;
    state_->terminated = true;
    state_->end();
    return true;
  }
  bool stopped() override { return state_->stopped && !state_->ended; }

 private:
  std::shared_ptr<ProcessState> state_;
};

class FakeLauncher : public platform::SessionLauncher {
 public:
  bool interactiveSessionExists() override { return sessionExists; }
  platform::SessionKind sessionKind() override { return sessionExists ? kind : platform::SessionKind::NoSession; }
  std::unique_ptr<platform::LaunchedProcess> launch(const fs::path& program,
                                                    const std::vector<std::string>& args) override {
    launches.push_back({program.filename().string(), args, nullptr});
    if (!sessionExists || missing.count(program.filename().string())) return nullptr;
    if (onLaunch) onLaunch(program, args);
    auto state = std::make_shared<ProcessState>();
    state->ended = helperEnds || endsAtOnce.count(program.filename().string());
    launches.back().state = state;
    return std::make_unique<FakeProcess>(state);
  }
  std::optional<unsigned> sessionUserId() override { return std::nullopt; }

  // The last process started of that program.
  std::shared_ptr<ProcessState> last(const std::string& name) const {
    for (std::size_t i = launches.size(); i-- > 0;) {
      if (launches[i].program == name) return launches[i].state;
    }
    return nullptr;
  }

  bool sessionExists = true;
  bool helperEnds = true;
  std::set<std::string> endsAtOnce;  // as the capture helper does
  platform::SessionKind kind = platform::SessionKind::Coverable;
  std::set<std::string> missing;
  std::function<void(const fs::path&, const std::vector<std::string>&)> onLaunch;
  std::vector<Launch> launches;
};

class FakePower : public platform::PowerControl {
 public:
  void powerOff() override { ++powerOffs; }
  int powerOffs = 0;
};

// Stands for the console device: records what was locked.
class FakeSwitchLock : public platform::ConsoleSwitchLock {
 public:
  std::optional<std::string> lock() override {
    if (refuse) return std::string("/dev/tty0: not allowed");
    locked_ = true;
    ++locks;
    return std::nullopt;
  }
  void unlock() override {
    locked_ = false;
    ++unlocks;
  }
  bool locked() const override { return locked_; }
  bool refuse = false;
  int locks = 0;
  int unlocks = 0;

 private:
  bool locked_ = false;
};

// A spool whose "helper" output is whatever the test puts in `written`.
class FakeSpool : public platform::ScreenshotSpool {
 public:
  std::optional<fs::path> prepare(std::optional<unsigned>) override {
    written.reset();
    return fs::path("/spool/screenshot.jpg");
  }
  std::optional<std::string> collect(std::size_t maxBytes) override {
    auto content = std::move(written);
    written.reset();
    if (content && content->size() > maxBytes) return std::nullopt;
    return content;
  }
  std::optional<std::string> written;
};

const std::string kJpeg = std::string("\xff\xd8\xff\xe0") + "picture data" + "\xff\xd9";

class StudentServiceTest : public ::testing::Test {
 protected:
  StudentServiceTest() {
    launcher.onLaunch = [this](const fs::path& program, const std::vector<std::string>& args) {
      if (program.filename() == exe("swscr") && screenshotOutput) {
        EXPECT_EQ(args, std::vector<std::string>{"/spool/screenshot.jpg"});
        spool.written = screenshotOutput;
      }
    };
    // Helpers run until they are ended, as real ones do; the capture helper
    // ends once it has written its picture.
    launcher.helperEnds = false;
    launcher.endsAtOnce = {exe("swscr")};
  }

  StudentService& service() {
    if (!service_) {
      service_ = std::make_unique<StudentService>(ServiceDependencies{
          .io = io,
          .processes = processes,
          .launcher = launcher,
          .power = power,
          .spool = spool,
          .switchLock = switchLock,
          .helperDir = helperDir.path(),
          .stateDir = stateDir.path(),
          .schedule = [this](std::chrono::milliseconds delay,
                             std::function<void()> action) { scheduled.emplace_back(delay, std::move(action)); },
          .log = [this](const std::string& line) { journal.push_back(line); },
      });
    }
    return *service_;
  }

  // Runs what is ready on the service's loop.
  void settle(std::chrono::milliseconds time = 50ms) {
    io.restart();
    io.run_for(time);
  }

  // Runs the command and the work it started; the reply, if any.
  std::shared_ptr<const std::string> send(Command command) {
    std::shared_ptr<const std::string> reply;
    service().handle(command, exchange, [&](std::shared_ptr<const std::string> bytes) { reply = std::move(bytes); });
    settle();
    return reply;
  }
  fs::path flagFile() const { return stateDir.path() / "swdkl.bin"; }
  int launchesOf(const std::string& name) const {
    return static_cast<int>(std::count_if(launcher.launches.begin(), launcher.launches.end(),
                                          [&](const Launch& l) { return l.program == name; }));
  }
  std::shared_ptr<ProcessState> blanker() const { return launcher.last(exe("swdkl")); }
  bool journalHas(std::string_view text) const {
    return std::any_of(journal.begin(), journal.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
  }

  TempDir helperDir;
  TempDir stateDir;
  FakeProcesses processes;
  FakeLauncher launcher;
  FakePower power;
  FakeSpool spool;
  FakeSwitchLock switchLock;
  std::optional<std::string> screenshotOutput = kJpeg;
  std::vector<std::pair<std::chrono::milliseconds, std::function<void()>>> scheduled;
  std::vector<std::string> journal;
  asio::io_context io;
  std::shared_ptr<ExchangeState> exchange = std::make_shared<ExchangeState>();
  std::unique_ptr<StudentService> service_;
};

TEST_F(StudentServiceTest, BlankStartsTheHelperOnceAndRecordsOn) {
  EXPECT_EQ(send({CommandCode::Blank, ""}), nullptr);
  EXPECT_EQ(launchesOf(exe("swdkl")), 1);
  EXPECT_EQ(slurp(flagFile()), "1");
  EXPECT_TRUE(service().blanking().blankFlag());

  // Ours runs: nothing is started and the file is not touched.
  fs::remove(flagFile());
  send({CommandCode::Blank, ""});
  EXPECT_EQ(launchesOf(exe("swdkl")), 1);
  EXPECT_FALSE(fs::exists(flagFile()));
}

TEST_F(StudentServiceTest, AProgramOfTheSameNameDoesNotStopTheBlanking) {
  // The student's own "swdkl", even with the service's marker.
  processes.running[exe("swdkl")] = 3;
  send({CommandCode::Blank, ""});
  EXPECT_EQ(launchesOf(exe("swdkl")), 1);
  EXPECT_TRUE(service().blanking().blankerRunning());
  // Nor does it stand in for ours when ours has gone.
  blanker()->end();
  settle();
  EXPECT_EQ(launchesOf(exe("swdkl")), 2);
  EXPECT_TRUE(service().blanking().blankerRunning());
}

TEST_F(StudentServiceTest, ResetEndsOurBlankerAndTheRealProgramAndRecordsOff) {
  send({CommandCode::Reset, ""});  // no helper runs
  EXPECT_EQ(slurp(flagFile()), "0");

  send({CommandCode::Blank, ""});
  const auto ours = blanker();
  send({CommandCode::Reset, ""});
  EXPECT_TRUE(ours->terminated);
  // Copies of the real helper started by anyone else go too, found by full path.
  EXPECT_EQ(processes.terminatedPrograms, (std::vector<std::string>{exe("swdkl"), exe("swdkl")}));
  // A program that merely has the name is not killed.
  EXPECT_TRUE(processes.terminated.empty());
  EXPECT_EQ(slurp(flagFile()), "0");
  EXPECT_FALSE(service().blanking().blankFlag());
  settle();
  EXPECT_EQ(launchesOf(exe("swdkl")), 1);  // and nothing comes back
}

TEST_F(StudentServiceTest, AnEndedBlankerIsBackAtOnceAndAStoppedOneIsReplaced) {
  send({CommandCode::Blank, ""});
  blanker()->end();  // killed
  settle();
  EXPECT_EQ(launchesOf(exe("swdkl")), 2) << "restarted without waiting for the check";

  // Stopped (SIGSTOP): it still "runs", but covers nothing any more.
  const auto stoppedOne = blanker();
  stoppedOne->stopped = true;
  EXPECT_FALSE(service().blanking().blankerRunning());
  service().onChildChanged();
  settle();
  EXPECT_TRUE(stoppedOne->terminated);
  EXPECT_EQ(launchesOf(exe("swdkl")), 3);
  EXPECT_TRUE(journalHas("stopped"));

  // One stopped where no signal told us (a tracer): the check finds it.
  blanker()->stopped = true;
  service().onTimer();
  settle();
  EXPECT_EQ(launchesOf(exe("swdkl")), 4);
  EXPECT_TRUE(service().blanking().blankerRunning());
}

TEST_F(StudentServiceTest, ABlankerThatEndsAtOnceIsNotStartedInALoop) {
  send({CommandCode::Blank, ""});
  for (int i = 0; i < 10; ++i) {
    if (auto b = blanker(); b && !b->ended) b->end();
    settle(1000ms);
  }
  // A few quick retries, then only the 5 s check tries again.
  EXPECT_LE(launchesOf(exe("swdkl")), 5);
  EXPECT_TRUE(journalHas("keeps ending at once"));
  const int before = launchesOf(exe("swdkl"));
  service().onTimer();
  EXPECT_EQ(launchesOf(exe("swdkl")), before + 1);
}

TEST_F(StudentServiceTest, TerminalSwitchingIsLockedWhileBlanked) {
  send({CommandCode::Blank, ""});
  EXPECT_TRUE(switchLock.locked());
  send({CommandCode::Reset, ""});
  EXPECT_FALSE(switchLock.locked());
  send({CommandCode::Blank, ""});
  service_.reset();  // the service stops
  EXPECT_FALSE(switchLock.locked());

  // A lock left by a service that did not end cleanly goes at the next start.
  std::ofstream(flagFile(), std::ios::binary) << "0";
  switchLock.lock();
  service().resume();
  EXPECT_FALSE(switchLock.locked());

  // Where it cannot be locked, the journal says so once.
  switchLock.refuse = true;
  send({CommandCode::Blank, ""});
  send({CommandCode::Reset, ""});
  send({CommandCode::Blank, ""});
  EXPECT_EQ(std::count_if(journal.begin(), journal.end(),
                          [](const std::string& l) { return l.find("switch terminals") != std::string::npos; }),
            1);
}

TEST_F(StudentServiceTest, AWaylandSessionIsNeverReportedBlanked) {
  launcher.kind = platform::SessionKind::Wayland;
  send({CommandCode::Blank, ""});
  EXPECT_EQ(launchesOf(exe("swdkl")), 0);
  EXPECT_TRUE(journalHas("Wayland session: its screen cannot be blanked"));
  EXPECT_FALSE(service().blanking().blankerRunning());
}

TEST_F(StudentServiceTest, AtStartLeftoversGoAndARecordedBlankIsRestoredAtOnce) {
  std::ofstream(flagFile(), std::ios::binary) << "1";
  service().resume();
  EXPECT_EQ(processes.terminatedPrograms, std::vector<std::string>{exe("swdkl")});
  EXPECT_EQ(launchesOf(exe("swdkl")), 1);
  EXPECT_TRUE(switchLock.locked());
}

TEST_F(StudentServiceTest, SupervisionFollowsTheFlagFile) {
  struct Case {
    const char* name;
    std::optional<std::string> file;  // nothing: no file
    bool flagBefore;                  // blank first (then the helper "goes away")
    bool session;
    bool helperRunning;
    bool expectLaunch;
  };
  const std::vector<Case> cases = {
      {"file on, helper gone", "1", false, true, false, true},
      {"file on with blanks", " \n1", false, true, false, true},
      {"file off", "0", true, true, false, false},
      {"file on but no session", "1", false, false, false, false},
      {"file on, helper runs", "1", true, true, true, false},
      {"junk keeps flag off", "2", false, true, false, false},
      {"empty keeps flag off", "", false, true, false, false},
      {"junk keeps flag on", "x", true, true, false, true},
      {"missing keeps flag on", std::nullopt, true, true, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir state;
    FakeProcesses procs;
    FakeLauncher launch;
    launch.helperEnds = false;
    FakeSwitchLock lock;
    asio::io_context loop;
    BlankingSupervisor supervisor({loop, procs, launch, lock, helperDir.path() / "swdkl", state.path() / "swdkl.bin"});
    launch.sessionExists = false;  // the helper the blank starts is "gone" at once
    if (c.flagBefore) supervisor.blank();
    launch.sessionExists = true;
    if (c.helperRunning) supervisor.blank();
    launch.launches.clear();
    fs::remove(state.path() / "swdkl.bin");
    if (c.file) std::ofstream(state.path() / "swdkl.bin", std::ios::binary) << *c.file;
    launch.sessionExists = c.session;
    supervisor.check();
    EXPECT_EQ(launch.launches.size(), c.expectLaunch ? 1u : 0u);
    if (c.expectLaunch) {
      EXPECT_EQ(slurp(state.path() / "swdkl.bin"), "1");
    }
  }
}

TEST_F(StudentServiceTest, AMissingHelperIsRetriedByEveryCheck) {
  launcher.missing.insert(exe("swdkl"));
  send({CommandCode::Blank, ""});
  EXPECT_EQ(slurp(flagFile()), "1");
  service().onTimer();
  service().onTimer();
  EXPECT_EQ(launchesOf(exe("swdkl")), 3);
}

TEST_F(StudentServiceTest, MessageReachesTheHelperAsOneUnchangedArgument) {
  // "Grüße" and a typographic quote in Windows-1252, with a CR LF and plain quotes.
  const std::string wire = "Gr\xfc\xdf" "e \x84" "Test\x93 \"zitiert\"\r\nZeile 2";
  send({CommandCode::Message, wire});
  ASSERT_EQ(launcher.launches.size(), 1u);
  EXPECT_EQ(launcher.launches[0].program, exe("swmsg"));
  EXPECT_EQ(launcher.launches[0].args, std::vector<std::string>{"Grüße „Test“ \"zitiert\"\r\nZeile 2"});

  send({CommandCode::Message, std::string("a\0b", 3)});
  EXPECT_EQ(launcher.launches[1].args, std::vector<std::string>{"ab"});

  send({CommandCode::Message, std::string(protocol::kMaxMessageTextBytes + 10, '\x80')});  // euro signs
  const auto& bounded = launcher.launches[2].args.at(0);
  EXPECT_LE(bounded.size(), protocol::kMaxMessageTextBytes);
  EXPECT_EQ(bounded.size() % 3, 0u);  // no euro sign cut in half
}

TEST_F(StudentServiceTest, ShutdownNotifiesOnceAndPowersOffOnceAfterTheDelay) {
  send({CommandCode::Shutdown, ""});
  send({CommandCode::Shutdown, ""});
  EXPECT_EQ(launchesOf(exe("swsdmsg")), 1);  // one notice is open already
  ASSERT_EQ(scheduled.size(), 1u);
  EXPECT_EQ(scheduled[0].first, kShutdownDelay);
  EXPECT_EQ(power.powerOffs, 0);
  scheduled[0].second();
  EXPECT_EQ(power.powerOffs, 1);
  launcher.last(exe("swsdmsg"))->end();  // the student closed the notice
  send({CommandCode::Shutdown, ""});  // power-off failed, the service still runs
  EXPECT_EQ(scheduled.size(), 2u);
  EXPECT_EQ(launchesOf(exe("swsdmsg")), 2);
}

TEST_F(StudentServiceTest, AtMostEightMessageWindowsAtATime) {
  for (int i = 0; i < 12; ++i) send({CommandCode::Message, "Hallo " + std::to_string(i)});
  EXPECT_EQ(launchesOf(exe("swmsg")), 8);
  EXPECT_TRUE(journalHas("message refused"));
  // The student closes one: the next message gets its window.
  launcher.last(exe("swmsg"))->end();
  send({CommandCode::Message, "noch eine"});
  EXPECT_EQ(launchesOf(exe("swmsg")), 9);
}

TEST_F(StudentServiceTest, ScreenshotExchange) {
  const auto size = send({CommandCode::ScreenshotRequest, ""});
  ASSERT_TRUE(size);
  EXPECT_EQ(*size, std::to_string(kJpeg.size()));
  const auto picture = send({CommandCode::SendPicture, ""});
  ASSERT_TRUE(picture);
  EXPECT_EQ(*picture, kJpeg);
  EXPECT_EQ(send({CommandCode::EndScreenshot, ""}), nullptr);
  EXPECT_EQ(exchange->picture, nullptr);
  EXPECT_EQ(send({CommandCode::SendPicture, ""}), nullptr);  // nothing announced any more
}

TEST_F(StudentServiceTest, CancelledScreenshotIsReleasedWithoutSending) {
  send({CommandCode::ScreenshotRequest, ""});
  std::weak_ptr<const std::string> held = exchange->picture;
  EXPECT_EQ(send({CommandCode::EndScreenshot, ""}), nullptr);
  EXPECT_TRUE(held.expired());
}

TEST_F(StudentServiceTest, ScreenshotFallbacks) {
  const std::string fallbackJpeg = std::string("\xff\xd8\xff") + "fallback" + "\xff\xd9";
  struct Case {
    const char* name;
    std::optional<std::string> helperOutput;
    bool helperEnds;
    bool helperMissing;
    std::optional<std::string> fallbackFile;
    ScreenshotCapture::Source expected;
  };
  using S = ScreenshotCapture::Source;
  const std::vector<Case> cases = {
      {"screenshot", kJpeg, true, false, fallbackJpeg, S::Screenshot},
      {"helper wrote nothing", std::nullopt, true, false, fallbackJpeg, S::FallbackFile},
      {"helper wrote no JPEG", "root:x:0:0", true, false, fallbackJpeg, S::FallbackFile},
      {"helper hangs", kJpeg, false, false, fallbackJpeg, S::FallbackFile},
      {"helper missing", std::nullopt, true, true, fallbackJpeg, S::FallbackFile},
      {"no fallback file either", std::nullopt, true, false, std::nullopt, S::BuiltIn},
      {"fallback file broken", std::nullopt, true, false, "broken", S::BuiltIn},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    FakeLauncher launch;
    FakeSpool fakeSpool;
    launch.helperEnds = c.helperEnds;
    if (c.helperMissing) launch.missing.insert("swscr");
    launch.onLaunch = [&](const fs::path&, const std::vector<std::string>&) { fakeSpool.written = c.helperOutput; };
    if (c.fallbackFile) std::ofstream(dir.path() / "swscrerror.jpg", std::ios::binary) << *c.fallbackFile;
    asio::io_context loop;
    ScreenshotCapture capture(loop, launch, fakeSpool, dir.path() / "swscr", dir.path() / "swscrerror.jpg", 50ms);
    launch.helperEnds = c.helperEnds;
    std::string picture;
    capture.capture([&](std::string bytes) { picture = std::move(bytes); });
    loop.run_for(2s);
    EXPECT_EQ(capture.lastSource(), c.expected);
    EXPECT_TRUE(looksLikeJpeg(picture));
    if (c.expected == S::Screenshot) {
      EXPECT_EQ(picture, kJpeg);
    }
    if (c.expected == S::FallbackFile) {
      EXPECT_EQ(picture, fallbackJpeg);
    }
  }
  EXPECT_GT(builtInFallbackPicture().size(), 100u);
}

}  // namespace
}  // namespace saalwacht::service

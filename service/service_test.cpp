#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
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
  std::map<std::string, int> running;
  std::vector<std::string> terminated;
};

struct Launch {
  std::string program;  // file name only
  std::vector<std::string> args;
};

// A helper that has ended at once (`ends`) or runs until told to end.
class FakeProcess : public platform::LaunchedProcess {
 public:
  explicit FakeProcess(bool ends) : ended_(std::make_shared<bool>(ends)) {}
  bool waitForExit(std::chrono::milliseconds) override { return *ended_; }
  void asyncWaitForExit(asio::io_context& io, std::function<void()> onExit) override {
    if (*ended_) asio::post(io, std::move(onExit));
  }
  bool terminate() override {
    const bool was = !*ended_;
    *ended_ = true;
    return was;
  }

 private:
  std::shared_ptr<bool> ended_;
};

class FakeLauncher : public platform::SessionLauncher {
 public:
  bool interactiveSessionExists() override { return sessionExists; }
  std::unique_ptr<platform::LaunchedProcess> launch(const fs::path& program,
                                                    const std::vector<std::string>& args) override {
    launches.push_back({program.filename().string(), args});
    if (!sessionExists || missing.count(program.filename().string())) return nullptr;
    if (onLaunch) onLaunch(program, args);
    return std::make_unique<FakeProcess>(helperEnds);
  }
  std::optional<unsigned> sessionUserId() override { return std::nullopt; }

  bool sessionExists = true;
  bool helperEnds = true;
  std::set<std::string> missing;
  std::function<void(const fs::path&, const std::vector<std::string>&)> onLaunch;
  std::vector<Launch> launches;
};

class FakePower : public platform::PowerControl {
 public:
  void powerOff() override { ++powerOffs; }
  int powerOffs = 0;
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
  }

  StudentService& service() {
    if (!service_) {
      service_ = std::make_unique<StudentService>(ServiceDependencies{
          .io = io,
          .processes = processes,
          .launcher = launcher,
          .power = power,
          .spool = spool,
          .helperDir = helperDir.path(),
          .stateDir = stateDir.path(),
          .schedule = [this](std::chrono::milliseconds delay,
                             std::function<void()> action) { scheduled.emplace_back(delay, std::move(action)); },
          .log = [this](const std::string& line) { journal.push_back(line); },
      });
    }
    return *service_;
  }

  // Runs the command and the work it started; the reply, if any.
  std::shared_ptr<const std::string> send(Command command) {
    std::shared_ptr<const std::string> reply;
    service().handle(command, exchange, [&](std::shared_ptr<const std::string> bytes) { reply = std::move(bytes); });
    io.restart();
    io.run_for(std::chrono::seconds(2));
    return reply;
  }
  fs::path flagFile() const { return stateDir.path() / "swdkl.bin"; }
  int launchesOf(const std::string& name) const {
    return static_cast<int>(std::count_if(launcher.launches.begin(), launcher.launches.end(),
                                          [&](const Launch& l) { return l.program == name; }));
  }

  TempDir helperDir;
  TempDir stateDir;
  FakeProcesses processes;
  FakeLauncher launcher;
  FakePower power;
  FakeSpool spool;
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

  // Already running: nothing is started and the file is not touched.
  processes.running[exe("swdkl")] = 1;
  fs::remove(flagFile());
  send({CommandCode::Blank, ""});
  EXPECT_EQ(launchesOf(exe("swdkl")), 1);
  EXPECT_FALSE(fs::exists(flagFile()));
}

TEST_F(StudentServiceTest, ResetAlwaysRecordsOff) {
  send({CommandCode::Reset, ""});  // no helper runs
  EXPECT_EQ(slurp(flagFile()), "0");
  EXPECT_EQ(processes.terminated, std::vector<std::string>{exe("swdkl")});

  processes.running[exe("swdkl")] = 1;
  send({CommandCode::Blank, ""});
  send({CommandCode::Reset, ""});
  EXPECT_EQ(processes.running[exe("swdkl")], 0);
  EXPECT_EQ(slurp(flagFile()), "0");
  EXPECT_FALSE(service().blanking().blankFlag());
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
      {"file on, helper runs", "1", false, true, true, false},
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
    BlankingSupervisor supervisor(procs, launch, helperDir.path() / "swdkl", state.path() / "swdkl.bin");
    if (c.flagBefore) supervisor.blank();
    launch.launches.clear();
    fs::remove(state.path() / "swdkl.bin");
    if (c.file) std::ofstream(state.path() / "swdkl.bin", std::ios::binary) << *c.file;
    launch.sessionExists = c.session;
    procs.running["swdkl"] = c.helperRunning ? 1 : 0;
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

TEST_F(StudentServiceTest, ShutdownNotifiesAndPowersOffOnceAfterTheDelay) {
  send({CommandCode::Shutdown, ""});
  send({CommandCode::Shutdown, ""});
  EXPECT_EQ(launchesOf(exe("swsdmsg")), 2);
  ASSERT_EQ(scheduled.size(), 1u);
  EXPECT_EQ(scheduled[0].first, kShutdownDelay);
  EXPECT_EQ(power.powerOffs, 0);
  scheduled[0].second();
  EXPECT_EQ(power.powerOffs, 1);
  send({CommandCode::Shutdown, ""});  // power-off failed, the service still runs
  EXPECT_EQ(scheduled.size(), 2u);
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

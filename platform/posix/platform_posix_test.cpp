#include <fcntl.h>
#include <poll.h>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <thread>

#include <asio.hpp>

#include "platform/console_lock.h"
#include "platform/echo.h"
#include "platform/launcher.h"
#include "platform/quit_signal.h"
#include "platform/posix/launcher_posix.h"
#include "platform/posix/spawn_posix.h"
#include "platform/posix/xauthority.h"
#include "platform/processes.h"
#include "platform/session.h"
#include "platform/spool.h"
#include "platform/system.h"
#include "platform/version.h"
#include "temp_dir.h"

namespace saalwacht::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using saalwacht::testing::TempDir;

std::string slurp(const fs::path& p) { return readFile(p).value_or("<missing>"); }

// A copy of sleep under a name that nothing else on the machine uses.
class Sleeper {
 public:
  explicit Sleeper(const TempDir& dir)
      : name_("swtest_sleep_" + std::to_string(::getpid())), path_(dir.path() / name_) {
    fs::copy_file("/bin/sleep", path_);
  }
  std::unique_ptr<posix::ChildProcess> start(const char* seconds) {
    return posix::spawn({path_, {seconds}, std::nullopt, std::nullopt});
  }
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  fs::path path_;
};

TEST(ProcessControl, CountsAndTerminatesByExactName) {
  TempDir dir;
  Sleeper sleeper(dir);
  auto control = createProcessControl();
  EXPECT_EQ(control->count(sleeper.name()), 0);
  EXPECT_FALSE(control->terminateFirst(sleeper.name()));

  auto first = sleeper.start("30");
  auto second = sleeper.start("30");
  ASSERT_TRUE(first && second);
  EXPECT_EQ(control->count(sleeper.name()), 2);
  EXPECT_EQ(control->count("SWTEST_SLEEP_" + std::to_string(::getpid())), 0);  // case matters
  EXPECT_EQ(control->count(sleeper.name().substr(1)), 0);

  EXPECT_TRUE(control->terminateFirst(sleeper.name()));
  EXPECT_TRUE(first->waitForExit(2s));  // the lower process id goes first
  EXPECT_FALSE(second->waitForExit(0ms));
  posix::reapChildren();
  EXPECT_EQ(control->count(sleeper.name()), 1);  // an ended child no longer counts

  EXPECT_TRUE(control->terminateFirst(sleeper.name()));
  EXPECT_TRUE(second->waitForExit(2s));
  posix::reapChildren();
  EXPECT_EQ(control->count(sleeper.name()), 0);
}

TEST(ProcessControl, AMarkedControlSeesOnlyProcessesCarryingTheMarker) {
  TempDir dir;
  Sleeper sleeper(dir);
  const fs::path program = dir.path() / sleeper.name();
  std::vector<std::string> marked = {"KURSDIENST_INSTANCE=/tmp/pc1"};
  auto plain = sleeper.start("30");
  auto other = posix::spawn({program, {"30"}, std::vector<std::string>{"KURSDIENST_INSTANCE=/tmp/pc10"}, std::nullopt});
  auto mine = posix::spawn({program, {"30"}, marked, std::nullopt});
  ASSERT_TRUE(plain && other && mine);
  auto control = posix::createMarkedProcessControl(marked[0]);
  EXPECT_EQ(createProcessControl()->count(sleeper.name()), 3);
  EXPECT_EQ(control->count(sleeper.name()), 1);
  EXPECT_TRUE(control->terminateFirst(sleeper.name()));
  EXPECT_TRUE(mine->waitForExit(2s));
  EXPECT_FALSE(plain->waitForExit(0ms));
  EXPECT_FALSE(other->waitForExit(0ms));
  ::kill(plain->pid(), SIGKILL);
  ::kill(other->pid(), SIGKILL);
  posix::reapChildren();
}

TEST(ProcessControl, AProcessThatEndsByItselfIsNotReportedAsTerminated) {
  TempDir dir;
  Sleeper sleeper(dir);
  auto control = createProcessControl();
  auto child = sleeper.start("0.03");
  ASSERT_TRUE(child);
  EXPECT_FALSE(control->terminateFirst(sleeper.name()));
  EXPECT_TRUE(child->waitForExit(2s));
  posix::reapChildren();
}

TEST(Spawn, ArgumentsArriveUnchangedAndNoDescriptorLeaks) {
  TempDir dir;
  const auto argFile = dir.path() / "arg";
  const auto fdFile = dir.path() / "fd";
  const std::string text = "Sie sagte \"Hallo\";\r\nzweite Zeile $HOME `x` 'y' \\ Grüße";
  const int leaked = ::dup2(::open("/dev/null", O_RDONLY), 57);  // deliberately without close-on-exec
  ASSERT_EQ(leaked, 57);
  auto child = posix::spawn({"/bin/sh",
                             {"-c",
                              "printf %s \"$1\" > \"$2\"; if [ -e /proc/$$/fd/57 ]; then echo open; else echo closed; fi "
                              "> \"$3\"",
                              "sh", text, argFile.string(), fdFile.string()},
                             std::nullopt,
                             std::nullopt});
  ::close(leaked);
  ASSERT_TRUE(child);
  ASSERT_TRUE(child->waitForExit(5s));
  posix::reapChildren();
  EXPECT_EQ(slurp(argFile), text);
  EXPECT_EQ(slurp(fdFile), "closed\n");
}

TEST(Spawn, MissingProgramAndWaitTimeout) {
  EXPECT_EQ(posix::spawn({"/nonexistent/swdkl", {}, std::nullopt, std::nullopt}), nullptr);
  auto child = posix::spawn({"/bin/sleep", {"5"}, std::nullopt, std::nullopt});
  ASSERT_TRUE(child);
  EXPECT_FALSE(child->waitForExit(50ms));
  ::kill(child->pid(), SIGKILL);
  EXPECT_TRUE(child->waitForExit(5s));
  posix::reapChildren();
}

TEST(Spawn, AChildIsWatchedThroughItsHandle) {
  asio::io_context io;
  auto child = posix::spawn({"/bin/sleep", {"30"}, std::nullopt, std::nullopt});
  ASSERT_TRUE(child);
  bool ended = false;
  child->asyncWaitForExit(io, [&] { ended = true; });
  io.run_for(50ms);
  EXPECT_FALSE(ended);
  // Stopped, it still runs but shows and defends nothing.
  ::kill(child->pid(), SIGSTOP);
  for (int i = 0; i < 200 && !child->stopped(); ++i) std::this_thread::sleep_for(5ms);
  EXPECT_TRUE(child->stopped());
  EXPECT_TRUE(child->terminate());  // also a stopped process
  io.restart();
  io.run_for(2s);
  EXPECT_TRUE(ended);
  EXPECT_FALSE(child->stopped());
  EXPECT_FALSE(child->terminate());  // gone already
  posix::reapChildren();

  // A wait dropped with its process is never called.
  auto other = posix::spawn({"/bin/sleep", {"30"}, std::nullopt, std::nullopt});
  ASSERT_TRUE(other);
  bool called = false;
  other->asyncWaitForExit(io, [&] { called = true; });
  const pid_t pid = other->pid();
  other.reset();
  ::kill(pid, SIGKILL);
  io.restart();
  io.run_for(200ms);
  EXPECT_FALSE(called);
  posix::reapChildren();
}

TEST(ConsoleSwitchLock, WhatIsNoVirtualTerminalSaysSoAndLocksNothing) {
  for (const char* device : {"/dev/null", "/nonexistent/tty0"}) {
    auto lock = createConsoleSwitchLock(fs::path(device));
    const auto error = lock->lock();
    ASSERT_TRUE(error) << device;
    EXPECT_NE(error->find(device), std::string::npos) << *error;
    EXPECT_FALSE(lock->locked());
    lock->unlock();  // harmless
  }
}

TEST(Xauthority, CookiesOfOneDisplayAreCopiedWhole) {
  const std::vector<posix::XauthEntry> entries = {
      {256, "lehrer-pc", "0", "MIT-MAGIC-COOKIE-1", std::string("\x01\x02\x00\xff", 4)},
      {256, "lehrer-pc", "1", "MIT-MAGIC-COOKIE-1", "other"},
      {65535, "", "0", "MIT-MAGIC-COOKIE-1", "wild"},
  };
  const std::string bytes = posix::formatXauthority(entries);
  const auto parsed = posix::parseXauthority(bytes);
  ASSERT_TRUE(parsed);
  ASSERT_EQ(parsed->size(), 3u);
  EXPECT_EQ((*parsed)[0].data, entries[0].data);
  EXPECT_EQ((*parsed)[2].family, 65535);
  for (const char* display : {":0", ":0.0", "lehrer-pc:0"}) {
    const auto mine = posix::entriesForDisplay(*parsed, display);
    ASSERT_EQ(mine.size(), 2u) << display;
    EXPECT_EQ(mine[1].data, "wild");
  }
  EXPECT_TRUE(posix::entriesForDisplay(*parsed, "nonsense").empty());
  EXPECT_FALSE(posix::parseXauthority(bytes.substr(0, bytes.size() - 1)));
}

TEST(SessionLauncher, OwnSessionNeedsADisplay) {
  const char* saved = std::getenv("DISPLAY");
  const std::string savedDisplay = saved ? saved : "";
  const char* savedWayland = std::getenv("WAYLAND_DISPLAY");
  const std::string savedWaylandValue = savedWayland ? savedWayland : "";
  ::unsetenv("WAYLAND_DISPLAY");
  SessionOptions options;
  options.useOwnSession = true;
  auto launcher = createSessionLauncher(options);
  ::unsetenv("DISPLAY");
  EXPECT_FALSE(launcher->interactiveSessionExists());
  EXPECT_EQ(launcher->launch("/bin/true", {}), nullptr);
  ::setenv("DISPLAY", ":97", 1);
  EXPECT_TRUE(launcher->interactiveSessionExists());
  auto child = launcher->launch("/bin/true", {});
  ASSERT_TRUE(child);
  EXPECT_TRUE(child->waitForExit(5s));
  EXPECT_EQ(launcher->sessionUserId(), std::nullopt);
  posix::reapChildren();
  if (saved) ::setenv("DISPLAY", savedDisplay.c_str(), 1); else ::unsetenv("DISPLAY");
  if (savedWayland) ::setenv("WAYLAND_DISPLAY", savedWaylandValue.c_str(), 1);
}

TEST(ScreenshotSpool, TakesOnlyAPlainFileAndRemovesIt) {
  TempDir state;
  auto spool = createScreenshotSpool(state.path());
  const auto target = spool->prepare(std::nullopt);
  ASSERT_TRUE(target);
  struct stat info {};
  ASSERT_EQ(::lstat(target->parent_path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  EXPECT_EQ(spool->collect(1000), std::nullopt);  // nothing written
  std::ofstream(*target, std::ios::binary) << "\xff\xd8picture";
  EXPECT_EQ(spool->collect(1000), std::string("\xff\xd8picture"));
  EXPECT_FALSE(fs::exists(*target));

  std::ofstream(*target, std::ios::binary) << "too long";
  EXPECT_EQ(spool->collect(4), std::nullopt);
  EXPECT_FALSE(fs::exists(*target));

  // A link to another file is never read.
  const auto secret = state.path() / "secret";
  std::ofstream(secret) << "secret";
  fs::create_symlink(secret, *target);
  EXPECT_EQ(spool->collect(1000), std::nullopt);
  EXPECT_EQ(slurp(secret), "secret");

  // A hard link to another file neither.
  ASSERT_TRUE(spool->prepare(std::nullopt));
  fs::create_hard_link(secret, *target);
  EXPECT_EQ(spool->collect(1000), std::nullopt);
  EXPECT_EQ(slurp(secret), "secret");
}

TEST(ScreenshotSpool, ReplacesAForeignOrLinkedFolder) {
  TempDir state;
  TempDir elsewhere;
  fs::create_directory_symlink(elsewhere.path(), state.path() / "spool");
  std::ofstream(elsewhere.path() / "keep") << "x";
  auto spool = createScreenshotSpool(state.path());
  const auto target = spool->prepare(std::nullopt);
  ASSERT_TRUE(target);
  EXPECT_FALSE(fs::is_symlink(target->parent_path()));
  EXPECT_TRUE(fs::exists(elsewhere.path() / "keep"));

  fs::permissions(target->parent_path(), fs::perms::all);  // world-writable
  std::ofstream(*target) << "planted";
  ASSERT_TRUE(spool->prepare(std::nullopt));
  struct stat info {};
  ASSERT_EQ(::lstat(target->parent_path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_FALSE(fs::exists(*target));  // old pictures never survive a new request
}

TEST(System, WireTextIsWindows1252) {
  EXPECT_EQ(toWireText("Grüße €"), "Gr\xfc\xdf" "e \x80");
  EXPECT_EQ(fromWireText("Gr\xfc\xdf" "e \x80"), "Grüße €");
  EXPECT_TRUE(fs::exists(executableDir() / "platform_test"));
}


TEST(ProgramLauncher, SplitsParametersLikeAShellWithoutOne) {
  using posix::splitWords;
  const struct {
    const char* text;
    std::vector<std::string> words;
  } cases[] = {
      {"", {}},
      {"  -viewonly   host::5900 ", {"-viewonly", "host::5900"}},
      {"-password 'a b' \"c d\"", {"-password", "a b", "c d"}},
      {"x\\ y 'it''s' \"q\\\"uote\" \"\\n\"", {"x y", "its", "q\"uote", "\\n"}},
      {"$HOME `id` ; rm -rf /", {"$HOME", "`id`", ";", "rm", "-rf", "/"}},
      {"''", {""}},
  };
  for (const auto& c : cases) {
    const auto words = splitWords(c.text);
    ASSERT_TRUE(words) << c.text;
    EXPECT_EQ(*words, c.words) << c.text;
  }
  EXPECT_FALSE(splitWords("'open"));
  // A quoted value always comes back as exactly that one word.
  for (const std::string value : {"demo1234", "mit Blank", "it's", "a\\b", "$HOME", "\"", "", "x'y\"z w"}) {
    const auto words = splitWords("-password " + quoteParameter(value) + " host::5900");
    ASSERT_TRUE(words) << value;
    EXPECT_EQ(*words, (std::vector<std::string>{"-password", value, "host::5900"})) << value;
  }
  EXPECT_EQ(quoteParameter("demo1234"), "demo1234");  // plain words stay as they are
  EXPECT_FALSE(splitWords("\"open"));
}

// A fake desktop handler records what it was asked to open and exits with
// the code the test chooses, like xdg-open does.
class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oldPath_ = environmentValue("PATH").value_or("");
    writeScript(dir_.path() / "xdg-open", "#!/bin/sh\necho \"$@\" > '" + (dir_.path() / "opened").string() +
                                              "'\nexit ${FAKE_XDG_EXIT:-0}\n");
    ::setenv("PATH", (dir_.path().string() + ":" + oldPath_).c_str(), 1);
  }
  void TearDown() override {
    ::setenv("PATH", oldPath_.c_str(), 1);
    ::unsetenv("FAKE_XDG_EXIT");
  }
  static void writeScript(const fs::path& path, const std::string& text) {
    std::ofstream(path) << text;
    fs::permissions(path, fs::perms::owner_all);
  }
  // Waits for a file the launched program writes.
  static std::string waitFor(const fs::path& path) {
    for (int i = 0; i < 500 && !fs::exists(path); ++i) std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(20ms);
    return slurp(path);
  }

  TempDir dir_{"launcher_test"};
  std::string oldPath_;
  std::unique_ptr<ProgramLauncher> launcher_ = createProgramLauncher();
};

TEST_F(LauncherTest, StartsAnExecutableWithItsWordsAndNoShell) {
  const auto out = dir_.path() / "args";
  writeScript(dir_.path() / "viewer", "#!/bin/sh\nfor a in \"$@\"; do echo \"[$a]\"; done > '" + out.string() + "'\n");
  EXPECT_EQ(launcher_->open((dir_.path() / "viewer").string(), "-password 'a b' host::5900 $HOME;x"),
            kLaunchStarted);
  EXPECT_EQ(waitFor(out), "[-password]\n[a b]\n[host::5900]\n[$HOME;x]\n");
  // Found on PATH by its bare name, too.
  fs::remove(out);
  EXPECT_EQ(launcher_->open("viewer", "0"), kLaunchStarted);
  EXPECT_EQ(waitFor(out), "[0]\n");
}

TEST_F(LauncherTest, DocumentsAndAddressesGoToTheDesktopHandler) {
  const auto page = dir_.path() / "index.htm";
  std::ofstream(page) << "<html></html>";
  EXPECT_EQ(launcher_->open(page.string(), "0"), kLaunchStarted);
  EXPECT_EQ(slurp(dir_.path() / "opened"), page.string() + "\n");
  EXPECT_EQ(launcher_->open("https://example.org/saalwacht", "0"), kLaunchStarted);
  EXPECT_EQ(slurp(dir_.path() / "opened"), "https://example.org/saalwacht\n");
  ::setenv("FAKE_XDG_EXIT", "3", 1);
  EXPECT_EQ(launcher_->open(page.string(), "0"), kLaunchNoAssociation);
}

TEST_F(LauncherTest, FailuresGiveTheirResultAndGermanMessage) {
  const auto notExecutable = dir_.path() / "broken";
  writeScript(notExecutable, "\x7f" "ELF garbage");
  const struct {
    std::string file;
    int result;
    const char* message;
  } cases[] = {
      {(dir_.path() / "missing.htm").string(), kLaunchFileNotFound, "Die angegebene Datei wurde nicht gefunden !"},
      {(dir_.path() / "nofolder" / "index.htm").string(), kLaunchPathNotFound,
       "Der Pfad zur Datei wurde nicht gefunden !"},
      {"no-such-program-anywhere", kLaunchFileNotFound, "Die angegebene Datei wurde nicht gefunden !"},
      {notExecutable.string(), kLaunchBadFormat, "Die .EXE Datei ist ungültig oder beschädigt !"},
  };
  for (const auto& c : cases) {
    const int result = launcher_->open(c.file, "0");
    EXPECT_EQ(result, c.result) << c.file;
    EXPECT_EQ(launchFailureText(result), c.message) << c.file;
  }
  ::setenv("PATH", "/nonexistent", 1);
  const auto page = dir_.path() / "index.htm";
  std::ofstream(page) << "x";
  EXPECT_EQ(launchFailureText(launcher_->open(page.string(), "0")),
            "Der angegebene Dateityp ist auf Ihrem Computer keiner Anwendung zugeordnet !");
  EXPECT_EQ(launchFailureText(kLaunchStarted), "");
  EXPECT_EQ(launchFailureText(kLaunchNotAttempted), "");
  EXPECT_EQ(launchFailureText(26), "Dateizugriff wird vom Betriebssystem verweigert !");
  EXPECT_EQ(launchFailureText(8), "Datei konnte nicht geöffnet werden !");
}

TEST(EchoTest, LoopbackAnswersAndUnknownNamesDoNot) {
  auto echo = createEchoTest();
  if (!echo->missingPermission().empty()) GTEST_SKIP() << "no ICMP permission here";
  EXPECT_GE(echo->averageRoundTripMs("127.0.0.1"), 0);
  EXPECT_GE(echo->averageRoundTripMs("127.0.1.77"), 0);  // any loopback address answers
  EXPECT_GE(echo->averageRoundTripMs("localhost"), 0);
  EXPECT_EQ(echo->averageRoundTripMs("no-such-pc.invalid"), -1);
  EXPECT_EQ(echo->averageRoundTripMs(""), -1);
}

TEST(QuitRequests, SignalsBecomeReadableBytes) {
  const int fd = quitRequestDescriptor();
  ASSERT_GE(fd, 0);
  EXPECT_EQ(quitRequestDescriptor(), fd);  // installed once
  pollfd ready{fd, POLLIN, 0};
  EXPECT_EQ(::poll(&ready, 1, 0), 0);
  ::raise(SIGTERM);
  ::raise(SIGINT);
  EXPECT_EQ(::poll(&ready, 1, 1000), 1);
  drainQuitRequests(fd);
  EXPECT_EQ(::poll(&ready, 1, 0), 0);
}

TEST(Version, OwnExecutableCarriesTheProjectVersion) {
  const auto self = fs::read_symlink("/proc/self/exe");
  const std::string version = fileVersionText(self);
  EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 3) << version;
  EXPECT_EQ(version.rfind(SAALWACHT_VERSION, 0), 0u) << version;
  EXPECT_EQ(fileVersionText("/bin/sh"), "");
}

}  // namespace
}  // namespace saalwacht::platform

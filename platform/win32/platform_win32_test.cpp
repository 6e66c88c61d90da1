// The win32 platform layer, run as a Windows program (under Wine in CI).
// The test program doubles as the child processes it needs: copied under
// another name it sleeps, writes its arguments, or stands in for power-off.

#include <windows.h>
#include <shellapi.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/echo.h"
#include "platform/launcher.h"
#include "platform/power.h"
#include "platform/processes.h"
#include "platform/session.h"
#include "platform/spool.h"
#include "platform/system.h"
#include "platform/version.h"
#include "platform/win32/wide.h"
#include "temp_dir.h"

namespace saalwacht::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using saalwacht::testing::TempDir;
using win32::narrow;
using win32::widen;

fs::path selfPath() { return executableDir() / "platform_test.exe"; }

// A copy of this program under `name` in `dir`.
fs::path copyOfSelf(const TempDir& dir, const std::string& name) {
  const fs::path copy = dir.path() / name;
  fs::copy_file(selfPath(), copy, fs::copy_options::overwrite_existing);
  return copy;
}

std::string slurp(const fs::path& p) { return readFile(p).value_or("<missing>"); }

template <typename Condition>
bool eventually(Condition condition) {
  for (int i = 0; i < 200; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

// Starts `program --sleep MS` directly, without the code under test.
win32::UniqueHandle startSleeper(const fs::path& program, int ms) {
  std::wstring line = win32::commandLine(program.wstring(), {L"--sleep", std::to_wstring(ms)});
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(program.wstring().c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
    return {};
  }
  ::CloseHandle(info.hThread);
  return win32::ownHandle(info.hProcess);
}

bool ended(const win32::UniqueHandle& process, DWORD ms = 5000) {
  return ::WaitForSingleObject(process.get(), ms) == WAIT_OBJECT_0;
}

// A quoted value comes back as exactly one argument when a program splits its
// command line the Windows way.
TEST(Win32Launcher, QuotedParametersSplitBackUnchanged) {
  for (const std::string value : {"demo1234", "mit Blank", "a\\b", "a\\\"b", "trail\\", "\"", "", "x y\\ z\\"}) {
    const std::string commandLine = "viewer.exe -password " + quoteParameter(value) + " host::5900";
    int count = 0;
    std::wstring wide(commandLine.begin(), commandLine.end());
    LPWSTR* args = ::CommandLineToArgvW(wide.c_str(), &count);
    ASSERT_TRUE(args) << value;
    ASSERT_EQ(count, 4) << commandLine;
    EXPECT_EQ(std::wstring(args[2]), std::wstring(value.begin(), value.end())) << commandLine;
    EXPECT_EQ(std::wstring(args[3]), L"host::5900");
    ::LocalFree(args);
  }
  EXPECT_EQ(quoteParameter("demo1234"), "demo1234");
}

TEST(Win32ProcessControl, CountsAndTerminatesByExactName) {
  TempDir dir;
  const std::string name = "swtest_sleep_" + std::to_string(::GetCurrentProcessId()) + ".exe";
  const auto program = copyOfSelf(dir, name);
  auto control = createProcessControl();
  EXPECT_EQ(control->count(name), 0);
  EXPECT_FALSE(control->terminateFirst(name));

  auto first = startSleeper(program, 60000);
  auto second = startSleeper(program, 60000);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(control->count(name), 2);
  std::string upper = name;
  for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(control->count(upper), 0);  // case matters
  EXPECT_FALSE(control->terminateFirst(upper));
  EXPECT_EQ(control->count(name.substr(1)), 0);

  EXPECT_TRUE(control->terminateFirst(name));
  EXPECT_EQ(control->count(name), 1);  // gone when the call returns
  EXPECT_TRUE(control->terminateFirst(name));
  EXPECT_TRUE(ended(first));
  EXPECT_TRUE(ended(second));
  EXPECT_EQ(control->count(name), 0);
}

TEST(Win32ProcessControl, AProcessThatEndsByItselfIsNotReportedAsTerminated) {
  TempDir dir;
  const std::string name = "swtest_short_" + std::to_string(::GetCurrentProcessId()) + ".exe";
  const std::wstring ready = L"swtest_ready_" + std::to_wstring(::GetCurrentProcessId());
  const std::wstring go = L"swtest_go_" + std::to_wstring(::GetCurrentProcessId());
  const auto readyEvent = win32::ownHandle(::CreateEventW(nullptr, TRUE, FALSE, ready.c_str()));
  const auto goEvent = win32::ownHandle(::CreateEventW(nullptr, TRUE, FALSE, go.c_str()));
  const fs::path program = copyOfSelf(dir, name);
  std::wstring line = win32::commandLine(program.wstring(), {L"--end-on", ready, go});
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(::CreateProcessW(program.wstring().c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &info));
  ::CloseHandle(info.hThread);
  const auto child = win32::ownHandle(info.hProcess);
  // Running and about to end by itself: the grace period lets it.
  ASSERT_EQ(::WaitForSingleObject(readyEvent.get(), 10000), WAIT_OBJECT_0);
  ::SetEvent(goEvent.get());
  EXPECT_FALSE(createProcessControl()->terminateFirst(name));
  EXPECT_TRUE(ended(child));
  DWORD code = 0;
  ::GetExitCodeProcess(child.get(), &code);
  EXPECT_EQ(code, 7u);  // its own exit code: it was not terminated
}

// Arguments that a naive command line would break apart or change.
const std::vector<std::string> kHardArguments = {
    "Sie sagte \"Hallo\"; zweite Zeile",
    "Zeile 1\r\nZeile 2",
    "C:\\Pfad mit Leerzeichen\\",
    "end\\\"quote",
    "",
    "Grüße, € und 中文",
    "%PATH% & | < > ^",
};

void expectArgumentsArrive(SessionLauncher& launcher, const TempDir& dir, const fs::path& program) {
  const fs::path out = dir.path() / "args.txt";
  std::vector<std::string> args = {"--write-args", narrow(out.wstring())};
  args.insert(args.end(), kHardArguments.begin(), kHardArguments.end());
  auto child = launcher.launch(program, args);
  ASSERT_TRUE(child);
  ASSERT_TRUE(child->waitForExit(10s));
  std::string expected;
  for (const auto& a : kHardArguments) expected += a + '\n' + '\0';
  EXPECT_EQ(slurp(out), expected);
}

// The extra entry reaches the helper, next to the inherited environment.
void expectEnvironmentArrives(SessionLauncher& launcher, const TempDir& dir, const fs::path& program) {
  const fs::path out = dir.path() / "env.txt";
  auto child = launcher.launch(program, {"--write-env", narrow(out.wstring())});
  ASSERT_TRUE(child);
  ASSERT_TRUE(child->waitForExit(10s));
  EXPECT_EQ(slurp(out), "Grüße|" + environmentValue("PATH").value_or("?"));
}

TEST(Win32SessionLauncher, OwnSessionPassesArgumentsUnchanged) {
  TempDir dir;
  SessionOptions options;
  options.useOwnSession = true;
  options.helperEnvironment = {"SWTEST_MARK=Grüße"};
  auto launcher = createSessionLauncher(options);
  expectEnvironmentArrives(*launcher, dir, copyOfSelf(dir, "swtest_env.exe"));
  EXPECT_TRUE(launcher->interactiveSessionExists());
  EXPECT_EQ(launcher->sessionUserId(), std::nullopt);
  expectArgumentsArrive(*launcher, dir, copyOfSelf(dir, "swtest_args.exe"));
  EXPECT_EQ(launcher->launch(dir.path() / "missing.exe", {}), nullptr);
}

// Helpers go to the session of the logon process; its name counts as a
// session only when exact, but is found in any case for the launch.
TEST(Win32SessionLauncher, LaunchesThroughTheLogonProcess) {
  struct Case {
    const char* logonName;
    bool sessionExists;
  };
  for (const Case c : {Case{"winlogon.exe", true}, Case{"WinLogon.EXE", false}}) {
    SCOPED_TRACE(c.logonName);
    TempDir dir;
    SessionOptions options;
    options.helperEnvironment = {"SWTEST_MARK=Grüße"};
    auto launcher = createSessionLauncher(options);
    ASSERT_EQ(createProcessControl()->count("winlogon.exe"), 0) << "a logon process runs already";
    EXPECT_FALSE(launcher->interactiveSessionExists());
    EXPECT_EQ(launcher->launch(copyOfSelf(dir, "swtest_args.exe"), {"--write-args", "x"}), nullptr);

    auto logon = startSleeper(copyOfSelf(dir, c.logonName), 60000);
    ASSERT_TRUE(logon);
    ASSERT_TRUE(eventually([] { return createProcessControl()->count("winlogon.exe") +
                                       createProcessControl()->count("WinLogon.EXE") > 0; }));
    EXPECT_EQ(launcher->interactiveSessionExists(), c.sessionExists);
    expectArgumentsArrive(*launcher, dir, copyOfSelf(dir, "swtest_args.exe"));
    expectEnvironmentArrives(*launcher, dir, copyOfSelf(dir, "swtest_env.exe"));
    ::TerminateProcess(logon.get(), 0);
    EXPECT_TRUE(ended(logon));
  }
}

TEST(Win32PowerControl, TheReplacementRunsAndNothingElse) {
  TempDir dir;
  const auto standIn = copyOfSelf(dir, "swtest_poweroff.exe");
  createPowerControl(standIn)->powerOff();
  EXPECT_TRUE(eventually([&] { return fs::exists(dir.path() / "powered-off"); }));
  // A missing stand-in is reported, never replaced by the real power-off.
  createPowerControl(dir.path() / "missing.exe")->powerOff();
}

TEST(Win32ScreenshotSpool, TakesOnlyAPlainFileAndRemovesIt) {
  TempDir dir;
  auto spool = createScreenshotSpool(dir.path());
  const fs::path picture = dir.path() / "screenshot.jpg";

  std::ofstream(picture, std::ios::binary) << "old picture";
  EXPECT_EQ(spool->prepare(std::nullopt), picture);
  EXPECT_FALSE(fs::exists(picture));  // an old picture never survives a new request
  EXPECT_EQ(spool->collect(1000), std::nullopt);

  std::ofstream(picture, std::ios::binary) << "\xff\xd8picture";
  EXPECT_EQ(spool->collect(1000), std::string("\xff\xd8picture"));
  EXPECT_FALSE(fs::exists(picture));

  std::ofstream(picture, std::ios::binary) << "too long";
  EXPECT_EQ(spool->collect(4), std::nullopt);
  EXPECT_FALSE(fs::exists(picture));

  // A second name of another file is not read, and the file stays.
  const fs::path secret = dir.path() / "secret.txt";
  std::ofstream(secret) << "secret";
  ASSERT_TRUE(::CreateHardLinkW(picture.wstring().c_str(), secret.wstring().c_str(), nullptr));
  EXPECT_EQ(spool->collect(1000), std::nullopt);
  EXPECT_EQ(slurp(secret), "secret");

  // A folder in the picture's place is cleared away.
  fs::create_directory(picture);
  EXPECT_EQ(spool->prepare(std::nullopt), picture);
  EXPECT_FALSE(fs::exists(picture));
}

TEST(Win32System, WireTextIsTheAnsiCodePage) {
  const std::string text = "Grüße €";
  if (::GetACP() == 1252) {
    EXPECT_EQ(toWireText(text), "Gr\xfc\xdf" "e \x80");
  }
  EXPECT_EQ(fromWireText(toWireText(text)), text);
  // What the code page cannot hold becomes its default character.
  EXPECT_EQ(fromWireText(toWireText("a\xe4\xb8\xad" "b")).size(), 3u);
  EXPECT_TRUE(fs::exists(executableDir() / "platform_test.exe"));

  ::SetEnvironmentVariableW(L"SWTEST_VALUE", L"Grüße");
  EXPECT_EQ(environmentValue("SWTEST_VALUE"), "Grüße");
  ::SetEnvironmentVariableW(L"SWTEST_VALUE", nullptr);
  EXPECT_EQ(environmentValue("SWTEST_VALUE"), std::nullopt);
}

TEST(Win32Wide, QuotedArgumentsSplitBackUnchanged) {
  for (const auto& arg : kHardArguments) {
    SCOPED_TRACE(arg);
    const std::wstring line = win32::commandLine(L"C:\\Program Files\\x.exe", {widen(arg), L"next"});
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(line.c_str(), &argc);
    ASSERT_TRUE(argv);
    ASSERT_EQ(argc, 3);
    EXPECT_EQ(std::wstring(argv[0]), L"C:\\Program Files\\x.exe");
    EXPECT_EQ(narrow(argv[1]), arg);
    EXPECT_EQ(std::wstring(argv[2]), L"next");
    ::LocalFree(argv);
  }
}

// A message longer than a command line can hold is shortened, not lost.
TEST(Win32Wide, AnOverlongLastArgumentIsShortenedToFit) {
  std::wstring quotes;
  std::wstring emoji;
  for (int i = 0; i < 100; ++i) {
    quotes += L"a\"";
    emoji += L"\U0001F600";  // two UTF-16 units each
  }
  struct Case {
    const char* name;
    std::wstring last;
    std::size_t limit;
  };
  const Case cases[] = {
      {"fits as it is", L"kurz", 100},
      {"plain text", std::wstring(500, L'x'), 100},
      {"quotes that need escapes", quotes, 120},
      {"characters of two units", emoji, 101},
      {"the real limit", std::wstring(40000, L'\u00fc'), win32::kMaxCommandLine},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring line = win32::commandLineWithin(L"C:\\x.exe", {L"--flag", c.last}, c.limit);
    EXPECT_LE(line.size(), c.limit);
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(line.c_str(), &argc);
    ASSERT_TRUE(argv);
    ASSERT_EQ(argc, 3);
    const std::wstring flag = argv[1];
    const std::wstring received = argv[2];
    ::LocalFree(argv);
    EXPECT_EQ(flag, L"--flag");
    EXPECT_EQ(c.last.compare(0, received.size(), received), 0);  // a prefix of the text
    EXPECT_GT(received.size(), std::min<std::size_t>(c.last.size() - 1, c.limit / 3));  // not needlessly short
    if (!received.empty()) {
      EXPECT_FALSE(IS_HIGH_SURROGATE(received.back()));
    }
  }
}

TEST(Win32Version, FileVersionFromTheVersionResource) {
  EXPECT_EQ(fileVersionText(selfPath()), std::string(SAALWACHT_VERSION) + ".0");
  TempDir dir;
  std::ofstream(dir.path() / "plain.txt") << "no resource";
  EXPECT_EQ(fileVersionText(dir.path() / "plain.txt"), "");
  EXPECT_EQ(fileVersionText(dir.path() / "missing.exe"), "");

  struct Case {
    std::uint32_t ms, ls;
    const char* text;
  };
  for (const Case c : {Case{0x00020001, 0x00000011, "2.1.0.17"}, Case{0, 0, "0.0.0.0"},
                       Case{0xffffffff, 0xffff0000, "65535.65535.65535.0"}}) {
    EXPECT_EQ(formatFileVersion(c.ms, c.ls), c.text);
  }
}

TEST(Win32ProgramLauncher, StartsProgramsAndReportsTheShellsResult) {
  TempDir dir;
  auto launcher = createProgramLauncher();
  const int missing = launcher->open(narrow((dir.path() / "missing.exe").wstring()), "");
  EXPECT_EQ(missing, kLaunchFileNotFound);
  EXPECT_EQ(launchFailureText(missing), "Die angegebene Datei wurde nicht gefunden !");
  const fs::path out = dir.path() / "args.txt";
  const auto program = copyOfSelf(dir, "swtest_args.exe");
  EXPECT_EQ(launcher->open(narrow(program.wstring()), "--write-args \"" + narrow(out.wstring()) + "\" a \"b c\""),
            kLaunchStarted);
  EXPECT_TRUE(eventually([&] { return slurp(out) == std::string("a\n\0b c\n\0", 8); })) << slurp(out);
}

TEST(Win32EchoTest, LoopbackAnswersAndAnEmptyNameDoesNot) {
  auto echo = createEchoTest();
  EXPECT_EQ(echo->missingPermission(), "");
  EXPECT_GE(echo->averageRoundTripMs("127.0.3.1"), 0);
  EXPECT_GE(echo->averageRoundTripMs("localhost"), 0);
  EXPECT_EQ(echo->averageRoundTripMs(""), -1);
}

}  // namespace
}  // namespace saalwacht::platform

// ---- the child roles ----

namespace {

int childRole(const std::wstring& self, const std::vector<std::wstring>& args) {
  using saalwacht::platform::win32::narrow;
  if (self.rfind(L"swtest_poweroff", 0) == 0) {
    std::ofstream(saalwacht::platform::executableDir() / "powered-off") << "off";
    return 0;
  }
  if (args.size() == 2 && args[0] == L"--sleep") {
    ::Sleep(static_cast<DWORD>(std::stoul(args[1])));
    return 0;
  }
  if (args.size() == 3 && args[0] == L"--end-on") {
    const HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, args[1].c_str());
    const HANDLE go = ::OpenEventW(SYNCHRONIZE, FALSE, args[2].c_str());
    if (!ready || !go) return 1;
    ::SetEvent(ready);
    ::WaitForSingleObject(go, INFINITE);
    return 7;
  }
  if (args.size() == 2 && args[0] == L"--write-env") {
    std::ofstream(std::filesystem::path(args[1]), std::ios::binary)
        << saalwacht::platform::environmentValue("SWTEST_MARK").value_or("?") << '|'
        << saalwacht::platform::environmentValue("PATH").value_or("?");
    return 0;
  }
  if (args.size() >= 2 && args[0] == L"--write-args") {
    std::string content;
    for (std::size_t i = 2; i < args.size(); ++i) content += narrow(args[i]) + '\n' + '\0';
    std::ofstream(std::filesystem::path(args[1]), std::ios::binary) << content;
    return 0;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  int wideCount = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &wideCount);
  const std::vector<std::wstring> args(wide + 1, wide + wideCount);
  ::LocalFree(wide);
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  const int role = childRole(std::filesystem::path(path).filename().wstring(), args);
  if (role >= 0) return role;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

// End to end: real kursdienst processes on loopback addresses, real helpers on
// a private Xvfb display, driven by saalwacht-cli.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <asio.hpp>
#include <csignal>
#include <fstream>

#include "platform/system.h"
#include "student_pc.h"
#include "xvfb.h"

namespace saalwacht::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class ServiceEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(display_.start(640, 480)) << display_.message();
  }

  // Each test has its own address so that a slow shut-down of one never
  // meets the next.
  StudentPc& startPc(const std::string& address) {
    pcs_.push_back(std::make_unique<StudentPc>(address, display_.name()));
    EXPECT_TRUE(pcs_.back()->start()) << "kursdienst did not come up on " << address;
    return *pcs_.back();
  }

  XvfbDisplay display_;
  std::vector<std::unique_ptr<StudentPc>> pcs_;
};

std::string slurp(const fs::path& p) { return platform::readFile(p).value_or("<missing>"); }

TEST_F(ServiceEndToEnd, BlankSurvivesTheStudentAndResetEndsIt) {
  auto& pc = startPc("127.0.1.1");
  auto run = runCli({pc.address(), "blank"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("127.0.1.1: blank delivered"), std::string::npos) << run.output;
  ASSERT_TRUE(eventually([&] { return pc.helpers("swdkl").size() == 1; }, 5s));
  // The flag is written right after the helper is started.
  EXPECT_TRUE(eventually([&] { return slurp(pc.flagFile()) == "1"; }, 2s));

  // A second blank starts no second helper.
  runCli({pc.address(), "blank"});
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(pc.helpers("swdkl").size(), 1u);

  // The student kills the blanking: it is back within one check period.
  const pid_t first = pc.helpers("swdkl").at(0);
  ::kill(first, SIGKILL);
  EXPECT_TRUE(eventually(
      [&] {
        const auto now = pc.helpers("swdkl");
        return now.size() == 1 && now[0] != first;
      },
      8s));

  run = runCli({pc.address(), "reset"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(eventually([&] { return pc.helpers("swdkl").empty(); }, 3s));
  EXPECT_TRUE(eventually([&] { return slurp(pc.flagFile()) == "0"; }, 2s));
  std::this_thread::sleep_for(5500ms);  // a full check period: it stays off
  EXPECT_TRUE(pc.helpers("swdkl").empty());
}

TEST_F(ServiceEndToEnd, BlankedStateOutlivesAServiceRestart) {
  auto& pc = startPc("127.0.1.2");
  std::ofstream(pc.flagFile(), std::ios::binary) << "1";
  EXPECT_TRUE(eventually([&] { return pc.helpers("swdkl").size() == 1; }, 8s));
}

TEST_F(ServiceEndToEnd, MessageArrivesIntactAtTheMessageWindow) {
  auto& pc = startPc("127.0.1.3");
  auto& other = startPc("127.0.1.4");
  const std::string text = "Grüße an „alle“: \"Bitte speichern!\"\nZweite Zeile – 5 €";
  const auto run = runCli({pc.address(), other.address(), "message", text});
  EXPECT_EQ(run.status, 0) << run.output;
  for (StudentPc* target : {&pc, &other}) {
    ASSERT_TRUE(eventually([&] { return target->helpers("swmsg").size() == 1; }, 5s)) << target->address();
    const auto args = StudentPc::arguments(target->helpers("swmsg").at(0));
    ASSERT_EQ(args.size(), 2u);
    // The console's wire form has CR LF line breaks; everything else is unchanged.
    EXPECT_EQ(args[1], "Grüße an „alle“: \"Bitte speichern!\"\r\nZweite Zeile – 5 €");
  }
}

struct DecodedPicture {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;
};

std::optional<DecodedPicture> decode(const std::string& jpeg) {
  tjhandle handle = tjInitDecompress();
  DecodedPicture picture;
  int subsampling = 0;
  int colorspace = 0;
  auto* data = reinterpret_cast<const unsigned char*>(jpeg.data());
  if (tjDecompressHeader3(handle, data, jpeg.size(), &picture.width, &picture.height, &subsampling, &colorspace) != 0) {
    tjDestroy(handle);
    return std::nullopt;
  }
  picture.rgb.resize(static_cast<std::size_t>(picture.width * picture.height * 3));
  const int rc = tjDecompress2(handle, data, jpeg.size(), picture.rgb.data(), picture.width, 0, picture.height,
                               TJPF_RGB, 0);
  tjDestroy(handle);
  if (rc != 0) return std::nullopt;
  return picture;
}

TEST_F(ServiceEndToEnd, ScreenshotIsAJpegOfTheDisplay) {
  auto& pc = startPc("127.0.1.5");
  const pid_t painter = ::fork();
  if (painter == 0) {
    ::setenv("DISPLAY", display_.name().c_str(), 1);
    ::execlp("xsetroot", "xsetroot", "-solid", "#2060c0", nullptr);
    _exit(127);
  }
  int status = 0;
  ::waitpid(painter, &status, 0);
  ASSERT_EQ(status, 0) << "xsetroot failed";

  const fs::path file = pc.stateDir() / "saved.jpg";
  const auto run = runCli({pc.address(), "screenshot", file.string()});
  ASSERT_EQ(run.status, 0) << run.output;
  const auto jpeg = platform::readFile(file);
  ASSERT_TRUE(jpeg);
  const auto picture = decode(*jpeg);
  ASSERT_TRUE(picture) << "not a JPEG";
  EXPECT_EQ(picture->width, 640);
  EXPECT_EQ(picture->height, 480);
  const auto* centre = &picture->rgb[static_cast<std::size_t>((240 * 640 + 320) * 3)];
  EXPECT_NEAR(centre[0], 0x20, 12);
  EXPECT_NEAR(centre[1], 0x60, 12);
  EXPECT_NEAR(centre[2], 0xc0, 12);
  EXPECT_TRUE(fs::is_empty(pc.stateDir() / "spool"));  // the service took its file away
}

TEST_F(ServiceEndToEnd, AConnectionResetLeavesTheServiceServing) {
  auto& pc = startPc("127.0.1.6");
  asio::io_context io;
  for (const char* first : {"4", "40"}) {
    asio::ip::tcp::socket socket(io);
    socket.connect({asio::ip::make_address(pc.address()), 4000});
    socket.set_option(asio::socket_base::linger(true, 0));
    asio::write(socket, asio::buffer(std::string(first)));
    socket.close();  // a reset, also in the middle of a screenshot
  }
  const auto run = runCli({pc.address(), "blank"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(eventually([&] { return pc.helpers("swdkl").size() == 1; }, 15s));
}

TEST_F(ServiceEndToEnd, ShutdownShowsTheNoticeThenRunsThePowerOffReplacement) {
  auto& pc = startPc("127.0.1.7");
  const auto run = runCli({pc.address(), "shutdown"});
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(eventually([&] { return pc.helpers("swsdmsg").size() == 1; }, 5s));
  std::this_thread::sleep_for(3s);
  EXPECT_FALSE(fs::exists(pc.powerOffMarker())) << "powered off long before the notice could be read";
  EXPECT_TRUE(eventually([&] { return fs::exists(pc.powerOffMarker()); }, 25s));
}

TEST_F(ServiceEndToEnd, CliReportsEachHostAndFailsWhenOneFails) {
  auto& pc = startPc("127.0.1.8");
  const auto run = runCli({pc.address(), "127.0.1.250", "no-such-host.invalid", "reset"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("127.0.1.8: reset delivered"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("127.0.1.250: error: connection refused"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("no-such-host.invalid: error: unknown host"), std::string::npos) << run.output;
  EXPECT_EQ(runCli({pc.address(), "message", ""}).status, 2);
  EXPECT_EQ(runCli({"reset"}).status, 2);
}

TEST(ServiceRegistration, InstallWritesAndEnablesTheUnitAndUninstallRemovesIt) {
  char pattern[] = "/tmp/saalwacht-unit-XXXXXX";
  const fs::path dir = ::mkdtemp(pattern);
  const fs::path calls = dir / "systemctl-calls";
  const fs::path systemctl = dir / "systemctl";
  const fs::path useradd = dir / "useradd";
  for (const auto& tool : {systemctl, useradd}) {
    std::ofstream script(tool);
    script << "#!/bin/sh\necho \"" << tool.filename().string() << " $*\" >> '" << calls.string() << "'\n";
    script.close();
    fs::permissions(tool, fs::perms::owner_all);
  }
  auto runService = [&](std::vector<std::string> args) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setenv("KURSDIENST_SYSTEMD_DIR", dir.c_str(), 1);
      ::setenv("KURSDIENST_SYSTEMCTL", systemctl.c_str(), 1);
      ::setenv("KURSDIENST_CONFIG", (dir / "etc" / "kursdienst.conf").c_str(), 1);
      ::setenv("KURSDIENST_USERADD", useradd.c_str(), 1);
      ::setenv("KURSDIENST_HELPER_USER", "swtest-no-such-helper", 1);
      const fs::path out = dir / "out";
      std::freopen(out.c_str(), "w", stdout);
      std::vector<char*> argv{const_cast<char*>("kursdienst")};
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv((binDir() / "kursdienst").c_str(), argv.data());
      _exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return std::make_pair(WEXITSTATUS(status), platform::readFile(dir / "out").value_or(""));
  };

  auto [status, out] = runService({"/INSTALL"});
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "Service erfolgreich installiert\n");
  const auto unit = platform::readFile(dir / "kursdienst.service").value_or("");
  EXPECT_NE(unit.find("ExecStart=" + (binDir() / "kursdienst").string() + "\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("WantedBy=multi-user.target"), std::string::npos);
  EXPECT_NE(unit.find("NoNewPrivileges=yes"), std::string::npos) << "the packaged unit with its hardening";
  // The helper account is made, then the unit enabled.
  EXPECT_EQ(platform::readFile(calls),
            "useradd --system --user-group --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "
            "--comment kursdienst helpers swtest-no-such-helper\n"
            "systemctl daemon-reload\nsystemctl enable kursdienst.service\n");
  // The settings folder with a commented file that leaves the PC open until set.
  const auto settings = platform::readFile(dir / "etc" / "kursdienst.conf").value_or("");
  EXPECT_NE(settings.find("#allow = "), std::string::npos) << settings;
  EXPECT_NE(settings.find("#trusted-keys = "), std::string::npos) << settings;
  EXPECT_TRUE(fs::is_directory(dir / "etc" / "trusted-keys"));
  EXPECT_EQ(fs::status(dir / "etc").permissions() & fs::perms::all,
            fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                fs::perms::others_exec);
  // An admin's own settings survive a second install.
  std::ofstream(dir / "etc" / "kursdienst.conf") << "allow = 10.0.0.1\n";
  EXPECT_EQ(runService({"/INSTALL"}).first, 0);
  EXPECT_EQ(platform::readFile(dir / "etc" / "kursdienst.conf"), "allow = 10.0.0.1\n");
  ::unlink(calls.c_str());

  std::tie(status, out) = runService({"-uninstall", "/SILENT"});
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(platform::readFile(calls), "systemctl disable kursdienst.service\nsystemctl daemon-reload\n");
  EXPECT_FALSE(fs::exists(dir / "kursdienst.service"));

  std::tie(status, out) = runService({"/UNINSTALL"});  // nothing to remove
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(out.starts_with("Service1: ")) << out;
  fs::remove_all(dir);
}

}  // namespace
}  // namespace saalwacht::testing

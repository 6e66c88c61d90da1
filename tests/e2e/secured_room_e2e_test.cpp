// End to end, played as a student would: real kursdienst processes with
// settings files, real helpers on a private Xvfb, saalwacht-cli as the
// teacher, and the student's own programs on the same machine and network.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <asio.hpp>
#include <thread>

#include "crypto/signing.h"
#include "platform/system.h"
#include "student_pc.h"
#include "temp_dir.h"
#include "xvfb.h"

namespace saalwacht::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using asio::ip::tcp;

class SecuredRoom : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(display_.start(640, 480)) << display_.message();
    teacherKey_ = keys_.path() / "lehrer.key";
    ASSERT_EQ(runCli({"keygen", teacherKey_.string(), "lehrer@raum-101"}).status, 0);
    studentKey_ = keys_.path() / "schueler.key";
    ASSERT_EQ(runCli({"keygen", studentKey_.string()}).status, 0);
    fs::create_directory(trusted_.path() / "keys");
    fs::copy_file(teacherKey_.string() + ".pub", trusted_.path() / "keys" / "lehrer.pub");
  }

  StudentPc& startPc(const std::string& address, const std::string& settings, int descriptorLimit = 0) {
    pcs_.push_back(std::make_unique<StudentPc>(address, display_.name()));
    if (!settings.empty()) pcs_.back()->configure(settings);
    if (descriptorLimit) pcs_.back()->limitDescriptors(descriptorLimit);
    EXPECT_TRUE(pcs_.back()->start()) << "kursdienst did not come up on " << address;
    return *pcs_.back();
  }

  std::string trustedKeys() const { return "trusted-keys = " + (trusted_.path() / "keys").string() + "\n"; }

  // The student's program: one connection, a few bytes, from a source of his choice.
  static void studentSends(const std::string& to, const std::string& bytes, const char* from = nullptr) {
    asio::io_context io;
    tcp::socket socket(io);
    socket.open(tcp::v4());
    if (from) socket.bind({asio::ip::make_address(from), 0});
    asio::error_code error;
    socket.connect({asio::ip::make_address(to), 4000}, error);
    if (error) return;
    asio::write(socket, asio::buffer(bytes), error);
    socket.shutdown(tcp::socket::shutdown_send, error);
    std::array<char, 256> buffer{};
    while (!error) socket.read_some(asio::buffer(buffer), error);  // until the service closes
  }

  XvfbDisplay display_;
  TempDir keys_;
  TempDir trusted_;
  fs::path teacherKey_, studentKey_;
  std::vector<std::unique_ptr<StudentPc>> pcs_;
};

TEST_F(SecuredRoom, OnlyTheTrustedConsoleCommandsThePc) {
  auto& pc = startPc("127.0.4.1", trustedKeys());
  auto run = runCli({"--key", teacherKey_.string(), pc.address(), "blank"});
  EXPECT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(eventually([&] { return pc.helpers("swdkl").size() == 1; }, 5s));

  // The student frees himself with one line to his own PC: nothing happens.
  studentSends(pc.address(), "00");
  studentSends("127.0.4.1", "30Nachricht vom Lehrer: heute frei");
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(pc.helpers("swdkl").size(), 1u);
  EXPECT_TRUE(pc.helpers("swmsg").empty());

  // Neither the plain CLI nor a key of his own gets in, and both say why.
  run = runCli({pc.address(), "reset"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("127.0.4.1: error: not a trusted console"), std::string::npos) << run.output;
  run = runCli({"--key", studentKey_.string(), pc.address(), "reset"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("127.0.4.1: error: not a trusted console"), std::string::npos) << run.output;
  EXPECT_EQ(pc.helpers("swdkl").size(), 1u);
  EXPECT_NE(pc.journal().find("refused a command from 127.0.0.1: not proven by a trusted console"), std::string::npos)
      << pc.journal();

  // The screenshot exchange works proven.
  const fs::path picture = pc.stateDir() / "shot.jpg";
  run = runCli({"--key", teacherKey_.string(), pc.address(), "screenshot", picture.string()});
  EXPECT_EQ(run.status, 0) << run.output;
  const auto jpeg = platform::readFile(picture);
  ASSERT_TRUE(jpeg);
  EXPECT_EQ(jpeg->substr(0, 3), "\xff\xd8\xff");

  run = runCli({"--key", teacherKey_.string(), pc.address(), "reset"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(eventually([&] { return pc.helpers("swdkl").empty(); }, 3s));
}

TEST_F(SecuredRoom, AnOpenPcTakesBothTheProvenAndThePlainForm) {
  auto& open = startPc("127.0.4.2", "");
  auto run = runCli({"--key", teacherKey_.string(), open.address(), "blank"});
  EXPECT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(eventually([&] { return open.helpers("swdkl").size() == 1; }, 5s));
  // A console that speaks only the plain form, byte for byte.
  studentSends(open.address(), "00");
  EXPECT_TRUE(eventually([&] { return open.helpers("swdkl").empty(); }, 3s));
}

// Sits between the CLI and a PC and keeps what the CLI sent.
class Recorder {
 public:
  Recorder(const std::string& listen, const std::string& target)
      : acceptor_(io_, {asio::ip::make_address(listen), 4000}), target_(asio::ip::make_address(target), 4000) {
    thread_ = std::thread([this] {
      asio::error_code error;
      tcp::socket client(io_);
      acceptor_.accept(client, error);
      if (error) return;
      tcp::socket service(io_);
      service.connect(target_, error);
      client.non_blocking(true);
      service.non_blocking(true);
      std::array<char, 65536> buffer{};
      bool open = true;
      while (open) {
        open = false;
        for (auto [from, to, record] : {std::tuple{&client, &service, true}, std::tuple{&service, &client, false}}) {
          const std::size_t n = from->read_some(asio::buffer(buffer), error);
          if (error == asio::error::would_block) {
            open = true;
            continue;
          }
          if (error) break;
          open = true;
          if (record) sent_.append(buffer.data(), n);
          asio::write(*to, asio::buffer(buffer.data(), n), error);
        }
        std::this_thread::sleep_for(1ms);
      }
    });
  }
  ~Recorder() {
    asio::error_code ignored;
    acceptor_.close(ignored);
    if (thread_.joinable()) thread_.join();
  }
  // Waits until the exchange is over.
  std::string sent() {
    if (thread_.joinable()) thread_.join();
    return sent_;
  }

 private:
  asio::io_context io_;
  tcp::acceptor acceptor_;
  tcp::endpoint target_;
  std::thread thread_;
  std::string sent_;
};

TEST_F(SecuredRoom, ARecordedExchangeReplayedDoesNothing) {
  auto& pc = startPc("127.0.4.3", trustedKeys());
  std::string recorded;
  {
    Recorder recorder("127.0.4.103", pc.address());
    const auto run = runCli({"--key", teacherKey_.string(), "127.0.4.103", "shutdown"});
    EXPECT_EQ(run.status, 0) << run.output;
    recorded = recorder.sent();
  }
  ASSERT_TRUE(eventually([&] { return pc.helpers("swsdmsg").size() == 1; }, 5s));
  ASSERT_GT(recorded.size(), 200u);  // the greeting and the proven command
  // The teacher's power-off has not happened yet (16.5 s): restart the PC's
  // service so that nothing of the first command is pending, then replay.
  pc.stop();
  std::error_code ignored;
  fs::remove(pc.powerOffMarker(), ignored);
  ASSERT_TRUE(pc.start());
  studentSends(pc.address(), recorded);
  std::this_thread::sleep_for(1s);
  EXPECT_TRUE(pc.helpers("swsdmsg").empty());
  EXPECT_NE(pc.journal().find("not proven by a trusted console"), std::string::npos) << pc.journal();
}

TEST_F(SecuredRoom, AllowServesListedSourcesOnly) {
  auto& pc = startPc("127.0.4.4", "allow = 127.0.4.50, 127.0.5.0/24\n");
  studentSends(pc.address(), "10", "127.0.4.51");  // his own PC, or a neighbour's
  std::this_thread::sleep_for(500ms);
  EXPECT_TRUE(pc.helpers("swdkl").empty());
  studentSends(pc.address(), "10", "127.0.4.50");
  EXPECT_TRUE(eventually([&] { return pc.helpers("swdkl").size() == 1; }, 5s));
  studentSends(pc.address(), "00", "127.0.5.9");
  EXPECT_TRUE(eventually([&] { return pc.helpers("swdkl").empty(); }, 3s));
  // The teacher's CLI from a listed source is served.
  auto run = runCli({"--from", "127.0.4.50", pc.address(), "blank"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(eventually([&] { return pc.helpers("swdkl").size() == 1; }, 5s));
  // From 127.0.0.1 it is no listed source: refused, and told so.
  run = runCli({"--key", teacherKey_.string(), pc.address(), "reset"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("not a trusted console"), std::string::npos) << run.output;
  EXPECT_NE(pc.journal().find("not an allowed source"), std::string::npos) << pc.journal();
}

TEST_F(SecuredRoom, AFaultySettingsFileStopsTheStart) {
  StudentPc pc("127.0.4.5", display_.name());
  pc.configure("allow = 127.0.4.50\nalow = 10.0.0.1\n");
  EXPECT_FALSE(pc.start());
  EXPECT_NE(pc.journal().find("kursdienst.conf, line 2, key \"alow\": unknown key"), std::string::npos)
      << pc.journal();
}

TEST_F(SecuredRoom, ElevenHundredIdleConnectionsCannotSilenceThePc) {
  // Enough descriptors for the student's program, as many as systemd gives
  // the service.
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 4096);
  ::setrlimit(RLIMIT_NOFILE, &limit);
  ASSERT_GE(limit.rlim_cur, 1200u);
  auto& pc = startPc("127.0.4.6", trustedKeys(), 1024);

  asio::io_context io;
  std::vector<tcp::socket> held;
  for (int i = 0; i < 1100; ++i) {
    tcp::socket socket(io);
    socket.open(tcp::v4());
    socket.bind({asio::ip::make_address("127.0.4.60"), 0});
    asio::error_code error;
    socket.connect({asio::ip::make_address(pc.address()), 4000}, error);
    if (!error) held.push_back(std::move(socket));
  }
  EXPECT_GT(held.size(), 1000u);
  const auto started = std::chrono::steady_clock::now();
  auto run = runCli({"--timeout", "5", "--key", teacherKey_.string(), pc.address(), "blank"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(eventually([&] { return pc.helpers("swdkl").size() == 1; }, 5s));
  const fs::path picture = pc.stateDir() / "shot.jpg";
  run = runCli({"--timeout", "5", "--key", teacherKey_.string(), pc.address(), "screenshot", picture.string()});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
}

}  // namespace
}  // namespace saalwacht::testing

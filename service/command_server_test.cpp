// The command server over loopback: framing, and who is served.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "crypto/signing.h"
#include "protocol/signed_link.h"
#include "service/command_server.h"
#include "temp_dir.h"

namespace saalwacht::service {
namespace {

using namespace std::chrono_literals;
using asio::ip::tcp;
using protocol::Command;
using protocol::CommandCode;

const std::string kJpeg = std::string("\xff\xd8\xff\xe0") + "picture data" + "\xff\xd9";

class ServerTest : public ::testing::Test {
 protected:
  ~ServerTest() override {
    if (server_) {
      // Everything the server started ends on its own thread before the
      // loop goes, so no socket or timer outlives it.
      asio::post(io_, [this] { server_->stop(); });
      work_.reset();
      thread_.join();
    }
  }

  // Starts the server on 127.0.0.1 with these rules (done by the first
  // connect() when a test sets none).
  void start(ServerAccess access = {}, ServerLimits limits = {}) {
    server_ = std::make_unique<CommandServer>(
        io_, tcp::endpoint{asio::ip::make_address("127.0.0.1"), 0},
        [this](const Command& command, const std::shared_ptr<ExchangeState>& exchange, CommandServer::Reply reply) {
          handle(command, exchange, std::move(reply));
        },
        [] {}, access, limits, [this](const std::string& line) {
          std::lock_guard lock(mutex_);
          journal_.push_back(line);
        });
    thread_ = std::thread([this] { io_.run(); });
  }

  void handle(const Command& command, const std::shared_ptr<ExchangeState>& exchange, CommandServer::Reply reply) {
    {
      std::lock_guard lock(mutex_);
      received_.push_back(command);
      changed_.notify_all();
    }
    if (command.code == CommandCode::ScreenshotRequest) {
      // Made in the background, as the capture helper does.
      exchange->capturing = true;
      asio::post(io_, [this, exchange, reply] {
        exchange->capturing = false;
        exchange->picture = picture();
        reply(std::make_shared<const std::string>(std::to_string(exchange->picture->size())));
      });
    }
    if (command.code == CommandCode::SendPicture && exchange->picture) reply(std::exchange(exchange->picture, {}));
  }

  // A picture that counts how many of its kind are alive at once.
  std::shared_ptr<const std::string> picture() {
    const int now = ++livePictures_;
    int peak = peakPictures_.load();
    while (now > peak && !peakPictures_.compare_exchange_weak(peak, now)) {
    }
    return std::shared_ptr<const std::string>(new std::string(pictureText_), [this](const std::string* p) {
      --livePictures_;
      delete p;
    });
  }

  std::vector<Command> waitForCommands(std::size_t n, std::chrono::milliseconds limit = 5s) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, limit, [&] { return received_.size() >= n; });
    return received_;
  }

  std::vector<Command> received() {
    std::lock_guard lock(mutex_);
    return received_;
  }

  tcp::socket connect(const char* from = nullptr) {
    if (!server_) start();
    tcp::socket socket(clientIo_);
    socket.open(tcp::v4());
    if (from) socket.bind({asio::ip::make_address(from), 0});
    socket.connect(server_->localEndpoint());
    return socket;
  }

  static void write(tcp::socket& socket, std::string_view bytes) { asio::write(socket, asio::buffer(bytes)); }

  static std::string readSome(tcp::socket& socket) {
    std::array<char, 256> buffer{};
    asio::error_code error;
    const std::size_t n = socket.read_some(asio::buffer(buffer), error);
    return {buffer.data(), n};
  }

  static std::string readExactly(tcp::socket& socket, std::size_t n) {
    std::string bytes(n, '\0');
    asio::read(socket, asio::buffer(bytes));
    return bytes;
  }

  // Whether the server has closed the connection (reads until the end, with a bound).
  static bool closedByServer(tcp::socket& socket, std::chrono::milliseconds limit = 5s) {
    socket.non_blocking(true);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::array<char, 4096> buffer{};
    while (std::chrono::steady_clock::now() < deadline) {
      asio::error_code error;
      socket.read_some(asio::buffer(buffer), error);
      if (error == asio::error::eof || error == asio::error::connection_reset) return true;
      if (error && error != asio::error::would_block) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }

  CommandServer::Counters counters() {
    std::promise<CommandServer::Counters> result;
    asio::post(io_, [&] { result.set_value(server_->counters()); });
    return result.get_future().get();
  }

  asio::io_context io_;
  asio::executor_work_guard<asio::io_context::executor_type> work_ = asio::make_work_guard(io_);
  std::unique_ptr<CommandServer> server_;
  std::thread thread_;
  asio::io_context clientIo_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Command> received_;
  std::vector<std::string> journal_;
  std::string pictureText_ = kJpeg;
  std::atomic<int> livePictures_{0};
  std::atomic<int> peakPictures_{0};
};

TEST_F(ServerTest, AResetConnectionDoesNotStopTheServer) {
  {
    auto socket = connect();
    socket.set_option(asio::socket_base::linger(true, 0));  // close with a reset
    write(socket, "1");
    socket.close();
  }
  auto socket = connect();
  write(socket, "10");
  socket.close();
  const auto commands = waitForCommands(1);
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].code, CommandCode::Blank);
}

TEST_F(ServerTest, RepliesGoToTheConnectionThatAsked) {
  auto idle = connect();  // an older connection that asks nothing
  auto asking = connect();
  write(asking, "40");
  EXPECT_EQ(readSome(asking), std::to_string(kJpeg.size()));
  write(asking, "41");
  EXPECT_EQ(readExactly(asking, kJpeg.size()), kJpeg);
  write(asking, "42");
  EXPECT_EQ(idle.available(), 0u);
  EXPECT_EQ(waitForCommands(3).size(), 3u);
}

TEST_F(ServerTest, AMessageInPiecesIsOneMessageAndIsBounded) {
  {
    auto socket = connect();
    write(socket, "30Hallo ");
    std::this_thread::sleep_for(50ms);
    write(socket, "10 Welt");  // must not be read as "blank"
  }
  {
    auto socket = connect();
    write(socket, "30" + std::string(protocol::kMaxMessageTextBytes + 5000, 'x'));
  }
  const auto commands = waitForCommands(2);
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0], (Command{CommandCode::Message, "Hallo 10 Welt"}));
  EXPECT_EQ(commands[1].code, CommandCode::Message);
  EXPECT_EQ(commands[1].payload.size(), protocol::kMaxMessageTextBytes);
}

TEST_F(ServerTest, ASingleCharacterWaitsForTheRest) {
  {
    auto socket = connect();
    write(socket, "0");  // a lone "0" is a reset
  }
  {
    auto socket = connect();
    write(socket, "1");
    std::this_thread::sleep_for(50ms);
    write(socket, "0");
  }
  {
    auto socket = connect();
    write(socket, "99");  // ignored
  }
  const auto commands = waitForCommands(2);
  std::this_thread::sleep_for(100ms);
  ASSERT_EQ(received().size(), 2u);
  EXPECT_EQ(commands[0].code, CommandCode::Reset);
  EXPECT_EQ(commands[1].code, CommandCode::Blank);
}

TEST_F(ServerTest, AnOpenServiceAnswersTheGreetingAndTakesThePlainCommand) {
  auto socket = connect();
  write(socket, protocol::kGreeting);
  EXPECT_EQ(readSome(socket), protocol::kOpenReply);
  write(socket, "10");
  EXPECT_EQ(waitForCommands(1).at(0).code, CommandCode::Blank);
}

// ---- proofs ----

class ProvenServerTest : public ServerTest {
 protected:
  ProvenServerTest() {
    EXPECT_FALSE(crypto::savePublicKey(keyFolder.path() / "lehrer.pub", teacher.publicKey()));
    keys.emplace(keyFolder.path(), [](const std::string&) {});
    start({nullptr, &*keys});
  }

  std::string challengeOn(tcp::socket& socket) {
    write(socket, protocol::kGreeting);
    const std::string reply = readExactly(socket, protocol::kChallengeReplyBytes);
    EXPECT_EQ(reply.substr(0, 2), "51");
    return *protocol::fromHex(reply.substr(2));
  }

  static std::string proof(const crypto::PrivateKey& key, const std::string& challenge, const std::string& command) {
    const auto& raw = key.publicKey().bytes;
    return protocol::encodeSignedCommand({std::string(reinterpret_cast<const char*>(raw.data()), raw.size()),
                                          key.sign(protocol::signedData(challenge, command)), command});
  }

  saalwacht::testing::TempDir keyFolder;
  crypto::PrivateKey teacher = crypto::PrivateKey::generate("lehrer");
  std::optional<TrustedKeys> keys;
};

TEST_F(ProvenServerTest, APlainCommandIsClosedWithoutEffect) {
  // The student's one line to his own PC.
  for (const char* attack : {"00", "20", "30Hallo", "40", "0"}) {
    auto socket = connect();
    write(socket, attack);
    socket.shutdown(tcp::socket::shutdown_send);
    EXPECT_TRUE(closedByServer(socket)) << attack;
  }
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(received().empty());
  EXPECT_GE(counters().refusedCommands, 4u);
}

TEST_F(ProvenServerTest, AProvenCommandIsCarriedOut) {
  auto socket = connect();
  const std::string challenge = challengeOn(socket);
  write(socket, proof(teacher, challenge, "30Guten Morgen"));
  EXPECT_EQ(readSome(socket), protocol::kAcceptedReply);
  const auto commands = waitForCommands(1);
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0], (Command{CommandCode::Message, "Guten Morgen"}));
}

TEST_F(ProvenServerTest, WrongKeyForgedSignatureAndReplayAreRefused) {
  const auto student = crypto::PrivateKey::generate("schueler");
  std::string recorded;
  {
    auto socket = connect();
    recorded = proof(teacher, challengeOn(socket), "20");
    write(socket, recorded);
    EXPECT_EQ(readSome(socket), protocol::kAcceptedReply);
  }
  ASSERT_EQ(waitForCommands(1).size(), 1u);

  struct Attack {
    const char* name;
    std::function<std::string(const std::string& challenge)> message;
  };
  const Attack attacks[] = {
      {"a key of his own", [&](const std::string& c) { return proof(student, c, "20"); }},
      {"the teacher's key, his signature",
       [&](const std::string& c) {
         std::string m = proof(student, c, "20");
         const auto& raw = teacher.publicKey().bytes;
         m.replace(2, 64, protocol::toHex(std::string(reinterpret_cast<const char*>(raw.data()), raw.size())));
         return m;
       }},
      {"a recorded exchange replayed", [&](const std::string&) { return recorded; }},
      {"a proof for another command", [&](const std::string& c) {
         std::string m = proof(teacher, c, "00");  // a reset signed, a shut-down sent
         m.replace(m.size() - 2, 2, "20");
         return m;
       }},
  };
  for (const auto& attack : attacks) {
    auto socket = connect();
    write(socket, attack.message(challengeOn(socket)));
    EXPECT_EQ(readSome(socket), protocol::kRefusedReply) << attack.name;
    EXPECT_TRUE(closedByServer(socket)) << attack.name;
  }
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(received().size(), 1u);
  EXPECT_EQ(counters().refusedCommands, 4u);
}

TEST_F(ProvenServerTest, AProvenScreenshotExchange) {
  auto socket = connect();
  write(socket, proof(teacher, challengeOn(socket), "40"));
  EXPECT_EQ(readExactly(socket, 2), protocol::kAcceptedReply);
  EXPECT_EQ(readSome(socket), std::to_string(kJpeg.size()));
  write(socket, "41");
  EXPECT_EQ(readExactly(socket, kJpeg.size()), kJpeg);
  write(socket, "42");
  const auto commands = waitForCommands(3);
  ASSERT_EQ(commands.size(), 3u);
  EXPECT_EQ(commands[2].code, CommandCode::EndScreenshot);
}

TEST_F(ProvenServerTest, AnEmptyKeyFolderMeansOpenAndANewKeyCountsWithoutARestart) {
  saalwacht::testing::TempDir empty;
  TrustedKeys later(empty.path(), [](const std::string&) {});
  EXPECT_FALSE(later.required());
  std::this_thread::sleep_for(2100ms);  // the folder is looked at again after a short while
  ASSERT_FALSE(crypto::savePublicKey(empty.path() / "k.pub", teacher.publicKey()));
  EXPECT_TRUE(later.required());
  const auto& raw = teacher.publicKey().bytes;
  EXPECT_NE(later.find(std::string(reinterpret_cast<const char*>(raw.data()), raw.size())), nullptr);
}

// ---- sources and limits ----

TEST_F(ServerTest, OnlyAllowedSourcesAreServedAndRefusalsAreCounted) {
  SourceFilter sources(io_, {*parseSourceRule("127.0.0.2"), *parseSourceRule("127.0.1.0/24")},
                       [](const std::string&) {});
  start({&sources, nullptr});
  for (const char* listed : {"127.0.0.2", "127.0.1.77"}) {
    auto socket = connect(listed);
    write(socket, "10");
  }
  EXPECT_EQ(waitForCommands(2).size(), 2u);
  for (int i = 0; i < 5; ++i) {
    auto socket = connect("127.0.0.3");
    EXPECT_TRUE(closedByServer(socket));
  }
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(received().size(), 2u);
  EXPECT_EQ(counters().refusedSources, 5u);
  std::lock_guard lock(mutex_);
  // One line for the first, the others counted, not one line each.
  EXPECT_EQ(std::count_if(journal_.begin(), journal_.end(),
                          [](const std::string& l) { return l.find("not an allowed source") != std::string::npos; }),
            1);
}

TEST_F(ServerTest, AConnectionThatSaysNothingIsClosedAfterItsTime) {
  start({}, {.commandTime = 300ms, .messageTime = 2s});
  auto idle = connect();
  EXPECT_TRUE(closedByServer(idle, 3s));
  // A message text may take longer than a plain command.
  auto slow = connect();
  write(slow, "30Hallo");
  std::this_thread::sleep_for(600ms);
  write(slow, " Welt");
  slow.shutdown(tcp::socket::shutdown_send);
  EXPECT_EQ(waitForCommands(1).at(0).payload, "Hallo Welt");
  EXPECT_GE(counters().timedOut, 1u);
}

TEST_F(ServerTest, AFloodOfIdleConnectionsFromOneSourceCannotKeepAConsoleOut) {
  start({}, {.maxConnections = 8});
  std::vector<tcp::socket> flood;
  for (int i = 0; i < 40; ++i) flood.push_back(connect("127.0.0.9"));
  auto console = connect("127.0.0.2");
  // The console's connection holds its place although the flood goes on.
  for (int i = 0; i < 20; ++i) flood.push_back(connect("127.0.0.9"));
  write(console, "10");
  const auto commands = waitForCommands(1);
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].code, CommandCode::Blank);
  // The flood's own oldest connections made the room (accepted in the background).
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (counters().dropped < 53 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(counters().dropped, 53u);
}

TEST_F(ServerTest, APeerThatKeepsAskingNeverHasASecondPictureQueued) {
  pictureText_ = std::string(4 * 1024 * 1024, 'p');  // more than the kernel's buffers take
  auto greedy = connect();
  for (int i = 0; i < 30; ++i) {
    write(greedy, "40");
    std::this_thread::sleep_for(2ms);
    write(greedy, "41");
    std::this_thread::sleep_for(2ms);
  }
  std::this_thread::sleep_for(300ms);
  // One picture announced and one on its way at most; the rest waits unread.
  EXPECT_LE(peakPictures_.load(), 2);
}

}  // namespace
}  // namespace saalwacht::service

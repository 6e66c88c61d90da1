#include "service/command_server.h"

#include <algorithm>
#include <array>
#include <deque>
#include <map>

#include "crypto/signing.h"
#include "platform/system.h"
#include "protocol/signed_link.h"

namespace saalwacht::service {

namespace {

using Clock = std::chrono::steady_clock;
using protocol::CommandCode;

// The largest command a proof may carry: a message text and its code.
constexpr std::size_t kMaxCommandBytes = protocol::kMaxMessageTextBytes + 2;

std::shared_ptr<const std::string> text(std::string_view bytes) {
  return std::make_shared<const std::string>(bytes);
}

}  // namespace

// One console connection. In the plain form a message is what one read
// delivers, with two exceptions that keep commands whole: a read of a single
// character waits for the next (or for the end of the connection), and a
// message text (code 30) is collected until the console closes the
// connection, because it always closes right after sending and a long text
// may arrive in several pieces. A greeting ("50") asks for the proven form.
class CommandServer::Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(CommandServer& server, asio::ip::tcp::socket socket, asio::ip::address peer)
      : server_(server), socket_(std::move(socket)), peer_(std::move(peer)), deadline_(server.io_),
        started_(Clock::now()) {}

  void start() {
    expireAt(started_ + server_.limits_.commandTime);
    read();
  }

  void close() {
    if (closed_) return;
    closed_ = true;
    deadline_.cancel();
    asio::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
  }

  // A screenshot under way on it: such a connection is not dropped for room.
  bool holdsScreenshot() const { return exchange_->capturing || exchange_->picture || !outgoing_.empty(); }
  bool proven() const { return mode_ == Mode::Proven; }
  const asio::ip::address& peer() const { return peer_; }

 private:
  enum class Mode { Undecided, Plain, AwaitingProof, Proven };

  bool replyPending() const { return exchange_->capturing || !outgoing_.empty(); }

  bool keysRequired() const { return server_.access_.keys && server_.access_.keys->required(); }

  void expireAt(Clock::time_point when) {
    deadline_.expires_at(when);
    auto self = shared_from_this();
    deadline_.async_wait([this, self](const asio::error_code& error) {
      if (error || closed_) return;
      ++server_.counters_.timedOut;
      finish();
    });
  }

  // A screenshot exchange may take long, but not stand still.
  void progressed() {
    if (screenshotActive_) expireAt(Clock::now() + server_.limits_.exchangeStall);
  }

  void read() {
    auto self = shared_from_this();
    socket_.async_read_some(asio::buffer(buffer_), [this, self](const asio::error_code& error, std::size_t n) {
      if (closed_) return;
      if (!error) {
        progressed();
        received(std::string_view(buffer_.data(), n));
        if (closed_) return;
        // While a reply is under way nothing more is read: a peer that keeps
        // asking only fills its own buffers, never ours.
        if (replyPending()) {
          readPaused_ = true;
        } else {
          read();
        }
        return;
      }
      if (error == asio::error::eof) {
        endOfInput();
      } else {
        finish();  // a broken connection is dropped; the server serves on
      }
    });
  }

  void received(std::string_view bytes) {
    if (refusing_) return;
    switch (mode_) {
      case Mode::Undecided:
        decide(bytes);
        break;
      case Mode::Plain:
        plainReceived(bytes);
        break;
      case Mode::AwaitingProof:
        proofReceived(bytes);
        break;
      case Mode::Proven:
        provenReceived(bytes);
        break;
    }
  }

  void decide(std::string_view bytes) {
    pending_.append(bytes.substr(0, kMaxCommandBytes + protocol::kSignedHeaderBytes - pending_.size()));
    if (pending_.size() < 2) return;
    if (protocol::readCodeNumber(pending_) == protocol::kGreetingCode) {
      if (pending_.size() < protocol::kGreeting.size()) return;
      std::string rest = pending_.substr(protocol::kGreeting.size());
      pending_.clear();
      if (keysRequired()) {
        challenge_ = crypto::randomBytes(protocol::kChallengeBytes);
        mode_ = Mode::AwaitingProof;
        send(text(protocol::encodeChallenge(challenge_)));
      } else {
        mode_ = Mode::Plain;
        send(text(protocol::kOpenReply));
      }
      if (!rest.empty()) received(rest);
      return;
    }
    if (keysRequired()) return refuse();
    mode_ = Mode::Plain;
    std::string first = std::move(pending_);
    pending_.clear();
    plainReceived(first);
  }

  void plainReceived(std::string_view bytes) {
    if (collectingText_) {
      const std::size_t room = kMaxCommandBytes - pending_.size();
      pending_.append(bytes.substr(0, room));
      return;
    }
    pending_.append(bytes);
    if (pending_.size() < 2) return;
    if (protocol::readCodeNumber(pending_) == static_cast<int>(CommandCode::Message)) {
      collectingText_ = true;
      pending_.resize(std::min(pending_.size(), kMaxCommandBytes));
      expireAt(started_ + server_.limits_.messageTime);
      return;
    }
    std::string message = std::move(pending_);
    pending_.clear();
    dispatch(message);
  }

  void proofReceived(std::string_view bytes) {
    pending_.append(bytes.substr(0, kMaxCommandBytes + protocol::kSignedHeaderBytes - pending_.size()));
    const auto parsed = protocol::parseSignedCommand(pending_, kMaxCommandBytes);
    using Status = protocol::SignedParse::Status;
    if (parsed.status == Status::Invalid) return refuse();
    if (parsed.status == Status::NeedMore) {
      // A long message text may take its time, as in the plain form.
      if (pending_.size() >= protocol::kSignedHeaderBytes + 2 &&
          protocol::readCodeNumber(std::string_view(pending_).substr(protocol::kSignedHeaderBytes)) ==
              static_cast<int>(CommandCode::Message)) {
        expireAt(started_ + server_.limits_.messageTime);
      }
      return;
    }
    const auto& proof = parsed.command;
    const crypto::PublicKey* key = server_.access_.keys ? server_.access_.keys->find(proof.key) : nullptr;
    const bool genuine =
        key && crypto::verify(key->bytes, protocol::signedData(challenge_, proof.command), proof.signature);
    // A challenge answers one proof only.
    challenge_.clear();
    if (!genuine) return refuse();
    std::string rest = pending_.substr(protocol::kSignedHeaderBytes + proof.command.size());
    pending_.clear();
    mode_ = Mode::Proven;
    send(text(protocol::kAcceptedReply));
    const auto command = protocol::parseCommand(proof.command);
    // A proof carries one command that starts something; the picture's
    // "41" and "42" follow on the proven connection.
    if (command && command->code != CommandCode::SendPicture && command->code != CommandCode::EndScreenshot) {
      run(*command);
    }
    if (!rest.empty() && !closed_) provenReceived(rest);
  }

  void provenReceived(std::string_view bytes) {
    pending_.append(bytes.substr(0, 16));
    while (pending_.size() >= 2) {
      const auto command = protocol::parseCommand(pending_.substr(0, 2));
      pending_.erase(0, 2);
      if (command && (command->code == CommandCode::SendPicture || command->code == CommandCode::EndScreenshot)) {
        run(*command);
      }
    }
  }

  void refuse() {
    refusing_ = true;
    pending_.clear();
    server_.refused(Refusal::Command, peer_);
    closeAfterWrite_ = true;
    send(text(protocol::kRefusedReply));
  }

  void endOfInput() {
    inputEnded_ = true;
    if (!pending_.empty() && mode_ == Mode::Plain) {
      std::string message = std::move(pending_);
      pending_.clear();
      dispatch(message);
    } else if (!pending_.empty() && mode_ == Mode::Undecided && !keysRequired()) {
      // A lone character that the console closed after.
      std::string message = std::move(pending_);
      pending_.clear();
      mode_ = Mode::Plain;
      dispatch(message);
    }
    if (!closed_ && outgoing_.empty()) finish();
  }

  void dispatch(const std::string& message) {
    collectingText_ = false;
    const auto command = protocol::parseCommand(message);
    if (command) run(*command);
  }

  void run(const protocol::Command& command) {
    switch (command.code) {
      case CommandCode::ScreenshotRequest:
        // One picture at a time per connection, however often it asks (and
        // reading waits while a reply is under way).
        if (exchange_->capturing) return;
        screenshotActive_ = true;
        progressed();
        break;
      case CommandCode::EndScreenshot:
        if (screenshotActive_) {
          screenshotActive_ = false;
          expireAt(Clock::now() + server_.limits_.commandTime);
        }
        break;
      default:
        break;
    }
    std::weak_ptr<Connection> weak = shared_from_this();
    server_.handler_(command, exchange_, [weak](std::shared_ptr<const std::string> bytes) {
      auto self = weak.lock();
      if (!self || self->closed_ || !bytes) return;
      self->progressed();
      self->send(std::move(bytes));
    });
  }

  void send(std::shared_ptr<const std::string> data) {
    outgoing_.push_back(std::move(data));
    if (outgoing_.size() == 1) writeNext();
  }

  void writeNext() {
    auto self = shared_from_this();
    const auto& data = outgoing_.front();
    asio::async_write(socket_, asio::buffer(*data), [this, self](const asio::error_code& error, std::size_t) {
      if (closed_) return;
      if (error) {
        finish();
        return;
      }
      outgoing_.pop_front();
      progressed();
      if (!outgoing_.empty()) {
        writeNext();
      } else if (inputEnded_ || closeAfterWrite_) {
        finish();
      } else if (readPaused_ && !replyPending()) {
        readPaused_ = false;
        read();
      }
    });
  }

  void finish() {
    close();
    server_.remove(this);
  }

  CommandServer& server_;
  asio::ip::tcp::socket socket_;
  asio::ip::address peer_;
  asio::steady_timer deadline_;
  Clock::time_point started_;
  std::array<char, 16 * 1024> buffer_{};
  Mode mode_ = Mode::Undecided;
  std::string pending_;
  std::string challenge_;
  bool collectingText_ = false;
  bool screenshotActive_ = false;
  bool refusing_ = false;
  bool inputEnded_ = false;
  bool closeAfterWrite_ = false;
  bool readPaused_ = false;
  bool closed_ = false;
  std::deque<std::shared_ptr<const std::string>> outgoing_;
  std::shared_ptr<ExchangeState> exchange_ = std::make_shared<ExchangeState>();
};

CommandServer::CommandServer(asio::io_context& io, const asio::ip::tcp::endpoint& endpoint, Handler handler,
                             DisconnectHandler onDisconnect, ServerAccess access, ServerLimits limits, Log log)
    : io_(io),
      acceptor_(io),
      acceptRetry_(io),
      reportTimer_(io),
      handler_(std::move(handler)),
      onDisconnect_(std::move(onDisconnect)),
      access_(access),
      limits_(limits),
      log_(std::move(log)) {
  acceptor_.open(endpoint.protocol());
  // No other program may bind the port beside us and take the teacher's commands.
  platform::prepareListeningSocket(static_cast<std::uintptr_t>(acceptor_.native_handle()));
  if (endpoint.address().is_v6()) acceptor_.set_option(asio::ip::v6_only(false));
  acceptor_.bind(endpoint);
  acceptor_.listen();
  accept();
}

CommandServer::~CommandServer() { stop(); }

void CommandServer::stop() {
  if (stopped_) return;
  stopped_ = true;
  asio::error_code ignored;
  acceptor_.close(ignored);
  acceptRetry_.cancel();
  reportTimer_.cancel();
  auto connections = std::move(connections_);
  for (auto& connection : connections) connection->close();
}

void CommandServer::accept() {
  acceptor_.async_accept([this](const asio::error_code& error, asio::ip::tcp::socket socket) {
    if (stopped_ || error == asio::error::operation_aborted) return;
    if (error) {
      // Out of descriptors or similar: try again shortly instead of spinning.
      log_("accept failed: " + error.message());
      acceptRetry_.expires_after(std::chrono::milliseconds(200));
      acceptRetry_.async_wait([this](const asio::error_code& e) {
        if (!e && !stopped_) accept();
      });
      return;
    }
    asio::error_code ignored;
    const auto peer = normalized(socket.remote_endpoint(ignored).address());
    if (access_.sources && !access_.sources->allows(peer)) {
      // Closed before a byte is read: nothing of it reaches the service.
      socket.close(ignored);
      refused(Refusal::Source, peer);
    } else if (connections_.size() >= limits_.maxConnections && !makeRoom()) {
      socket.close(ignored);
      ++counters_.dropped;
    } else {
      auto connection = std::make_shared<Connection>(*this, std::move(socket), peer);
      connections_.push_back(connection);
      connection->start();
    }
    accept();
  });
}

// Drops one connection so that a new one gets in: never one with a screenshot
// under way, an unproven one before a proven one, and from the source that
// holds the most, its oldest. A flood from one place thus evicts only itself.
bool CommandServer::makeRoom() {
  std::map<asio::ip::address, std::size_t> perSource;
  for (const auto& c : connections_) ++perSource[c->peer()];
  Connection* victim = nullptr;
  std::pair<bool, std::size_t> worst{true, 0};
  for (const auto& c : connections_) {
    if (c->holdsScreenshot()) continue;
    const std::pair<bool, std::size_t> rank{c->proven(), perSource[c->peer()]};
    // Lower proven first, then more connections; the list is oldest first.
    if (!victim || rank.first < worst.first || (rank.first == worst.first && rank.second > worst.second)) {
      victim = c.get();
      worst = rank;
    }
  }
  if (!victim) return false;
  ++counters_.dropped;
  victim->close();
  remove(victim);
  return true;
}

void CommandServer::remove(Connection* connection) {
  const auto it = std::find_if(connections_.begin(), connections_.end(),
                               [connection](const auto& c) { return c.get() == connection; });
  if (it == connections_.end()) return;
  connections_.erase(it);
  onDisconnect_();
}

void CommandServer::refused(Refusal kind, const asio::ip::address& peer) {
  auto& unreported = kind == Refusal::Source ? unreportedSources_ : unreportedCommands_;
  ++(kind == Refusal::Source ? counters_.refusedSources : counters_.refusedCommands);
  if (!reportPending_) {
    // The first one at once, so that an admin trying it out sees it; the
    // rest as a count, so that a flood cannot fill the journal.
    log_(kind == Refusal::Source
             ? "closed a connection from " + peer.to_string() + ": not an allowed source"
             : "refused a command from " + peer.to_string() + ": not proven by a trusted console");
    reportPending_ = true;
    reportTimer_.expires_after(limits_.refusalReport);
    reportTimer_.async_wait([this](const asio::error_code& error) {
      if (!error) reportRefusals();
    });
    return;
  }
  ++unreported.count;
  unreported.last = peer;
}

void CommandServer::reportRefusals() {
  const auto seconds = std::to_string(std::chrono::duration_cast<std::chrono::seconds>(limits_.refusalReport).count());
  bool any = false;
  if (unreportedSources_.count > 0) {
    log_("closed " + std::to_string(unreportedSources_.count) + " more connections from sources that are not " +
         "allowed in " + seconds + " s (the last from " + unreportedSources_.last.to_string() + ")");
    any = true;
  }
  if (unreportedCommands_.count > 0) {
    log_("refused " + std::to_string(unreportedCommands_.count) + " more commands not proven by a trusted console in " +
         seconds + " s (the last from " + unreportedCommands_.last.to_string() + ")");
    any = true;
  }
  unreportedSources_ = {};
  unreportedCommands_ = {};
  reportPending_ = any;
  if (!any) return;
  reportTimer_.expires_after(limits_.refusalReport);
  reportTimer_.async_wait([this](const asio::error_code& error) {
    if (!error) reportRefusals();
  });
}

}  // namespace saalwacht::service

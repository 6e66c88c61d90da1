#include "service/command_server.h"

#include <array>
#include <deque>
#include <iostream>

namespace saalwacht::service {

// One console connection. A message is what one read delivers, with two
// exceptions that keep commands whole: a read of a single character waits for
// the next (or for the end of the connection), and a message text (code 30)
// is collected until the console closes the connection, because it always
// closes right after sending and a long text may arrive in several pieces.
class CommandServer::Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(CommandServer& server, asio::ip::tcp::socket socket) : server_(server), socket_(std::move(socket)) {}

  void start() { read(); }

  void close() {
    if (closed_) return;
    closed_ = true;
    asio::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
  }

 private:
  void read() {
    auto self = shared_from_this();
    socket_.async_read_some(asio::buffer(buffer_), [this, self](const asio::error_code& error, std::size_t n) {
      if (closed_) return;
      if (!error) {
        received(std::string_view(buffer_.data(), n));
        if (!closed_) read();
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
    if (collectingText_) {
      const std::size_t room = protocol::kMaxMessageTextBytes + 2 - pending_.size();
      pending_.append(bytes.substr(0, room));
      return;
    }
    pending_.append(bytes);
    if (pending_.size() < 2) return;
    if (protocol::readCodeNumber(pending_) == static_cast<int>(protocol::CommandCode::Message)) {
      collectingText_ = true;
      pending_.resize(std::min(pending_.size(), protocol::kMaxMessageTextBytes + 2));
      return;
    }
    dispatch();
  }

  void endOfInput() {
    inputEnded_ = true;
    if (!pending_.empty()) dispatch();
    if (!closed_ && outgoing_.empty()) finish();
  }

  void dispatch() {
    const auto command = protocol::parseCommand(pending_);
    pending_.clear();
    collectingText_ = false;
    if (!command) return;
    if (auto reply = server_.handler_(*command, exchange_)) send(std::move(reply));
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
      if (!outgoing_.empty()) {
        writeNext();
      } else if (inputEnded_) {
        finish();
      }
    });
  }

  void finish() {
    close();
    server_.remove(this);
  }

  CommandServer& server_;
  asio::ip::tcp::socket socket_;
  std::array<char, 16 * 1024> buffer_{};
  std::string pending_;
  bool collectingText_ = false;
  bool inputEnded_ = false;
  bool closed_ = false;
  std::deque<std::shared_ptr<const std::string>> outgoing_;
  ExchangeState exchange_;
};

CommandServer::CommandServer(asio::io_context& io, const asio::ip::tcp::endpoint& endpoint, Handler handler,
                             DisconnectHandler onDisconnect)
    : io_(io),
      acceptor_(io),
      acceptRetry_(io),
      handler_(std::move(handler)),
      onDisconnect_(std::move(onDisconnect)) {
  acceptor_.open(endpoint.protocol());
  acceptor_.set_option(asio::ip::tcp::acceptor::reuse_address(true));
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
  auto connections = std::move(connections_);
  for (auto& connection : connections) connection->close();
}

void CommandServer::accept() {
  acceptor_.async_accept([this](const asio::error_code& error, asio::ip::tcp::socket socket) {
    if (stopped_ || error == asio::error::operation_aborted) return;
    if (error) {
      // Out of descriptors or similar: try again shortly instead of spinning.
      std::cerr << "kursdienst: accept failed: " << error.message() << "\n";
      acceptRetry_.expires_after(std::chrono::milliseconds(200));
      acceptRetry_.async_wait([this](const asio::error_code& e) {
        if (!e && !stopped_) accept();
      });
      return;
    }
    auto connection = std::make_shared<Connection>(*this, std::move(socket));
    connections_.push_back(connection);
    connection->start();
    accept();
  });
}

void CommandServer::remove(Connection* connection) {
  const auto it = std::find_if(connections_.begin(), connections_.end(),
                               [connection](const auto& c) { return c.get() == connection; });
  if (it == connections_.end()) return;
  connections_.erase(it);
  onDisconnect_();
}

}  // namespace saalwacht::service

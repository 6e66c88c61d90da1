#pragma once
// The TCP server on port 4000 that takes the console's commands.
// Runs entirely on the thread of the io_context it is given.

#include <asio.hpp>
#include <functional>
#include <list>
#include <memory>
#include <string>

#include "protocol/message.h"
#include "service/student_service.h"

namespace saalwacht::service {

class CommandServer {
 public:
  // Called for each complete command; returns the reply for that same
  // connection or null.
  using Handler = std::function<std::shared_ptr<const std::string>(const protocol::Command&, ExchangeState&)>;
  using DisconnectHandler = std::function<void()>;

  // Opens the listening socket at once. Throws asio::system_error when the
  // address cannot be bound.
  CommandServer(asio::io_context& io, const asio::ip::tcp::endpoint& endpoint, Handler handler,
                DisconnectHandler onDisconnect = [] {});
  ~CommandServer();
  CommandServer(const CommandServer&) = delete;
  CommandServer& operator=(const CommandServer&) = delete;

  // Closes the listening socket and every open connection.
  void stop();

  asio::ip::tcp::endpoint localEndpoint() const { return acceptor_.local_endpoint(); }
  std::size_t openConnections() const { return connections_.size(); }

 private:
  class Connection;
  void accept();
  void remove(Connection* connection);

  asio::io_context& io_;
  asio::ip::tcp::acceptor acceptor_;
  asio::steady_timer acceptRetry_;
  Handler handler_;
  DisconnectHandler onDisconnect_;
  std::list<std::shared_ptr<Connection>> connections_;
  bool stopped_ = false;
};

}  // namespace saalwacht::service

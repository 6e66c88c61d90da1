#pragma once
// The TCP server on port 4000 that takes the console's commands. It decides
// who is served (allowed sources, proofs of trusted consoles) and bounds what
// any peer can make it hold: connections, time, queued replies. Runs entirely
// on the thread of the io_context it is given.

#include <asio.hpp>
#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <string>

#include "protocol/message.h"
#include "service/access.h"
#include "service/student_service.h"

namespace saalwacht::service {

struct ServerLimits {
  std::size_t maxConnections = 64;
  // A connection must have carried its command within this time of its start.
  std::chrono::milliseconds commandTime{5000};
  // ... a message text within this time.
  std::chrono::milliseconds messageTime{30000};
  // A screenshot exchange that makes no progress this long is given up.
  std::chrono::milliseconds exchangeStall{30000};
  // Refusals are counted and reported at most once in this time.
  std::chrono::milliseconds refusalReport{60000};
};

// Null members: every source is served, no proof is asked.
struct ServerAccess {
  const SourceFilter* sources = nullptr;
  TrustedKeys* keys = nullptr;
};

class CommandServer {
 public:
  // Sends `bytes` on the connection that carried the command, now or later;
  // does nothing once that connection has gone.
  using Reply = std::function<void(std::shared_ptr<const std::string> bytes)>;
  // Called for each command that may be carried out.
  using Handler = std::function<void(const protocol::Command&, const std::shared_ptr<ExchangeState>&, Reply)>;
  using DisconnectHandler = std::function<void()>;

  struct Counters {
    std::size_t refusedSources = 0;  // closed before a byte was read
    std::size_t refusedCommands = 0;  // plain where a proof is needed, or a wrong proof
    std::size_t dropped = 0;          // closed to make room for a newer connection
    std::size_t timedOut = 0;
  };

  // Opens the listening socket at once. Throws asio::system_error when the
  // address cannot be bound.
  CommandServer(asio::io_context& io, const asio::ip::tcp::endpoint& endpoint, Handler handler,
                DisconnectHandler onDisconnect = [] {}, ServerAccess access = {}, ServerLimits limits = {},
                Log log = [](const std::string&) {});
  ~CommandServer();
  CommandServer(const CommandServer&) = delete;
  CommandServer& operator=(const CommandServer&) = delete;

  // Closes the listening socket and every open connection.
  void stop();

  asio::ip::tcp::endpoint localEndpoint() const { return acceptor_.local_endpoint(); }
  std::size_t openConnections() const { return connections_.size(); }
  const Counters& counters() const { return counters_; }

 private:
  class Connection;
  enum class Refusal { Source, Command };
  void accept();
  bool makeRoom();
  void remove(Connection* connection);
  void refused(Refusal kind, const asio::ip::address& peer);
  void reportRefusals();

  asio::io_context& io_;
  asio::ip::tcp::acceptor acceptor_;
  asio::steady_timer acceptRetry_;
  asio::steady_timer reportTimer_;
  Handler handler_;
  DisconnectHandler onDisconnect_;
  ServerAccess access_;
  ServerLimits limits_;
  Log log_;
  std::list<std::shared_ptr<Connection>> connections_;
  Counters counters_;
  struct Unreported {
    std::size_t count = 0;
    asio::ip::address last;
  };
  Unreported unreportedSources_, unreportedCommands_;
  bool reportPending_ = false;
  bool stopped_ = false;
};

}  // namespace saalwacht::service

#include "cli/command_client.h"

#include <asio.hpp>
#include <memory>

#include "platform/system.h"
#include "protocol/signed_link.h"

namespace saalwacht::cli {

namespace {

using asio::ip::tcp;
using protocol::ClientLink;

std::string describe(const asio::error_code& error) {
  if (error == asio::error::connection_refused) return "connection refused (is kursdienst running?)";
  if (error == asio::error::host_not_found || error == asio::error::host_not_found_try_again ||
      error == asio::error::no_data) {
    return "unknown host";
  }
  if (error == asio::error::eof || error == asio::error::connection_reset) return "the service closed the connection";
  return error.message();
}

std::optional<ClientLink::Signer> signerFor(const std::optional<crypto::PrivateKey>& key) {
  if (!key) return std::nullopt;
  const auto& raw = key->publicKey().bytes;
  return ClientLink::Signer{std::string(reinterpret_cast<const char*>(raw.data()), raw.size()),
                            [&key](std::string_view data) { return key->sign(data); }};
}

class HostTask : public std::enable_shared_from_this<HostTask> {
 public:
  HostTask(asio::io_context& io, const CommandRequest& request, HostResult& result)
      : request_(request),
        result_(result),
        resolver_(io),
        socket_(io),
        timer_(io),
        greetingTimer_(io),
        link_(protocol::encodeCommand(request.code, platform::toWireText(protocol::withCrLf(request.text))),
              signerFor(request.key)) {}

  void start() {
    auto self = shared_from_this();
    armTimer(request_.connectTimeout, "no answer (timed out while connecting)");
    resolver_.async_resolve(result_.host, std::to_string(request_.port),
                            [this, self](const asio::error_code& error, tcp::resolver::results_type endpoints) {
                              if (error) return fail(describe(error));
                              if (request_.source) return connectFrom(*request_.source, endpoints);
                              asio::async_connect(socket_, endpoints,
                                                  [this, self](const asio::error_code& e, const tcp::endpoint&) {
                                                    if (e) return fail(describe(e));
                                                    connected();
                                                  });
                            });
  }

 private:
  // Connects from a chosen local address: to the first address of the host
  // in the same family.
  void connectFrom(const std::string& source, const tcp::resolver::results_type& endpoints) {
    asio::error_code error;
    const auto local = asio::ip::make_address(source, error);
    if (error) return fail("--from " + source + ": not an address");
    for (const auto& entry : endpoints) {
      if (entry.endpoint().address().is_v4() != local.is_v4()) continue;
      socket_.open(entry.endpoint().protocol(), error);
      if (!error) socket_.bind({local, 0}, error);
      if (error) return fail("--from " + source + ": " + error.message());
      auto self = shared_from_this();
      socket_.async_connect(entry.endpoint(), [this, self](const asio::error_code& e) {
        if (e) return fail(describe(e));
        connected();
      });
      return;
    }
    fail("no address of the host fits --from " + source);
  }

  void armTimer(std::chrono::milliseconds timeout, std::string message) {
    auto self = shared_from_this();
    timer_.expires_after(timeout);
    timer_.async_wait([this, self, message = std::move(message)](const asio::error_code& error) {
      if (error || done_) return;
      fail(message);
    });
  }

  void connected() {
    if (link_.screenshot()) armTimer(request_.exchangeTimeout, "no answer (timed out during the screenshot)");
    auto self = shared_from_this();
    greetingTimer_.expires_after(request_.greetingTimeout);
    greetingTimer_.async_wait([this, self](const asio::error_code& error) {
      if (error || done_ || !link_.greeting()) return;
      apply(link_.onGreetingTimeout());
    });
    apply(link_.start());
    readMore();
  }

  // Sends what the link says, then settles the result once it has one.
  void apply(const ClientLink::Step& step) {
    if (!step.send.empty()) {
      auto self = shared_from_this();
      auto bytes = std::make_shared<std::string>(step.send);
      const bool close = step.close;
      asio::async_write(socket_, asio::buffer(*bytes), [this, self, bytes, close](const asio::error_code& e, std::size_t) {
        if (done_) return;
        if (e) return fail(describe(e));
        if (close) settle();
      });
      return;
    }
    if (step.close) settle();
  }

  void readMore() {
    auto self = shared_from_this();
    socket_.async_read_some(asio::buffer(buffer_), [this, self](const asio::error_code& e, std::size_t n) {
      if (done_) return;
      if (e) {
        link_.onClosed();
        if (link_.outcome() == ClientLink::Outcome::Pending) return fail(describe(e));
        return settle();
      }
      apply(link_.onData(std::string_view(buffer_.data(), n)));
      if (!done_) readMore();
    });
  }

  void settle() {
    switch (link_.outcome()) {
      case ClientLink::Outcome::Pending:
        return;
      case ClientLink::Outcome::Delivered:
        if (link_.screenshot()) {
          if (link_.exchange().state() != protocol::ScreenshotExchange::State::Received) {
            return fail("the screenshot was not completed");
          }
          result_.picture = link_.exchange().takePicture();
        }
        result_.ok = true;
        return finish();
      case ClientLink::Outcome::Refused:
        result_.refused = true;
        return fail("not a trusted console: the PC refuses its commands");
      case ClientLink::Outcome::KeyRequired:
        result_.refused = true;
        return fail("not a trusted console: the PC takes only proven commands (give a key with --key FILE)");
      case ClientLink::Outcome::Failed:
        return fail(link_.screenshot() ? "the service answered something that is no picture size"
                                       : "the service answered something that makes no sense");
    }
  }

  void fail(std::string message) {
    if (done_) return;
    result_.ok = false;
    result_.error = std::move(message);
    finish();
  }

  void finish() {
    done_ = true;
    asio::error_code ignored;
    timer_.cancel();
    greetingTimer_.cancel();
    resolver_.cancel();
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
  }

  const CommandRequest& request_;
  HostResult& result_;
  tcp::resolver resolver_;
  tcp::socket socket_;
  asio::steady_timer timer_;
  asio::steady_timer greetingTimer_;
  std::array<char, 64 * 1024> buffer_{};
  ClientLink link_;
  bool done_ = false;
};

}  // namespace

std::vector<HostResult> sendToHosts(const std::vector<std::string>& hosts, const CommandRequest& request) {
  std::vector<HostResult> results(hosts.size());
  asio::io_context io;
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    results[i].host = hosts[i];
    std::make_shared<HostTask>(io, request, results[i])->start();
  }
  io.run();
  return results;
}

}  // namespace saalwacht::cli

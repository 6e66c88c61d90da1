#include "cli/command_client.h"

#include <asio.hpp>
#include <memory>

#include "platform/system.h"
#include "protocol/screenshot_exchange.h"

namespace saalwacht::cli {

namespace {

using asio::ip::tcp;

std::string describe(const asio::error_code& error) {
  if (error == asio::error::connection_refused) return "connection refused (is kursdienst running?)";
  if (error == asio::error::host_not_found || error == asio::error::host_not_found_try_again ||
      error == asio::error::no_data) {
    return "unknown host";
  }
  if (error == asio::error::eof || error == asio::error::connection_reset) return "the service closed the connection";
  return error.message();
}

class HostTask : public std::enable_shared_from_this<HostTask> {
 public:
  HostTask(asio::io_context& io, const CommandRequest& request, HostResult& result)
      : request_(request), result_(result), resolver_(io), socket_(io), timer_(io) {}

  void start() {
    auto self = shared_from_this();
    armTimer(request_.connectTimeout, "no answer (timed out while connecting)");
    resolver_.async_resolve(result_.host, std::to_string(request_.port),
                            [this, self](const asio::error_code& error, tcp::resolver::results_type endpoints) {
                              if (error) return fail(describe(error));
                              asio::async_connect(socket_, endpoints,
                                                  [this, self](const asio::error_code& e, const tcp::endpoint&) {
                                                    if (e) return fail(describe(e));
                                                    connected();
                                                  });
                            });
  }

 private:
  void armTimer(std::chrono::milliseconds timeout, std::string message) {
    auto self = shared_from_this();
    timer_.expires_after(timeout);
    timer_.async_wait([this, self, message = std::move(message)](const asio::error_code& error) {
      if (error || done_) return;
      fail(message);
    });
  }

  void connected() {
    const bool screenshot = request_.code == protocol::CommandCode::ScreenshotRequest;
    auto self = shared_from_this();
    outgoing_ = protocol::encodeCommand(request_.code, platform::toWireText(protocol::withCrLf(request_.text)));
    if (screenshot) armTimer(request_.exchangeTimeout, "no answer (timed out during the screenshot)");
    asio::async_write(socket_, asio::buffer(outgoing_), [this, self, screenshot](const asio::error_code& e, std::size_t) {
      if (e) return fail(describe(e));
      if (!screenshot) return succeed();
      readMore();
    });
  }

  void readMore() {
    auto self = shared_from_this();
    socket_.async_read_some(asio::buffer(buffer_), [this, self](const asio::error_code& e, std::size_t n) {
      if (done_) return;
      if (e) return fail(describe(e));
      const auto step = exchange_.onData(std::string_view(buffer_.data(), n));
      if (!step.reply.empty()) {
        outgoing_ = step.reply;
        asio::error_code ignored;
        asio::write(socket_, asio::buffer(outgoing_), ignored);
      }
      if (!exchange_.finished()) return readMore();
      if (exchange_.state() == protocol::ScreenshotExchange::State::Received) {
        result_.picture = exchange_.takePicture();
        return succeed();
      }
      fail("the service answered something that is no picture size");
    });
  }

  void succeed() {
    result_.ok = true;
    finish();
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
    resolver_.cancel();
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
  }

  const CommandRequest& request_;
  HostResult& result_;
  tcp::resolver resolver_;
  tcp::socket socket_;
  asio::steady_timer timer_;
  std::string outgoing_;
  std::array<char, 64 * 1024> buffer_{};
  protocol::ScreenshotExchange exchange_;
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

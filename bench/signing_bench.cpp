// What proving a command costs: signing one command on the teacher PC and
// checking it on the student PC (Ed25519 through libgcrypt), each the median
// of 2000 runs, against the baseline of opening and closing one loopback TCP
// connection, which every command needs anyway, measured in the same run.
// Run: build/bin/signing_bench

#include <asio.hpp>
#include <chrono>
#include <cstdio>

#include "crypto/signing.h"
#include "median.h"
#include "protocol/signed_link.h"

using namespace saalwacht;
using namespace std::chrono;

namespace {

template <typename Work>
double medianMicros(int runs, Work work) {
  std::vector<double> times;
  times.reserve(static_cast<std::size_t>(runs));
  for (int i = 0; i < runs; ++i) {
    const auto begin = steady_clock::now();
    work(i);
    times.push_back(duration<double, std::micro>(steady_clock::now() - begin).count());
  }
  return bench::median(times);
}

}  // namespace

int main() {
  constexpr int kRuns = 2000;
  const auto key = crypto::PrivateKey::generate("bench");
  const std::string challenge = crypto::randomBytes(protocol::kChallengeBytes);
  const std::string data = protocol::signedData(challenge, "30Bitte speichert eure Arbeit, wir machen Schluss.");
  const std::string signature = key.sign(data);

  const double sign = medianMicros(kRuns, [&](int) { static_cast<void>(key.sign(data)); });
  bool allValid = true;
  const double verify =
      medianMicros(kRuns, [&](int) { allValid = crypto::verify(key.publicKey().bytes, data, signature) && allValid; });

  asio::io_context io;
  asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
  const auto endpoint = acceptor.local_endpoint();
  const double connection = medianMicros(kRuns, [&](int) {
    asio::ip::tcp::socket client(io);
    client.connect(endpoint);
    asio::ip::tcp::socket server(io);
    acceptor.accept(server);
    client.close();
    server.close();
  });

  std::printf("sign one command:        %7.1f us  (%.2fx a loopback connection)\n", sign, sign / connection);
  std::printf("check one command:       %7.1f us  (%.2fx a loopback connection)\n", verify, verify / connection);
  std::printf("loopback connection:     %7.1f us  (baseline: connect, accept, close)\n", connection);
  if (!allValid) {
    std::printf("a valid signature was refused\n");
    return 1;
  }
  return 0;
}

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

#include "platform/echo.h"

namespace saalwacht::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kReplyTimeout = std::chrono::milliseconds(1000);
constexpr auto kPauseAfterAnswer = std::chrono::milliseconds(200);
constexpr int kRequests = 3;

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// A "ping" datagram socket needs no privilege where the system allows it
// (net.ipv4.ping_group_range); a raw socket needs CAP_NET_RAW.
struct EchoSocket {
  int fd = -1;
  bool raw = false;
};

EchoSocket openEchoSocket() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd >= 0) return {fd, false};
  fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd >= 0) return {fd, true};
  return {};
}

std::optional<in_addr> resolve(const std::string& name) {
  in_addr address{};
  // A dotted address is the PC itself; it needs no name service.
  if (::inet_pton(AF_INET, name.c_str(), &address) == 1) return address;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found) return std::nullopt;
  address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
  ::freeaddrinfo(found);
  return address;
}

std::uint16_t checksum(const unsigned char* data, std::size_t size) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < size; i += 2) sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
  if (size % 2) sum += static_cast<std::uint32_t>(data[size - 1] << 8);
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  return htons(static_cast<std::uint16_t>(~sum));
}

// Identifiers for raw sockets, which see every echo reply of the machine.
std::uint16_t nextIdentifier() {
  static std::atomic<std::uint16_t> counter{static_cast<std::uint16_t>(::getpid() * 131)};
  return counter++;
}

// Waits for the reply to (identifier, sequence) from `target`; false on time-out.
bool awaitReply(const EchoSocket& socket, in_addr target, std::uint16_t identifier, std::uint16_t sequence,
                Clock::time_point deadline) {
  unsigned char buffer[1500];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd ready{socket.fd, POLLIN, 0};
    const int rc = ::poll(&ready, 1, static_cast<int>(left));
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) return false;
    sockaddr_in from{};
    socklen_t fromSize = sizeof from;
    const ssize_t got = ::recvfrom(socket.fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromSize);
    if (got <= 0) continue;
    std::size_t offset = 0;
    if (socket.raw) {
      offset = static_cast<std::size_t>(buffer[0] & 0x0f) * 4;  // the IP header comes along
    }
    if (static_cast<std::size_t>(got) < offset + 8) continue;
    const unsigned char* icmp = buffer + offset;
    if (icmp[0] != ICMP_ECHOREPLY || from.sin_addr.s_addr != target.s_addr) continue;
    std::uint16_t id, seq;
    std::memcpy(&id, icmp + 4, 2);
    std::memcpy(&seq, icmp + 6, 2);
    // The kernel rewrites the identifier of datagram sockets and filters for us.
    if ((!socket.raw || ntohs(id) == identifier) && ntohs(seq) == sequence) return true;
  }
}

class PosixEchoTest : public EchoTest {
 public:
  int averageRoundTripMs(const std::string& computerName) override {
    const auto target = resolve(computerName);
    if (!target) return -1;
    const EchoSocket socket = openEchoSocket();
    if (socket.fd < 0) return -1;
    Socket owner(socket.fd);
    const int ttl = 255;
    ::setsockopt(socket.fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr = *target;
    const std::uint16_t identifier = nextIdentifier();

    long long sum = 0;
    int answers = 0;
    for (std::uint16_t sequence = 1; sequence <= kRequests; ++sequence) {
      unsigned char request[8] = {ICMP_ECHO, 0, 0, 0, 0, 0, 0, 0};
      const std::uint16_t id = htons(identifier), seq = htons(sequence);
      std::memcpy(request + 4, &id, 2);
      std::memcpy(request + 6, &seq, 2);
      const std::uint16_t sum16 = checksum(request, sizeof request);
      std::memcpy(request + 2, &sum16, 2);
      const auto sent = Clock::now();
      if (::sendto(socket.fd, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) break;
      if (!awaitReply(socket, *target, identifier, sequence, sent + kReplyTimeout)) break;
      sum += std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count();
      ++answers;
      if (answers < kRequests) std::this_thread::sleep_for(kPauseAfterAnswer);
    }
    return answers ? static_cast<int>(sum / answers) : -1;
  }

  std::string missingPermission() override {
    const EchoSocket socket = openEchoSocket();
    if (socket.fd >= 0) {
      ::close(socket.fd);
      return {};
    }
    return "Saalwacht kann nicht prüfen, welche Schüler-PCs eingeschaltet sind: Dieses Benutzerkonto darf "
           "keine Ping-Anfragen (ICMP-Echo) senden, daher erscheinen alle PCs als ausgeschaltet.\n\n"
           "Die Administration kann es erlauben, zum Beispiel für alle Benutzer mit\n"
           "  sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"
           "(dauerhaft in /etc/sysctl.d/) oder nur für Saalwacht mit\n"
           "  setcap cap_net_raw+ep /pfad/zu/saalwacht";
  }
};

}  // namespace

std::unique_ptr<EchoTest> createEchoTest() { return std::make_unique<PosixEchoTest>(); }

}  // namespace saalwacht::platform

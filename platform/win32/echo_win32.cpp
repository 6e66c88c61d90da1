#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <ipexport.h>

#include <cstring>
#include <memory>
#include <optional>
#include <type_traits>

#include "platform/echo.h"
#include "platform/win32/wide.h"

namespace saalwacht::platform {

namespace {

using IcmpCreateFileFn = HANDLE(WINAPI*)();
using IcmpCloseHandleFn = BOOL(WINAPI*)(HANDLE);
using IcmpSendEchoFn = DWORD(WINAPI*)(HANDLE, IPAddr, LPVOID, WORD, PIP_OPTION_INFORMATION, LPVOID, DWORD, DWORD);

template <typename Fn>
Fn lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

struct LibraryCloser {
  void operator()(HMODULE module) const { ::FreeLibrary(module); }
};

class WinsockSession {
 public:
  WinsockSession() { ok_ = ::WSAStartup(MAKEWORD(2, 2), &data_) == 0; }
  ~WinsockSession() {
    if (ok_) ::WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  bool ok() const { return ok_; }

 private:
  WSADATA data_{};
  bool ok_ = false;
};

// The IPv4 address of `name`: a dotted address as it is (no reverse lookup),
// otherwise the first address the resolver gives.
std::optional<IPAddr> resolve(const std::string& name) {
  if (name.empty()) return std::nullopt;
  in_addr address{};
  if (::inet_pton(AF_INET, name.c_str(), &address) == 1) return address.S_un.S_addr;
  ADDRINFOW hints{};
  hints.ai_family = AF_INET;
  ADDRINFOW* found = nullptr;
  if (::GetAddrInfoW(win32::widen(name).c_str(), nullptr, &hints, &found) != 0 || !found) return std::nullopt;
  const IPAddr result = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.S_un.S_addr;
  ::FreeAddrInfoW(found);
  return result;
}

class IcmpEchoTest final : public EchoTest {
 public:
  int averageRoundTripMs(const std::string& computerName) override {
    const std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryCloser> library(::LoadLibraryW(L"ICMP.DLL"));
    if (!library) return -1;
    const auto create = lookup<IcmpCreateFileFn>(library.get(), "IcmpCreateFile");
    const auto close = lookup<IcmpCloseHandleFn>(library.get(), "IcmpCloseHandle");
    const auto send = lookup<IcmpSendEchoFn>(library.get(), "IcmpSendEcho");
    if (!create || !close || !send) return -1;

    const WinsockSession winsock;
    if (!winsock.ok()) return -1;
    const auto target = resolve(computerName);
    if (!target) return -1;

    const HANDLE icmp = create();
    if (icmp == INVALID_HANDLE_VALUE) return -1;
    IP_OPTION_INFORMATION options{};
    options.Ttl = 255;
    // Room for one reply, an ICMP error and some slack, as the API asks.
    alignas(ICMP_ECHO_REPLY) unsigned char reply[sizeof(ICMP_ECHO_REPLY) + 8 + 32];
    long sum = 0;
    int answers = 0;
    for (int request = 0; request < 3; ++request) {
      std::memset(reply, 0, sizeof reply);
      const DWORD replies = send(icmp, *target, nullptr, 0, &options, reply, sizeof reply, 1000);
      const auto* echo = reinterpret_cast<const ICMP_ECHO_REPLY*>(reply);
      if (replies == 0 || echo->Status != IP_SUCCESS) break;
      sum += static_cast<long>(echo->RoundTripTime);
      ++answers;
      if (answers < 3) ::Sleep(200);
    }
    close(icmp);
    return answers == 0 ? -1 : static_cast<int>(sum / answers);
  }

  std::string missingPermission() override { return {}; }
};

}  // namespace

std::unique_ptr<EchoTest> createEchoTest() { return std::make_unique<IcmpEchoTest>(); }

}  // namespace saalwacht::platform

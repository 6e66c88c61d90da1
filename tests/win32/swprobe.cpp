// swprobe: what the student would see, for the Wine stage's checks.
//   swprobe count NAME       processes whose executable file name is NAME
//   swprobe pids NAME        their process ids, one a line
//   swprobe windows CLASS    visible top-level windows of CLASS: "WxH topmost|normal" each
//   swprobe text CLASS       the text of the first such window's edit control (UTF-8)
//   swprobe title CLASS      the first such window's title (UTF-8)
//   swprobe version FILE     the file version from FILE's version resource
//   swprobe quit CLASS       posts WM_QUIT to the thread of the first such window
//   swprobe hide CLASS       hides, lowers and shrinks every such window, as another
//                            program of the student's may
//   swprobe bind ADDRESS     tries to listen on ADDRESS port 4000 beside the service, as
//                            another program of the student's would (SO_REUSEADDR):
//                            "bound" or "refused"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <tlhelp32.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/processes.h"
#include "platform/version.h"
#include "platform/win32/wide.h"

namespace {

using saalwacht::platform::win32::narrow;
using saalwacht::platform::win32::widen;

std::vector<HWND> windowsOf(const std::wstring& className) {
  std::vector<HWND> found;
  HWND window = nullptr;
  while ((window = ::FindWindowExW(nullptr, window, className.c_str(), nullptr)) != nullptr) {
    if (::IsWindowVisible(window)) found.push_back(window);
  }
  return found;
}

std::wstring textOf(HWND window) {
  const auto length = ::SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const auto n = ::SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(n));
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: swprobe count NAME | pids NAME | windows CLASS | text CLASS | title CLASS | version FILE |"
               " quit CLASS | hide CLASS | bind ADDRESS\n", stderr);
    return 2;
  }
  _setmode(_fileno(stdout), _O_BINARY);  // texts go out byte for byte
  const std::string command = argv[1];
  const std::string argument = argv[2];
  if (command == "count") {
    std::printf("%d\n", saalwacht::platform::createProcessControl()->count(argument));
    return 0;
  }
  if (command == "pids") {
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 1;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
      if (widen(argument) == entry.szExeFile) std::printf("%lu\n", entry.th32ProcessID);
    }
    ::CloseHandle(snapshot);
    return 0;
  }
  if (command == "bind") {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const BOOL on = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(4000);
    ::inet_pton(AF_INET, argument.c_str(), &address.sin_addr);
    const bool bound = ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(s, 5) == 0;
    std::printf("%s\n", bound ? "bound" : "refused");
    ::closesocket(s);
    return 0;
  }
  if (command == "version") {
    std::printf("%s\n", saalwacht::platform::fileVersionText(std::filesystem::path(widen(argument))).c_str());
    return 0;
  }
  const auto windows = windowsOf(widen(argument));
  if (command == "windows") {
    for (HWND window : windows) {
      RECT rect{};
      ::GetWindowRect(window, &rect);
      const bool topmost = (::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
      std::printf("%ldx%ld %s\n", rect.right - rect.left, rect.bottom - rect.top, topmost ? "topmost" : "normal");
    }
    return 0;
  }
  if (windows.empty()) return 1;
  if (command == "quit") {
    ::PostThreadMessageW(::GetWindowThreadProcessId(windows.front(), nullptr), WM_QUIT, 0, 0);
    ::PostMessageW(windows.front(), WM_QUIT, 0, 0);
    return 0;
  }
  if (command == "hide") {
    for (HWND window : windows) {
      ::ShowWindow(window, SW_HIDE);
      ::SetWindowPos(window, HWND_BOTTOM, 10, 10, 20, 20, SWP_NOACTIVATE);
    }
    return 0;
  }
  if (command == "title") {
    std::printf("%s\n", narrow(textOf(windows.front())).c_str());
    return 0;
  }
  if (command == "text") {
    const HWND edit = ::FindWindowExW(windows.front(), nullptr, L"EDIT", nullptr);
    if (!edit) return 1;
    const std::string text = narrow(textOf(edit));
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
  }
  return 2;
}

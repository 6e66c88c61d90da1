#include <winsock2.h>
#include <windows.h>

#include "platform/system.h"
#include "platform/win32/wide.h"

namespace saalwacht::platform {

const std::string_view kExecutableSuffix = ".exe";

std::filesystem::path executableDir() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::filesystem::current_path();
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return std::filesystem::path(path).parent_path();
}

namespace {

// Through UTF-16, as every Windows conversion goes. A character the code page
// cannot hold becomes its default character.
std::string convert(std::string_view text, UINT from, UINT to) {
  if (text.empty()) return {};
  const int wideLength = ::MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
  ::MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), wide.data(), wideLength);
  const int length = ::WideCharToMultiByte(to, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(to, 0, wide.data(), wideLength, result.data(), length, nullptr, nullptr);
  return result;
}

}  // namespace

// The command link speaks the system's ANSI code page.
std::string toWireText(std::string_view utf8) { return convert(utf8, CP_UTF8, CP_ACP); }
std::string fromWireText(std::string_view wire) { return convert(wire, CP_ACP, CP_UTF8); }

std::optional<std::string> environmentValue(const char* name) {
  const std::wstring wideName = win32::widen(name);
  const DWORD needed = ::GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (needed <= 1) return std::nullopt;
  std::wstring value(needed, L'\0');
  const DWORD n = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), needed);
  if (n == 0 || n >= needed) return std::nullopt;
  value.resize(n);
  return win32::narrow(value);
}

// A user's own folders are closed to other users by their ACL; a key file
// there inherits it.
bool readableByOthers(const std::filesystem::path&) { return false; }

void prepareListeningSocket(std::uintptr_t socket) {
  // With SO_REUSEADDR another program could bind 4000 more specifically
  // beside us and receive the teacher's commands; exclusive use forbids it.
  const BOOL on = TRUE;
  ::setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
               sizeof on);
}

// Folders beside the service in Program Files are for administrators only by
// their inherited ACL.
bool writableByOthers(const std::filesystem::path&) { return false; }

}  // namespace saalwacht::platform

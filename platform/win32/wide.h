#pragma once
// Small tools shared by the win32 platform files: UTF-8 and UTF-16 text, and
// handles with one owner each.

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace saalwacht::platform::win32 {

// UTF-8 to UTF-16 and back. Invalid sequences become U+FFFD.
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

// One argument of a command line, quoted so that CommandLineToArgvW and the
// C runtime give back exactly `arg` (quotes and backslashes included).
std::wstring quoteArgument(std::wstring_view arg);

// "program" arg1 arg2 ... with every part quoted as above.
std::wstring commandLine(std::wstring_view program, const std::vector<std::wstring>& args);

// Characters a command line may hold, without its terminating zero.
inline constexpr std::size_t kMaxCommandLine = 32766;

// As commandLine(), but when the line would be longer than `limit`, the last
// argument is shortened (never within a character) until it fits. The
// helpers' free text, a teacher's message, is always their last argument:
// shortened it is still shown, too long it would not be started at all.
std::wstring commandLineWithin(std::wstring_view program, std::vector<std::wstring> args, std::size_t limit);

// The system's text for an error code, without the trailing line break.
std::string errorText(DWORD code);

struct HandleCloser {
  void operator()(HANDLE h) const {
    if (h && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
};
// A kernel handle that is closed exactly once, by its owner.
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

inline UniqueHandle ownHandle(HANDLE h) {
  return UniqueHandle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

}  // namespace saalwacht::platform::win32

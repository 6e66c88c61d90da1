#include <windows.h>
#include <shellapi.h>

#include "platform/launcher.h"
#include "platform/win32/wide.h"

namespace saalwacht::platform {

namespace {

// A 32-bit build on 64-bit Windows sees System32 redirected; programs named
// by the configuration are meant as the teacher sees them, so redirection is
// off around the launch. A 64-bit process is never redirected: nothing to do.
class Wow64RedirectionOff {
 public:
  Wow64RedirectionOff() {
    BOOL wow64 = FALSE;
    using IsWow64 = BOOL(WINAPI*)(HANDLE, PBOOL);
    using Disable = BOOL(WINAPI*)(PVOID*);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const auto isWow64 = reinterpret_cast<IsWow64>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "IsWow64Process")));
    if (!isWow64 || !isWow64(::GetCurrentProcess(), &wow64) || !wow64) return;
    const auto disable = reinterpret_cast<Disable>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")));
    switched_ = disable && disable(&previous_);
    failed_ = !switched_;
  }
  ~Wow64RedirectionOff() {
    if (!switched_) return;
    using Revert = BOOL(WINAPI*)(PVOID);
    const auto revert = reinterpret_cast<Revert>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "Wow64RevertWow64FsRedirection")));
    if (revert) revert(previous_);
  }
  Wow64RedirectionOff(const Wow64RedirectionOff&) = delete;
  Wow64RedirectionOff& operator=(const Wow64RedirectionOff&) = delete;

  bool failed() const { return failed_; }

 private:
  PVOID previous_ = nullptr;
  bool switched_ = false;
  bool failed_ = false;
};

class ShellProgramLauncher final : public ProgramLauncher {
 public:
  int open(const std::string& file, const std::string& parameters) override {
    const Wow64RedirectionOff redirection;
    if (redirection.failed()) return kLaunchNotAttempted;
    const std::wstring wideFile = win32::widen(file);
    const std::wstring wideParameters = win32::widen(parameters);
    const auto result = reinterpret_cast<INT_PTR>(::ShellExecuteW(
        nullptr, L"open", wideFile.c_str(), wideParameters.empty() ? nullptr : wideParameters.c_str(), nullptr,
        SW_SHOWNORMAL));
    return result > 32 ? kLaunchStarted : static_cast<int>(result);
  }
};

}  // namespace

// The rules programs use to split their command line (CommandLineToArgvW):
// quotes group, a backslash is literal unless it precedes a quote.
std::string quoteParameter(const std::string& text) {
  if (!text.empty() && text.find_first_of(" \t\n\v\"") == std::string::npos) return text;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : text) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      quoted.append(backslashes * 2 + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

std::unique_ptr<ProgramLauncher> createProgramLauncher() { return std::make_unique<ShellProgramLauncher>(); }

}  // namespace saalwacht::platform

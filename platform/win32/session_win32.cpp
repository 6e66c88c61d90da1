#include <winsock2.h>
#include <windows.h>

#include <asio.hpp>
#include <cwchar>
#include <cwctype>

#include "platform/session.h"
#include "platform/win32/processes_win32.h"
#include "platform/win32/wide.h"

namespace saalwacht::platform {

namespace {

class Win32Process final : public LaunchedProcess {
 public:
  explicit Win32Process(win32::UniqueHandle process) : process_(std::move(process)) {}
  ~Win32Process() override { watch_.reset(); }

  bool waitForExit(std::chrono::milliseconds timeout) override {
    return ::WaitForSingleObject(process_.get(), static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
  }

  void asyncWaitForExit(asio::io_context& io, std::function<void()> onExit) override {
    watch_.reset();
    HANDLE copy = nullptr;
    // The wait owns a handle of its own, so that it can be dropped on its own.
    if (!::DuplicateHandle(::GetCurrentProcess(), process_.get(), ::GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE,
                           0)) {
      return;
    }
    watch_.emplace(io, copy);
    watch_->async_wait([onExit = std::move(onExit)](const asio::error_code& error) {
      if (!error) onExit();
    });
  }

  bool terminate() override {
    if (hasExited()) return false;
    return ::TerminateProcess(process_.get(), 0) != 0;
  }

 private:
  win32::UniqueHandle process_;
  std::optional<asio::windows::object_handle> watch_;
};

bool equalIgnoringCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

// The logon process of the interactive session: with several sessions, the
// last one in snapshot order.
std::optional<DWORD> logonProcessId() {
  std::optional<DWORD> pid;
  win32::forEachProcess([&](const PROCESSENTRY32W& entry) {
    if (equalIgnoringCase(entry.szExeFile, L"winlogon.exe")) pid = entry.th32ProcessID;
    return true;
  });
  return pid;
}

// A primary token of the logon process, for starting programs in its session.
win32::UniqueHandle sessionToken() {
  const auto pid = logonProcessId();
  if (!pid) return {};
  const win32::UniqueHandle process =
      win32::ownHandle(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, *pid));
  if (!process) return {};
  HANDLE token = nullptr;
  if (!::OpenProcessToken(process.get(), TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_ADJUST_SESSIONID | TOKEN_QUERY,
                          &token)) {
    return {};
  }
  const win32::UniqueHandle logonToken = win32::ownHandle(token);
  HANDLE duplicate = nullptr;
  if (!::DuplicateTokenEx(logonToken.get(), MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary,
                          &duplicate)) {
    return {};
  }
  return win32::ownHandle(duplicate);
}

// This process's environment with `extra` ("NAME=value") added, as a block
// for process creation; empty when there is nothing to add (inherit as is).
std::wstring environmentBlock(const std::vector<std::string>& extra) {
  if (extra.empty()) return {};
  std::wstring block;
  if (wchar_t* own = ::GetEnvironmentStringsW()) {
    for (const wchar_t* entry = own; *entry; entry += std::wcslen(entry) + 1) {
      block.append(entry).push_back(L'\0');
    }
    ::FreeEnvironmentStringsW(own);
  }
  for (const auto& entry : extra) block.append(win32::widen(entry)).push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

class Win32SessionLauncher final : public SessionLauncher {
 public:
  Win32SessionLauncher(bool ownSession, std::vector<std::string> extraEnvironment)
      : ownSession_(ownSession), extraEnvironment_(std::move(extraEnvironment)) {}

  bool interactiveSessionExists() override {
    if (ownSession_) return true;
    // Exact name, as the process count compares.
    bool found = false;
    win32::forEachProcess([&](const PROCESSENTRY32W& entry) {
      found = std::wstring_view(entry.szExeFile) == L"winlogon.exe";
      return !found;
    });
    return found;
  }

  std::unique_ptr<LaunchedProcess> launch(const std::filesystem::path& program,
                                          const std::vector<std::string>& args) override {
    std::vector<std::wstring> wideArgs;
    for (const auto& arg : args) wideArgs.push_back(win32::widen(arg));
    const std::wstring application = program.wstring();
    std::wstring line = win32::commandLineWithin(application, wideArgs, win32::kMaxCommandLine);
    const std::wstring folder = program.parent_path().wstring();

    // The program is named by its full path, so no search order can put
    // another program of that name in its place.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    wchar_t desktop[] = L"winsta0\\default";
    PROCESS_INFORMATION info{};
    BOOL started = FALSE;
    std::wstring block = environmentBlock(extraEnvironment_);
    const DWORD flags = NORMAL_PRIORITY_CLASS | (block.empty() ? 0 : CREATE_UNICODE_ENVIRONMENT);
    void* environment = block.empty() ? nullptr : block.data();
    if (ownSession_) {
      started = ::CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, FALSE, flags, environment,
                                 folder.empty() ? nullptr : folder.c_str(), &startup, &info);
    } else {
      const win32::UniqueHandle token = sessionToken();
      if (!token) return nullptr;
      // The student's visible desktop, not the service's hidden one.
      startup.lpDesktop = desktop;
      started = ::CreateProcessAsUserW(token.get(), application.c_str(), line.data(), nullptr, nullptr, FALSE, flags,
                                       environment, folder.empty() ? nullptr : folder.c_str(), &startup, &info);
    }
    if (!started) return nullptr;
    ::CloseHandle(info.hThread);
    return std::make_unique<Win32Process>(win32::ownHandle(info.hProcess));
  }

  std::optional<unsigned> sessionUserId() override { return std::nullopt; }

  SessionKind sessionKind() override { return interactiveSessionExists() ? SessionKind::Coverable : SessionKind::NoSession; }

 private:
  bool ownSession_;
  std::vector<std::string> extraEnvironment_;
};

}  // namespace

std::unique_ptr<SessionLauncher> createSessionLauncher(const SessionOptions& options) {
  return std::make_unique<Win32SessionLauncher>(options.useOwnSession, options.helperEnvironment);
}

}  // namespace saalwacht::platform

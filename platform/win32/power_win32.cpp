#include <windows.h>

#include <iostream>

#include "platform/power.h"
#include "platform/win32/wide.h"

namespace saalwacht::platform {

namespace {

class ReplacedPowerControl final : public PowerControl {
 public:
  explicit ReplacedPowerControl(std::filesystem::path program) : program_(std::move(program)) {}
  void powerOff() override {
    // Never falls back to the real power-off, also when the stand-in is missing.
    std::wstring line = win32::commandLine(program_.wstring(), {});
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(program_.wstring().c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
      const DWORD error = ::GetLastError();
      std::cerr << "kursdienst: power-off replacement " << win32::narrow(program_.wstring())
                << " could not be started: " << win32::errorText(error) << "\n";
      return;
    }
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
  }

 private:
  std::filesystem::path program_;
};

class SystemPowerControl final : public PowerControl {
 public:
  void powerOff() override {
    HANDLE token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
      const win32::UniqueHandle owned = win32::ownHandle(token);
      TOKEN_PRIVILEGES privileges{};
      privileges.PrivilegeCount = 1;
      privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
      if (::LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
        ::AdjustTokenPrivileges(owned.get(), FALSE, &privileges, 0, nullptr, nullptr);
      }
    }
    if (!::ExitWindowsEx(EWX_POWEROFF | EWX_FORCE, 0)) {
      const DWORD error = ::GetLastError();
      std::cerr << "kursdienst: the PC could not be powered off: " << win32::errorText(error) << "\n";
    }
  }
};

}  // namespace

std::unique_ptr<PowerControl> createPowerControl(std::optional<std::filesystem::path> replacement) {
  if (replacement) return std::make_unique<ReplacedPowerControl>(std::move(*replacement));
  return std::make_unique<SystemPowerControl>();
}

}  // namespace saalwacht::platform

#include <windows.h>
#include <tlhelp32.h>

#include <functional>
#include <vector>

#include "platform/processes.h"
#include "platform/win32/processes_win32.h"
#include "platform/win32/wide.h"

namespace saalwacht::platform {

namespace win32 {

void forEachProcess(const std::function<bool(const PROCESSENTRY32W&)>& visit) {
  const UniqueHandle snapshot = ownHandle(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (!visit(entry)) return;
  }
}

}  // namespace win32

namespace {

class Win32ProcessControl final : public ProcessControl {
 public:
  int count(std::string_view exeName) override {
    const std::wstring name = win32::widen(exeName);
    int n = 0;
    win32::forEachProcess([&](const PROCESSENTRY32W& entry) {
      if (name == entry.szExeFile) ++n;
      return true;
    });
    return n;
  }

  bool terminateFirst(std::string_view exeName) override {
    const std::wstring name = win32::widen(exeName);
    DWORD pid = 0;
    bool found = false;
    win32::forEachProcess([&](const PROCESSENTRY32W& entry) {
      if (name != entry.szExeFile) return true;
      pid = entry.th32ProcessID;
      found = true;
      return false;
    });
    if (!found) return false;
    const win32::UniqueHandle process = win32::ownHandle(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid));
    if (!process) return false;
    // A process that ends by itself within the grace period is not ours to kill.
    if (::WaitForSingleObject(process.get(), 100) == WAIT_OBJECT_0) return false;
    if (!::TerminateProcess(process.get(), 0)) return false;
    // Back only once it is gone, so that a count right after no longer sees
    // it (a blank request that follows a reset at once).
    ::WaitForSingleObject(process.get(), 1000);
    return true;
  }

  int terminateProgram(const std::filesystem::path& program) override {
    std::error_code error;
    const std::wstring wanted = std::filesystem::weakly_canonical(program, error).wstring();
    std::vector<DWORD> pids;
    win32::forEachProcess([&](const PROCESSENTRY32W& entry) {
      pids.push_back(entry.th32ProcessID);
      return true;
    });
    int ended = 0;
    for (const DWORD pid : pids) {
      const win32::UniqueHandle process = win32::ownHandle(
          ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
      if (!process) continue;
      std::wstring path(32768, L'\0');
      DWORD size = static_cast<DWORD>(path.size());
      if (!::QueryFullProcessImageNameW(process.get(), 0, path.data(), &size)) continue;
      path.resize(size);
      if (::CompareStringOrdinal(path.c_str(), -1, wanted.c_str(), -1, TRUE) != CSTR_EQUAL) continue;
      if (::TerminateProcess(process.get(), 0)) {
        ::WaitForSingleObject(process.get(), 1000);
        ++ended;
      }
    }
    return ended;
  }
};

}  // namespace

std::unique_ptr<ProcessControl> createProcessControl() { return std::make_unique<Win32ProcessControl>(); }

}  // namespace saalwacht::platform

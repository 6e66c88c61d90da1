#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "platform/spool.h"
#include "platform/win32/wide.h"

namespace saalwacht::platform {

namespace {

// SYSTEM and the administrators only, nothing inherited: no user may put a
// file, a link or a junction where the capture helper writes.
constexpr const wchar_t* kPrivateFolder = L"O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// Removes whatever is at `path`: a file, a link or junction (never what it
// points to), or an empty folder.
void removeEntry(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (attributes & FILE_ATTRIBUTE_READONLY) ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    ::RemoveDirectoryW(path.c_str());
  } else {
    ::DeleteFileW(path.c_str());
  }
}

// Makes `folder` exist with the private ACL, also where someone made it
// before us with another one.
bool makePrivate(const std::wstring& folder) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kPrivateFolder, SDDL_REVISION_1, &descriptor, nullptr)) {
    return false;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  ::CreateDirectoryW(folder.c_str(), &attributes);
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  PSID owner = nullptr;
  ::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  ::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
  const DWORD applied = ::SetNamedSecurityInfoW(
      const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
      DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION, owner, nullptr,
      dacl, nullptr);
  ::LocalFree(descriptor);
  const DWORD kind = ::GetFileAttributesW(folder.c_str());
  return applied == ERROR_SUCCESS && kind != INVALID_FILE_ATTRIBUTES && (kind & FILE_ATTRIBUTE_DIRECTORY) &&
         !(kind & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::wstring randomName() {
  unsigned char bytes[16] = {};
  // The name is not to be guessed: RtlGenRandom through advapi32.
  using GenRandom = BOOLEAN(WINAPI*)(PVOID, ULONG);
  if (auto generate = reinterpret_cast<GenRandom>(
          reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"advapi32.dll"), "SystemFunction036")))) {
    generate(bytes, sizeof bytes);
  }
  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  std::wstring name = L"shot-";
  for (unsigned char b : bytes) {
    name += kHex[b >> 4];
    name += kHex[b & 15];
  }
  return name + L".jpg";
}

// The service's own folder under ProgramData: the capture helper, which runs
// as SYSTEM, writes a fresh, unguessable name there and the service reads
// only that name, never following a link.
class Win32ScreenshotSpool final : public ScreenshotSpool {
 public:
  explicit Win32ScreenshotSpool(std::filesystem::path folder) : folder_(folder.wstring()) {}

  std::optional<std::filesystem::path> prepare(std::optional<unsigned>) override {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(folder_).parent_path(), error);
    if (!makePrivate(folder_)) return std::nullopt;
    // Pictures that were never collected.
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((folder_ + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") removeEntry(folder_ + L"\\" + name);
      } while (::FindNextFileW(search, &found));
      ::FindClose(search);
    }
    picture_ = folder_ + L"\\" + randomName();
    return std::filesystem::path(picture_);
  }

  std::optional<std::string> collect(std::size_t maxBytes) override {
    if (picture_.empty()) return std::nullopt;
    std::optional<std::string> content;
    {
      const win32::UniqueHandle file = win32::ownHandle(
          ::CreateFileW(picture_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
      if (file) {
        BY_HANDLE_FILE_INFORMATION info{};
        const bool plain = ::GetFileInformationByHandle(file.get(), &info) &&
                           !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
                           info.nNumberOfLinks == 1 && info.nFileSizeHigh == 0 && info.nFileSizeLow <= maxBytes;
        if (plain) {
          std::string bytes(info.nFileSizeLow, '\0');
          std::size_t done = 0;
          while (done < bytes.size()) {
            DWORD n = 0;
            if (!::ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n, nullptr) ||
                n == 0) {
              break;
            }
            done += n;
          }
          if (done == bytes.size()) content = std::move(bytes);
        }
      }
    }
    removeEntry(picture_);
    picture_.clear();
    return content;
  }

 private:
  std::wstring folder_;
  std::wstring picture_;
};

}  // namespace

std::unique_ptr<ScreenshotSpool> createScreenshotSpool(const std::filesystem::path& folder) {
  return std::make_unique<Win32ScreenshotSpool>(folder);
}

}  // namespace saalwacht::platform

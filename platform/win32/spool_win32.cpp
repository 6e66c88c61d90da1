#include <windows.h>

#include "platform/spool.h"
#include "platform/win32/wide.h"

namespace saalwacht::platform {

namespace {

constexpr const wchar_t* kPictureName = L"screenshot.jpg";

// Removes whatever has the picture's name: a file, a link or junction (never
// what it points to), or an empty folder.
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

// The folder is shared by all users (the common documents folder), so the
// picture is taken only when it is a plain file with a single name.
class Win32ScreenshotSpool final : public ScreenshotSpool {
 public:
  explicit Win32ScreenshotSpool(std::filesystem::path folder) : picture_((folder / kPictureName).wstring()) {}

  std::optional<std::filesystem::path> prepare(std::optional<unsigned>) override {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(picture_).parent_path(), error);
    removeEntry(picture_);
    if (::GetFileAttributesW(picture_.c_str()) != INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return std::filesystem::path(picture_);
  }

  std::optional<std::string> collect(std::size_t maxBytes) override {
    std::optional<std::string> content;
    {
      const win32::UniqueHandle file = win32::ownHandle(
          ::CreateFileW(picture_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
      if (!file) return std::nullopt;
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
    removeEntry(picture_);
    return content;
  }

 private:
  std::wstring picture_;
};

}  // namespace

std::unique_ptr<ScreenshotSpool> createScreenshotSpool(const std::filesystem::path& folder) {
  return std::make_unique<Win32ScreenshotSpool>(folder);
}

}  // namespace saalwacht::platform

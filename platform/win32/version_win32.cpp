#include <windows.h>

#include <vector>

#include "platform/version.h"

namespace saalwacht::platform {

std::string fileVersionText(const std::filesystem::path& executable) {
  const std::wstring path = executable.wstring();
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<unsigned char> block(size);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return {};
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return {};
  }
  return formatFileVersion(info->dwFileVersionMS, info->dwFileVersionLS);
}

}  // namespace saalwacht::platform

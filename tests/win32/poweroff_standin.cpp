// Runs instead of the power-off: appends a line to "powered-off" beside itself.

#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  wchar_t self[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring marker(self, n);
  marker = marker.substr(0, marker.find_last_of(L'\\') + 1) + L"powered-off";
  const HANDLE file = ::CreateFileW(marker.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  ::WriteFile(file, "off\n", 4, &written, nullptr);
  ::CloseHandle(file);
  return 0;
}

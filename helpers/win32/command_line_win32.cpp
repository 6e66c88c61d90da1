#include "command_line_win32.h"

#include <windows.h>
#include <shellapi.h>

namespace saalwacht::helpers {

std::vector<std::wstring> programArguments() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv) return {};
  std::vector<std::wstring> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  ::LocalFree(argv);
  return args;
}

}  // namespace saalwacht::helpers

// swmsg TEXT: shows the teacher's message until the student clicks OK.

#include <windows.h>

#include "command_line_win32.h"
#include "message_window_win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const auto args = saalwacht::helpers::programArguments();
  // Exactly one argument: the service quotes the whole text as one.
  if (args.size() != 1) return 2;
  return saalwacht::helpers::showMessageWindow(L"Nachricht vom Lehrer", args.front());
}

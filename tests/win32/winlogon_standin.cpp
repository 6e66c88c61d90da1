// Stands in for the logon process, which Wine does not run: it only has to
// exist under that name until it is ended.

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  ::Sleep(INFINITE);
  return 0;
}

// swsdmsg: tells the student that the teacher is shutting the PC down. It is
// not ended on purpose; the power-off ends it.

#include <windows.h>

#include "message_window_win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return saalwacht::helpers::showMessageWindow(
      L"Computer wird heruntergefahren",
      L"Der Computer wird jetzt vom Lehrer heruntergefahren.\n"
      L"\n"
      L"In wenigen Sekunden schaltet sich der PC aus. Zum Speichern bleibt "
      L"keine Zeit mehr \u2013 alles, was noch nicht gespeichert ist, geht verloren.\n"
      L"\n"
      L"Bitte arbeite nicht mehr am Computer weiter. Vielen Dank!");
}

// swsdmsg: tells the student that the teacher is shutting the PC down. It is
// not ended on purpose; the power-off ends it.

#include "messagewindow.h"
#include "topmost.h"

#include <QApplication>

int main(int argc, char** argv) {
  int qtArgc = argc > 0 ? 1 : 0;
  QApplication app(qtArgc, argv);

  saalwacht::helpers::MessageWindow window(
      QStringLiteral("Computer wird heruntergefahren"),
      QStringLiteral(
          "Der Computer wird jetzt vom Lehrer heruntergefahren.\n"
          "\n"
          "In wenigen Sekunden schaltet sich der PC aus. Zum Speichern bleibt "
          "keine Zeit mehr – alles, was noch nicht gespeichert ist, geht verloren.\n"
          "\n"
          "Bitte arbeite nicht mehr am Computer weiter. Vielen Dank!"));
  saalwacht::helpers::showInFront(&window);
  window.exec();
  return 0;
}

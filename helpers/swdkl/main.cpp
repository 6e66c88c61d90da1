// swdkl: blanks every screen of the student's session and holds keyboard and
// mouse until it is terminated (SIGTERM ends it cleanly).

#include "blankwindow.h"
#include "quitsignals.h"

#include <QApplication>

int main(int argc, char** argv) {
  // Grabs and bypassing the window manager only work on X11; on a desktop
  // that also offers Wayland, Qt must not pick Wayland.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "xcb");

  // Arguments are not used; keep them away from Qt's own option parsing.
  int qtArgc = argc > 0 ? 1 : 0;
  QApplication app(qtArgc, argv);
  QApplication::setQuitOnLastWindowClosed(false);

  saalwacht::helpers::ScreenBlanker blanker;
  saalwacht::helpers::quitOnTermination([&blanker] {
    blanker.release();
    QCoreApplication::exit(0);
  });
  blanker.start();
  return QApplication::exec();
}

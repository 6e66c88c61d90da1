// swmsg TEXT: shows the teacher's message until the student clicks OK.

#include "messagewindow.h"
#include "topmost.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
  const auto text = saalwacht::helpers::messageFromArguments(argc, argv);
  if (!text) {
    std::fputs("swmsg: expected exactly one argument, the message text\n", stderr);
    return 2;
  }

  // Only the program name goes to Qt, so a message such as "-reverse" is
  // shown instead of being taken as a Qt option.
  int qtArgc = 1;
  QApplication app(qtArgc, argv);

  saalwacht::helpers::MessageWindow window(QStringLiteral("Nachricht vom Lehrer"), *text);
  saalwacht::helpers::showInFront(&window);
  window.exec();
  return 0;
}

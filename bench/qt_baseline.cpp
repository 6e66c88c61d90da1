// The smallest Qt Widgets program that shows a window: the baseline the
// console's start-up is compared with.

#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QLabel window(QStringLiteral("Grundlinie"));
  window.setWindowTitle(QStringLiteral("Grundlinie"));
  window.resize(1007, 711);
  window.show();
  return QApplication::exec();
}

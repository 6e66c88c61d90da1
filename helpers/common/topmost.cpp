#include "topmost.h"

#include <QWidget>

namespace saalwacht::helpers {

void makeAlwaysOnTop(QWidget* window) {
  window->setWindowFlag(Qt::WindowStaysOnTopHint, true);
}

void showInFront(QWidget* window) {
  window->show();
  window->raise();
  window->activateWindow();
}

}  // namespace saalwacht::helpers

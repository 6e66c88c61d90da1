#include "blankwindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>
#endif

namespace saalwacht::helpers {

namespace {
// How often the windows are raised again and the grab is re-checked. A
// window that pops up above the blank screen is visible for at most this long.
constexpr int kWatchdogMs = 300;

// Qt writes X requests out only when it next handles X events; without this
// a raise could wait in the buffer while another window stays on top.
void flushToDisplay() {
#if QT_CONFIG(xcb)
  // Other platforms (offscreen among them) may offer the interface without
  // a live connection behind it.
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 && x11->connection()) xcb_flush(x11->connection());
#endif
}

}  // namespace

BlankWindow::BlankWindow(QScreen* screen) : screen_(screen) {
  // Bypassing the window manager keeps it from decorating, moving or
  // focusing anything else; the flag also keeps the window above others.
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                 Qt::X11BypassWindowManagerHint);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::black);
  setPalette(pal);
  setAutoFillBackground(true);
  setCursor(Qt::BlankCursor);
  setFocusPolicy(Qt::StrongFocus);
  setScreen(screen);
  fitToScreen();
}

void BlankWindow::fitToScreen() { setGeometry(screen_->geometry()); }

void BlankWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
}

void BlankWindow::closeEvent(QCloseEvent* event) {
  if (closeAllowed_)
    event->accept();
  else
    event->ignore();
}

void BlankWindow::keyPressEvent(QKeyEvent* event) { event->accept(); }

void BlankWindow::keyReleaseEvent(QKeyEvent* event) { event->accept(); }

bool BlankWindow::event(QEvent* event) {
  // Swallow shortcuts too, so no key combination reaches any action.
  if (event->type() == QEvent::ShortcutOverride) {
    event->accept();
    return true;
  }
  return QWidget::event(event);
}

ScreenBlanker::ScreenBlanker(QObject* parent) : QObject(parent) {
  watchdog_.setInterval(kWatchdogMs);
  connect(&watchdog_, &QTimer::timeout, this, &ScreenBlanker::enforce);
}

ScreenBlanker::~ScreenBlanker() {
  release();
  qDeleteAll(windows_);
}

void ScreenBlanker::start() {
  released_ = false;
  QGuiApplication::setOverrideCursor(Qt::BlankCursor);
  connect(qGuiApp, &QGuiApplication::screenAdded, this, &ScreenBlanker::cover);
  connect(qGuiApp, &QGuiApplication::screenRemoved, this, &ScreenBlanker::uncover);
  for (QScreen* screen : QGuiApplication::screens()) cover(screen);
  enforce();
  watchdog_.start();
}

void ScreenBlanker::release() {
  if (released_) return;
  released_ = true;
  watchdog_.stop();
  disconnect(qGuiApp, nullptr, this, nullptr);
  for (BlankWindow* window : windows_) {
    window->allowClose();
    if (QWindow* handle = window->windowHandle()) {
      handle->setKeyboardGrabEnabled(false);
      handle->setMouseGrabEnabled(false);
    }
  }
  keyboardGrabbed_ = mouseGrabbed_ = false;
  if (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
}

void ScreenBlanker::cover(QScreen* screen) {
  for (BlankWindow* window : windows_)
    if (window->coveredScreen() == screen) return;
  auto* window = new BlankWindow(screen);
  connect(screen, &QScreen::geometryChanged, window, &BlankWindow::fitToScreen);
  windows_.append(window);
  window->show();
  window->raise();
  if (!released_) enforce();
}

void ScreenBlanker::uncover(QScreen* screen) {
  for (qsizetype i = 0; i < windows_.size(); ++i) {
    if (windows_[i]->coveredScreen() == screen) {
      BlankWindow* window = windows_.takeAt(i);
      window->allowClose();
      delete window;
      // The grab may have been on that window; take it again elsewhere.
      keyboardGrabbed_ = mouseGrabbed_ = false;
      enforce();
      return;
    }
  }
}

void ScreenBlanker::enforce() {
  if (released_ || windows_.isEmpty()) return;
  for (BlankWindow* window : windows_) {
    if (!window->isVisible()) window->show();
    window->raise();
  }
  // Grabbing again while holding the grab is harmless, and it wins back a
  // grab that was refused at first (another client held it) or got lost.
  flushToDisplay();
  QWindow* grabber = windows_.first()->windowHandle();
  if (!grabber) return;
  keyboardGrabbed_ = grabber->setKeyboardGrabEnabled(true);
  mouseGrabbed_ = grabber->setMouseGrabEnabled(true);
  windows_.first()->activateWindow();
  flushToDisplay();
}

}  // namespace saalwacht::helpers

#pragma once

#include <QAbstractNativeEventFilter>
#include <QList>
#include <QTimer>
#include <QWidget>

class QScreen;

namespace saalwacht::helpers {

// A black, frameless window that covers one screen and refuses to close
// until allowClose() is called. Keys and clicks are swallowed.
class BlankWindow : public QWidget {
  Q_OBJECT

 public:
  explicit BlankWindow(QScreen* screen);

  QScreen* coveredScreen() const { return screen_; }
  void fitToScreen();
  void allowClose() { closeAllowed_ = true; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;

 private:
  QScreen* screen_;
  bool closeAllowed_ = false;
};

// Keeps one BlankWindow on every screen (including screens plugged in
// later), keeps them mapped, on top and in place, and holds the keyboard and
// mouse grab. On X11 it is driven by the server's events: another client
// that unmaps, moves, lowers or covers a blank window, or shows a window of
// its own, is answered at once, also by events that waited while the
// blanker was stopped. Only a refused grab is retried on a short timer.
class ScreenBlanker : public QObject, public QAbstractNativeEventFilter {
  Q_OBJECT

 public:
  explicit ScreenBlanker(QObject* parent = nullptr);
  ~ScreenBlanker() override;

  // Covers all screens and starts defending them.
  void start();
  // Drops the grabs and lets the windows close, e.g. before quitting.
  void release();

  const QList<BlankWindow*>& windows() const { return windows_; }
  bool keyboardGrabbed() const { return keyboardGrabbed_; }
  bool mouseGrabbed() const { return mouseGrabbed_; }

 protected:
  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  void cover(QScreen* screen);
  void uncover(QScreen* screen);
  void enforce();
  void watchX11();
  bool isOurs(unsigned window) const;

  QList<BlankWindow*> windows_;
  QTimer grabRetry_;
  bool keyboardGrabbed_ = false;
  bool mouseGrabbed_ = false;
  bool released_ = false;
};

}  // namespace saalwacht::helpers

#pragma once

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
// later), keeps them on top and holds the keyboard and mouse grab.
class ScreenBlanker : public QObject {
  Q_OBJECT

 public:
  explicit ScreenBlanker(QObject* parent = nullptr);
  ~ScreenBlanker() override;

  // Covers all screens and starts the raise/grab watchdog.
  void start();
  // Drops the grabs and lets the windows close, e.g. before quitting.
  void release();

  const QList<BlankWindow*>& windows() const { return windows_; }
  bool keyboardGrabbed() const { return keyboardGrabbed_; }
  bool mouseGrabbed() const { return mouseGrabbed_; }

 private:
  void cover(QScreen* screen);
  void uncover(QScreen* screen);
  void enforce();

  QList<BlankWindow*> windows_;
  QTimer watchdog_;
  bool keyboardGrabbed_ = false;
  bool mouseGrabbed_ = false;
  bool released_ = false;
};

}  // namespace saalwacht::helpers

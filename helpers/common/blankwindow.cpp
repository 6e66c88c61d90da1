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
// While another client holds the keyboard or the mouse, the grab is tried
// again this often; the X server says nothing when it lets go.
constexpr int kGrabRetryMs = 100;

#if QT_CONFIG(xcb)
// Qt's X connection, where the platform is X11; other platforms (offscreen
// among them) may offer the interface without a live connection behind it.
xcb_connection_t* x11Connection() {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow(xcb_connection_t* c) { return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root; }

// Adds `mask` to what this client hears of `window`, keeping Qt's own.
void listen(xcb_connection_t* c, xcb_window_t window, uint32_t mask) {
  xcb_get_window_attributes_reply_t* attributes =
      xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
  if (!attributes) return;
  const uint32_t events = attributes->your_event_mask | mask;
  free(attributes);
  xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &events);
}

bool grabbed(uint8_t status) { return status == XCB_GRAB_STATUS_SUCCESS; }
#endif

// Qt writes X requests out only when it next handles X events; without this
// a raise could wait in the buffer while another window stays on top.
void flushToDisplay() {
#if QT_CONFIG(xcb)
  if (xcb_connection_t* c = x11Connection()) xcb_flush(c);
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
  grabRetry_.setInterval(kGrabRetryMs);
  grabRetry_.setSingleShot(true);
  connect(&grabRetry_, &QTimer::timeout, this, &ScreenBlanker::enforce);
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
  qGuiApp->installNativeEventFilter(this);
  watchX11();
  enforce();
}

void ScreenBlanker::release() {
  if (released_) return;
  released_ = true;
  grabRetry_.stop();
  qGuiApp->removeNativeEventFilter(this);
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
  if (!released_) {
    watchX11();
    enforce();
  }
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

// Hears of what other clients do to our windows (unmap, move, cover) and of
// every window that appears or moves on the screen.
void ScreenBlanker::watchX11() {
#if QT_CONFIG(xcb)
  xcb_connection_t* c = x11Connection();
  if (!c) return;
  for (BlankWindow* window : windows_) {
    listen(c, static_cast<xcb_window_t>(window->winId()),
           XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_VISIBILITY_CHANGE);
  }
  listen(c, rootWindow(c), XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
  xcb_flush(c);
#endif
}

bool ScreenBlanker::isOurs(unsigned window) const {
  for (BlankWindow* w : windows_) {
    if (static_cast<unsigned>(w->winId()) == window) return true;
  }
  return false;
}

bool ScreenBlanker::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
#if QT_CONFIG(xcb)
  if (released_ || eventType != "xcb_generic_event_t") return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  bool defend = false;
  switch (event->response_type & 0x7f) {
    case XCB_UNMAP_NOTIFY:
      defend = isOurs(reinterpret_cast<const xcb_unmap_notify_event_t*>(event)->window);
      break;
    case XCB_VISIBILITY_NOTIFY: {
      const auto* v = reinterpret_cast<const xcb_visibility_notify_event_t*>(event);
      defend = isOurs(v->window) && v->state != XCB_VISIBILITY_UNOBSCURED;
      break;
    }
    case XCB_CONFIGURE_NOTIFY: {
      // Ours moved or resized by someone else, or another window restacked.
      const auto* e = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
      if (isOurs(e->window)) {
        for (BlankWindow* w : windows_) {
          const QRect screen = w->coveredScreen()->geometry();
          defend = defend || (static_cast<unsigned>(w->winId()) == e->window &&
                              (e->x != screen.x() || e->y != screen.y() || e->width != screen.width() ||
                               e->height != screen.height()));
        }
      } else {
        defend = true;
      }
      break;
    }
    case XCB_MAP_NOTIFY:
      defend = !isOurs(reinterpret_cast<const xcb_map_notify_event_t*>(event)->window);
      break;
    case XCB_CIRCULATE_NOTIFY:
      defend = true;
      break;
    default:
      break;
  }
  if (defend) enforce();
#else
  Q_UNUSED(eventType);
  Q_UNUSED(message);
#endif
  return false;  // Qt keeps its own view of every event
}

void ScreenBlanker::enforce() {
  if (released_ || windows_.isEmpty()) return;
#if QT_CONFIG(xcb)
  if (xcb_connection_t* c = x11Connection()) {
    // Straight to the server: Qt still believes an unmapped window is shown.
    for (BlankWindow* window : windows_) {
      const auto id = static_cast<xcb_window_t>(window->winId());
      const QRect screen = window->coveredScreen()->geometry();
      const uint32_t values[] = {static_cast<uint32_t>(screen.x()), static_cast<uint32_t>(screen.y()),
                                 static_cast<uint32_t>(screen.width()), static_cast<uint32_t>(screen.height()),
                                 XCB_STACK_MODE_ABOVE};
      xcb_configure_window(c, id,
                           XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                               XCB_CONFIG_WINDOW_HEIGHT | XCB_CONFIG_WINDOW_STACK_MODE,
                           values);
      xcb_map_window(c, id);
    }
    // Grabbing again while holding the grab is harmless; it wins back a grab
    // that was lost with an unmapped window or refused because another
    // client held it.
    const auto grabber = static_cast<xcb_window_t>(windows_.first()->winId());
    auto keyboard = xcb_grab_keyboard(c, 1, grabber, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    auto pointer = xcb_grab_pointer(c, 1, grabber, 0, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, grabber, XCB_NONE,
                                    XCB_CURRENT_TIME);
    xcb_grab_keyboard_reply_t* k = xcb_grab_keyboard_reply(c, keyboard, nullptr);
    xcb_grab_pointer_reply_t* p = xcb_grab_pointer_reply(c, pointer, nullptr);
    keyboardGrabbed_ = k && grabbed(k->status);
    mouseGrabbed_ = p && grabbed(p->status);
    free(k);
    free(p);
    if (!keyboardGrabbed_ || !mouseGrabbed_) grabRetry_.start();
    xcb_flush(c);
    return;
  }
#endif
  // Without X11 (offscreen): what Qt can do.
  for (BlankWindow* window : windows_) {
    if (!window->isVisible()) window->show();
    window->raise();
  }
  QWindow* grabber = windows_.first()->windowHandle();
  if (!grabber) return;
  keyboardGrabbed_ = grabber->setKeyboardGrabEnabled(true);
  mouseGrabbed_ = grabber->setMouseGrabEnabled(true);
  windows_.first()->activateWindow();
  flushToDisplay();
}

}  // namespace saalwacht::helpers

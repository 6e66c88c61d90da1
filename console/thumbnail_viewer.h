#pragma once
// A seat's live miniature of the student's screen: a view-only VNC client.
// The connection runs on a worker thread of its own (libvncclient); the
// worker hands the window thread finished frames, already scaled to the
// viewer's size, as unshared QImages through queued signals, at most a few
// per second. On request it asks a server that can scale on its side
// (libvncserver-based servers such as x11vnc) for scaled frames, which costs a
// fraction of the bandwidth; it is off by default because libvncserver 0.9.14
// starts the scaled screen black and fills in only the parts that change.
// The widget itself lives on the window thread.

#include <QImage>
#include <QThread>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <memory>

namespace saalwacht::console {

// Size of a thumbnail at zoom position p (7..35): 72 x 52 scaled by p / 7.
QSize thumbnailSize(int zoom);

// Waits up to `limit` until every connection's worker thread has ended (the
// viewers are gone or disconnected); true when none is left. Called before
// the program ends, so no worker outlives what it uses.
bool waitForThumbnailWorkers(std::chrono::milliseconds limit);

class VncSession;

class ThumbnailViewer : public QWidget {
  Q_OBJECT
 public:
  ThumbnailViewer(int seat, QWidget* parent);
  ~ThumbnailViewer() override;

  // Starts connecting (view only) and returns at once.
  void connectTo(const QString& host, int port, const QString& password);
  // Ends the connection; ended() follows.
  void disconnectFromServer();
  // True from connectTo() until the connection has ended.
  bool connectionUp() const { return session_ != nullptr; }

  // Asks servers that can for frames scaled on their side (default off).
  void setServerSideScaling(bool on) { serverSideScaling_ = on; }
  const QImage& frame() const { return frame_; }

 signals:
  // The connection ended; `authenticationFailed` when the password was refused.
  void ended(bool authenticationFailed);
  void frameShown();

 private:
  friend class VncSession;
  void onFrame(const VncSession* from, const QImage& frame);
  void onEnded(const VncSession* from, bool authenticationFailed);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  enum class Phase { Idle, Connecting, Connected };
  Phase phase_ = Phase::Idle;
  QImage frame_;
  bool serverSideScaling_ = false;
  std::shared_ptr<VncSession> session_;
};

}  // namespace saalwacht::console

#pragma once
// A seat's live miniature of the student's screen: a view-only VNC client.
// The connection runs on a worker thread of its own (libvncclient); the
// worker hands the window thread finished frames, already scaled to the
// viewer's size, as unshared QImages through queued signals, at most a few
// per second. By default it asks a server that can scale on its side
// (libvncserver-based servers such as x11vnc) to send a screen of about the
// thumbnail's size, so a thumbnail costs a fraction of the bandwidth and
// memory; a server that does not offer it, ignores the request or answers
// with a black or incomplete picture is shown scaled on our side instead.
// The widget itself lives on the window thread.

#include <QImage>
#include <QString>
#include <QWidget>
#include <chrono>
#include <memory>

namespace saalwacht::console {

// Size of a thumbnail at zoom position p (7..35): 72 x 52 scaled by p / 7.
QSize thumbnailSize(int zoom);

// The largest framebuffer a server may announce; a larger one ends the
// connection like a refused one, so a student's own VNC server cannot make
// the console run out of memory.
inline constexpr int kMaxFramebufferSide = 8192;
inline constexpr long long kMaxFramebufferBytes = 256LL * 1024 * 1024;

// The longest a worker takes to end once its viewer is gone or disconnected:
// reads are woken at once, a TCP connect under way runs to its 5 s time-out
// (a name lookup under way, to the resolver's).
inline constexpr std::chrono::milliseconds kThumbnailWorkersEndWithin{6000};

// Waits up to `limit` until every connection's worker thread has ended (the
// viewers are gone or disconnected); true when none is left. Called before
// the program ends, so no worker outlives what it uses.
bool waitForThumbnailWorkers(std::chrono::milliseconds limit = kThumbnailWorkersEndWithin);

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

  // Asks servers that can for frames scaled on their side (default on);
  // takes effect at the next connect.
  void setServerSideScaling(bool on) { serverSideScaling_ = on; }
  const QImage& frame() const { return frame_; }
  // Size of the framebuffer the shown frame was made from: about the
  // thumbnail's size while the server scales, the full screen otherwise.
  QSize sourceSize() const { return sourceSize_; }

 signals:
  // The connection ended; `authenticationFailed` when the password was refused.
  void ended(bool authenticationFailed);
  void frameShown();

 private:
  friend class VncSession;
  void onFrame(const VncSession* from, const QImage& frame, QSize source);
  void onEnded(const VncSession* from, bool authenticationFailed);
  void onScalingFailed(const VncSession* from, const QString& host);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  enum class Phase { Idle, Connecting, Connected };
  Phase phase_ = Phase::Idle;
  QImage frame_;
  QSize sourceSize_;
  bool serverSideScaling_ = true;
  // A server that failed to scale is not asked again by this viewer.
  QString scalingFailedAt_;
  std::shared_ptr<VncSession> session_;
};

}  // namespace saalwacht::console

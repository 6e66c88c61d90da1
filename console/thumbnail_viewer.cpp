#include "console/thumbnail_viewer.h"

#include <QElapsedTimer>
#include <QPainter>
#include <rfb/rfbclient.h>

#include <cstring>
#include <mutex>
#include <thread>

namespace saalwacht::console {

QSize thumbnailSize(int zoom) {
  // As 32-bit floats, cut toward zero: 72 x 52 at 7, 82 x 59 at 8, 360 x 260 at 35.
  const float factor = static_cast<float>(zoom) * (1.0f / 7.0f);
  return {static_cast<int>(72.0f * factor), static_cast<int>(52.0f * factor)};
}

namespace {

const QColor kOuterBackground(212, 208, 200);
constexpr int kFrameIntervalMs = 200;  // at most five frames a second per seat
constexpr int kClientTag = 0x5357;     // our pointer in the rfbClient's data list

std::atomic<int> liveWorkers{0};

}  // namespace

bool waitForThumbnailWorkers(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (liveWorkers > 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return liveWorkers == 0;
}

// One connection: owns the worker thread and everything libvncclient touches.
// The viewer drops its reference when the connection has ended; the thread
// keeps its own until it is done, so neither outlives what it uses.
class VncSession : public std::enable_shared_from_this<VncSession> {
 public:
  struct Target {
    std::string host;
    int port = 5900;
    std::string password;
    QSize size;
    bool serverSideScaling = true;
  };

  VncSession(Target target, ThumbnailViewer* viewer) : target_(std::move(target)), viewer_(viewer) {}

  void start() {
    auto self = shared_from_this();
    ++liveWorkers;
    thread_ = std::thread([self] {
      self->run();
      --liveWorkers;
    });
    thread_.detach();
  }
  void stop() { stop_ = true; }
  void resize(QSize size) {
    std::lock_guard lock(sizeMutex_);
    target_.size = size;
  }

 private:
  static char* password(rfbClient* client) {
    auto* self = static_cast<VncSession*>(rfbClientGetClientData(client, reinterpret_cast<void*>(kClientTag)));
    self->passwordAsked_ = true;
    return strdup(self->target_.password.c_str());
  }
  static void update(rfbClient* client, int, int, int, int) {
    static_cast<VncSession*>(rfbClientGetClientData(client, reinterpret_cast<void*>(kClientTag)))->dirty_ = true;
  }
  static rfbBool allocate(rfbClient* client) {
    auto* self = static_cast<VncSession*>(rfbClientGetClientData(client, reinterpret_cast<void*>(kClientTag)));
    std::free(client->frameBuffer);
    const std::size_t bytes = static_cast<std::size_t>(client->width) * client->height * 4;
    client->frameBuffer = static_cast<uint8_t*>(std::calloc(bytes ? bytes : 4, 1));
    self->frameBuffer_ = client->frameBuffer;
    return client->frameBuffer != nullptr;
  }
  QSize targetSize() {
    std::lock_guard lock(sizeMutex_);
    return target_.size;
  }

  void emitFrame(rfbClient* client) {
    const QImage full(client->frameBuffer, client->width, client->height, client->width * 4, QImage::Format_RGB32);
    const QSize size = targetSize();
    // An unshared picture for the window thread; the framebuffer stays here.
    QImage scaled(size, QImage::Format_RGB32);
    scaled.fill(kOuterBackground);
    const QImage fitted = full.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter p(&scaled);
    p.drawImage((size.width() - fitted.width()) / 2, (size.height() - fitted.height()) / 2, fitted);
    p.end();
    post([me = this, scaled](ThumbnailViewer* viewer) { viewer->onFrame(me, scaled); });
  }

  void run() {
    bool authFailed = false;
    rfbClient* client = rfbGetClient(8, 3, 4);
    client->format.redShift = 16;
    client->format.greenShift = 8;
    client->format.blueShift = 0;
    rfbClientSetClientData(client, reinterpret_cast<void*>(kClientTag), this);
    client->GetPassword = password;
    client->GotFrameBufferUpdate = update;
    client->MallocFrameBuffer = allocate;
    client->canHandleNewFBSize = TRUE;
    client->appData.viewOnly = TRUE;
    client->appData.shareDesktop = TRUE;
    client->appData.encodingsString = "tight zrle ultra copyrect hextile zlib corre rre raw";
    client->appData.compressLevel = 6;
    client->appData.qualityLevel = 6;
    client->appData.useRemoteCursor = FALSE;
    client->connectTimeout = 5;
    // A server that stalls, or a PC that goes off in mid-message, ends the
    // connection instead of holding the worker for ever.
    client->readTimeout = 10;
    std::free(client->serverHost);
    client->serverHost = strdup(target_.host.c_str());
    client->serverPort = target_.port;
    client->listenPort = -1;

    if (!rfbInitClient(client, nullptr, nullptr)) {
      // rfbInitClient frees the client, but not our framebuffer, on failure.
      // Which step failed tells a refused password from a refused connection.
      std::free(frameBuffer_);
      frameBuffer_ = nullptr;
      authFailed = passwordAsked_;
      finish(authFailed);
      return;
    }
    QElapsedTimer sinceFrame;
    sinceFrame.start();
    bool first = true;
    bool scaleAsked = false;
    while (!stop_) {
      const int ready = WaitForMessage(client, 50000);
      if (ready < 0) break;
      if (ready > 0 && !HandleRFBServerMessage(client)) break;
      // The server says which messages it takes with its first update; then
      // a server that scales on its side is asked for the largest whole
      // factor that still covers the thumbnail.
      if (!scaleAsked && target_.serverSideScaling && !first && SupportsClient2Server(client, rfbSetScale)) {
        scaleAsked = true;
        const QSize size = targetSize();
        const int factor = std::max(1, std::min(client->width / std::max(1, size.width()),
                                                client->height / std::max(1, size.height())));
        if (factor > 1) SendScaleSetting(client, factor);
      }
      if (dirty_ && (first || sinceFrame.elapsed() >= kFrameIntervalMs)) {
        dirty_ = false;
        first = false;
        sinceFrame.restart();
        emitFrame(client);
      }
    }
    std::free(client->frameBuffer);
    client->frameBuffer = nullptr;
    frameBuffer_ = nullptr;
    rfbClientCleanup(client);
    finish(false);
  }

  void finish(bool authFailed) {
    post([me = this, authFailed](ThumbnailViewer* viewer) { viewer->onEnded(me, authFailed); });
  }

  // Hands work to the window thread while the viewer still exists; Qt drops
  // what is queued for a viewer that is destroyed before it runs.
  template <typename Work>
  void post(Work work) {
    std::lock_guard lock(viewerMutex_);
    if (!viewer_) return;
    QMetaObject::invokeMethod(viewer_, [viewer = viewer_, work] { work(viewer); }, Qt::QueuedConnection);
  }

 public:
  // The viewer goes away: no more calls to it, and the connection ends.
  void detach() {
    std::lock_guard lock(viewerMutex_);
    viewer_ = nullptr;
    stop_ = true;
  }

 private:
  Target target_;
  std::mutex viewerMutex_;
  ThumbnailViewer* viewer_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> dirty_{false};
  bool passwordAsked_ = false;
  uint8_t* frameBuffer_ = nullptr;
  std::mutex sizeMutex_;
};

ThumbnailViewer::ThumbnailViewer(int seat, QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("ViewerX%1").arg(seat));
  setCursor(Qt::PointingHandCursor);
  setAttribute(Qt::WA_TransparentForMouseEvents);  // clicks go to the seat below
  hide();
}

ThumbnailViewer::~ThumbnailViewer() {
  if (session_) session_->detach();
}

namespace {
void quiet(const char*, ...) {}
}  // namespace

void ThumbnailViewer::connectTo(const QString& host, int port, const QString& password) {
  if (session_) return;
  // libvncclient reports every step on stderr; the console has no use for it.
  rfbClientLog = quiet;
  rfbClientErr = quiet;
  phase_ = Phase::Connecting;
  frame_ = QImage();
  session_ = std::make_shared<VncSession>(
      VncSession::Target{host.toStdString(), port, password.toStdString(), size(), serverSideScaling_}, this);
  session_->start();
  update();
}

void ThumbnailViewer::disconnectFromServer() {
  if (session_) session_->stop();
}

void ThumbnailViewer::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (session_) session_->resize(size());
}

void ThumbnailViewer::onFrame(const VncSession* from, const QImage& frame) {
  // A frame of a connection that was already ended is dropped.
  if (session_.get() != from || phase_ == Phase::Idle) return;
  phase_ = Phase::Connected;
  frame_ = frame;
  update();
  emit frameShown();
}

void ThumbnailViewer::onEnded(const VncSession* from, bool authenticationFailed) {
  if (session_.get() != from) return;
  session_.reset();
  phase_ = Phase::Idle;
  update();
  emit ended(authenticationFailed);
}

void ThumbnailViewer::paintEvent(QPaintEvent*) {
  QPainter p(this);
  if (!frame_.isNull() && phase_ == Phase::Connected) {
    p.drawImage(rect(), frame_);
    return;
  }
  p.fillRect(rect(), kOuterBackground);
  p.setPen(QColor(0x40, 0x40, 0x40));
  p.drawText(rect(), Qt::AlignCenter,
             phase_ == Phase::Connecting ? QStringLiteral("connect") : QStringLiteral("n.c."));
}

}  // namespace saalwacht::console

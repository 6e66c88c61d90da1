#include "console/thumbnail_viewer.h"

#include <QPainter>
#include <QRegion>
// On both platforms this also brings the socket calls (shutdown).
#include <rfb/rfbclient.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace saalwacht::console {

QSize thumbnailSize(int zoom) {
  // As 32-bit floats, cut toward zero: 72 x 52 at 7, 82 x 59 at 8, 360 x 260 at 35.
  const float factor = static_cast<float>(zoom) * (1.0f / 7.0f);
  return {static_cast<int>(72.0f * factor), static_cast<int>(52.0f * factor)};
}

namespace {

using Clock = std::chrono::steady_clock;

const QColor kOuterBackground(212, 208, 200);
// About five updates, and so five frames, a second per seat at most: the next
// update is asked for only this long after the last request, so a server
// collects what changes in between (a video costs no more than a clock). A
// request that is nearly due when an update arrives goes out with it, which
// saves the worker a wake-up.
constexpr auto kRequestInterval = std::chrono::milliseconds(200);
constexpr auto kRequestEarly = std::chrono::milliseconds(50);
// Without anything due, the worker looks up this often; a stop wakes it at once.
constexpr auto kIdleWait = std::chrono::seconds(1);
// How long a server has to answer a scale request before it counts as
// ignored (until then there is no picture), and then to send the whole scaled
// picture before its scaling counts as broken (generous: the last frame stays).
constexpr auto kScaleAnswerWithin = std::chrono::seconds(3);
constexpr auto kScaledPictureWithin = std::chrono::seconds(10);
constexpr int kClientTag = 0x5357;  // our pointer in the rfbClient's data list
// Only the receiving side is shut to wake a worker: a write after that
// still succeeds, where one into a socket shut both ways raises SIGPIPE.
constexpr int kReceiving = 0;  // SHUT_RD, SD_RECEIVE

std::atomic<int> liveWorkers{0};

void quiet(const char*, ...) {}

// The largest whole factor the server may divide its screen by so that the
// result still covers the thumbnail (1: no scaling).
int scaleFactor(QSize screen, QSize thumbnail) {
  if (thumbnail.width() <= 0 || thumbnail.height() <= 0) return 1;
  const int factor = std::min(screen.width() / thumbnail.width(), screen.height() / thumbnail.height());
  return std::clamp(factor, 1, 255);  // the request carries one byte
}

QImage frameBufferImage(const rfbClient* client) {
  return QImage(client->frameBuffer, client->width, client->height, client->width * 4, QImage::Format_RGB32);
}

bool nearBlack(QRgb pixel) { return qRed(pixel) < 16 && qGreen(pixel) < 16 && qBlue(pixel) < 16; }

// Whether the server's scaled picture lost most of what the full screen
// showed in `row` (its row `rowY`, fetched before): a black answer, or one
// with only the parts that changed since. A row that was black to begin with
// may stay black; a pointer or two do not count.
bool lostTheScreen(const rfbClient* scaled, const std::vector<QRgb>& row, int rowY, int factor) {
  const int width = std::min(scaled->width, static_cast<int>(row.size()) / factor);
  const int y = std::min(rowY / factor, scaled->height - 1);
  const auto* theirs = reinterpret_cast<const QRgb*>(scaled->frameBuffer) + static_cast<std::size_t>(y) * scaled->width;
  long long content = 0, lost = 0;
  for (int x = 0; x < width; ++x) {
    // Our own average over the part of the row that this pixel stands for.
    int red = 0, green = 0, blue = 0;
    for (int i = 0; i < factor; ++i) {
      const QRgb p = row[static_cast<std::size_t>(x) * factor + i];
      red += qRed(p);
      green += qGreen(p);
      blue += qBlue(p);
    }
    if (nearBlack(qRgb(red / factor, green / factor, blue / factor))) continue;
    ++content;
    if (nearBlack(theirs[x])) ++lost;
  }
  return content * 100 > width && lost * 2 > content;
}

}  // namespace

bool waitForThumbnailWorkers(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (liveWorkers > 0 && Clock::now() < deadline) {
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
    std::thread([self] {
      self->run();
      --liveWorkers;
    }).detach();
  }

  // Ends the connection soon; a read under way is woken at once.
  void stop() {
    std::lock_guard lock(socketMutex_);
    stop_ = true;
    if (socket_ != RFB_INVALID_SOCKET) ::shutdown(socket_, kReceiving);
  }

  void resize(QSize size) {
    std::lock_guard lock(sizeMutex_);
    target_.size = size;
  }

  // The viewer goes away: no more calls to it, and the connection ends.
  void detach() {
    {
      std::lock_guard lock(viewerMutex_);
      viewer_ = nullptr;
    }
    stop();
  }

 private:
  enum class Outcome { Ended, AuthenticationFailed, RetryUnscaled };
  // Where server-side scaling stands on this connection. A server that
  // scales never sends a full-size picture: before any picture, one row is
  // fetched, which shows whether the server takes scale requests (libvncserver
  // says so with its first update) and is kept to check the scaled answer.
  enum class Scaling {
    Probing,   // the row is asked for
    Asked,     // the scale request is out
    Answered,  // the framebuffer has the asked size; waiting for its whole picture
    On,        // the server scales and its picture is complete
    Off,       // not wanted, not offered, not needed or ignored: scaled here
  };

  static VncSession* of(rfbClient* client) {
    return static_cast<VncSession*>(rfbClientGetClientData(client, reinterpret_cast<void*>(kClientTag)));
  }
  static char* password(rfbClient* client) {
    auto* self = of(client);
    self->passwordAsked_ = true;
    return strdup(self->target_.password.c_str());
  }
  static void update(rfbClient* client, int x, int y, int w, int h) {
    auto* self = of(client);
    self->missing_ -= QRect(x, y, w, h);
    self->dirty_ = true;
  }
  // The framebuffer is not cleared when it is made, so nothing is copied from
  // a part not yet received; such a copy leaves black instead.
  static void copyRect(rfbClient* client, int sx, int sy, int w, int h, int dx, int dy) {
    auto* self = of(client);
    const QRect source(sx, sy, w, h), bounds(0, 0, client->width, client->height);
    if (bounds.contains(source) && !self->missing_.intersects(source)) {
      self->copyFromFrameBuffer_(client, sx, sy, w, h, dx, dy);
      return;
    }
    const QRect target = QRect(dx, dy, w, h).intersected(bounds);
    for (int y = target.top(); y <= target.bottom(); ++y) {
      std::memset(client->frameBuffer + (static_cast<std::size_t>(y) * client->width + target.left()) * 4, 0,
                  static_cast<std::size_t>(target.width()) * 4);
    }
  }
  static rfbBool allocate(rfbClient* client) { return of(client)->allocateFrameBuffer(client) ? TRUE : FALSE; }

  // Holds exactly one framebuffer of the size the server announced; a new
  // size replaces the old buffer, so a server that scales leaves us with a
  // thumbnail-sized one. Its memory is not touched here: only what the
  // server sends is written, and frames are made only of received parts.
  bool allocateFrameBuffer(rfbClient* client) {
    const QSize size(client->width, client->height);
    if (frameBuffer_ && size == bufferSize_) {
      client->frameBuffer = frameBuffer_;
      return true;
    }
    std::free(frameBuffer_);
    frameBuffer_ = nullptr;
    client->frameBuffer = nullptr;
    const long long bytes = 4LL * size.width() * size.height();
    if (size.width() <= 0 || size.height() <= 0 || size.width() > kMaxFramebufferSide ||
        size.height() > kMaxFramebufferSide || bytes > kMaxFramebufferBytes) {
      return false;
    }
    frameBuffer_ = static_cast<uint8_t*>(std::malloc(static_cast<std::size_t>(bytes)));
    if (!frameBuffer_) return false;
    client->frameBuffer = frameBuffer_;
    // The whole picture is asked for after every new size. libvncclient would
    // ask after a NewFBSize, but not after an ExtendedDesktopSize, which
    // libvncserver sends to clients that know it, also in answer to a scale
    // request: that left a server-scaled thumbnail black but for the parts
    // that changed.
    resized_ = !bufferSize_.isEmpty();
    bufferSize_ = size;
    missing_ = QRegion(0, 0, size.width(), size.height());
    if (resized_) {
      if (scaling_ == Scaling::Asked && size == askedSize_) {
        scaling_ = Scaling::Answered;
        scalingDeadline_ = Clock::now() + kScaledPictureWithin;
      } else if (scaling_ == Scaling::Probing) {
        scaling_ = Scaling::Off;  // the screen itself changed: no scaling on this connection
      }
    }
    return true;
  }

  QSize targetSize() {
    std::lock_guard lock(sizeMutex_);
    return target_.size;
  }

  // Asks for `area`: now in full, and from then on for its changes, paced
  // by the loop, so that the server collects what changes between requests.
  // libvncclient's own request after every update is held back by taking the
  // request off the messages it believes the server takes.
  bool request(rfbClient* client, QRect area, bool incremental = false) {
    client->updateRect.x = area.x();
    client->updateRect.y = area.y();
    client->updateRect.w = area.width();
    client->updateRect.h = area.height();
    rfbFramebufferUpdateRequestMsg message{};
    message.type = rfbFramebufferUpdateRequest;
    message.incremental = incremental ? 1 : 0;
    message.x = rfbClientSwap16IfLE(static_cast<uint16_t>(area.x()));
    message.y = rfbClientSwap16IfLE(static_cast<uint16_t>(area.y()));
    message.w = rfbClientSwap16IfLE(static_cast<uint16_t>(area.width()));
    message.h = rfbClientSwap16IfLE(static_cast<uint16_t>(area.height()));
    holdBackLibraryRequests(client);
    awaitingUpdate_ = true;
    lastRequest_ = Clock::now();
    return WriteToRFBServer(client, reinterpret_cast<const char*>(&message), sz_rfbFramebufferUpdateRequestMsg);
  }
  bool requestWhole(rfbClient* client) { return request(client, QRect(0, 0, client->width, client->height)); }
  bool requestChanges(rfbClient* client) {
    return request(client,
                   QRect(client->updateRect.x, client->updateRect.y, client->updateRect.w, client->updateRect.h), true);
  }
  static void holdBackLibraryRequests(rfbClient* client) {
    client->supportedMessages.client2server[rfbFramebufferUpdateRequest / 8] &=
        static_cast<uint8_t>(~(1 << (rfbFramebufferUpdateRequest % 8)));
  }
  static void updateDone(rfbClient* client) {
    of(client)->awaitingUpdate_ = false;
    // The server's list of the messages it takes, sent with its first
    // update, puts the request back.
    holdBackLibraryRequests(client);
  }

  QRect probeRect() const { return QRect(0, fullSize_.height() / 2, fullSize_.width(), 1); }

  bool askScale(rfbClient* client, int factor) {
    rfbSetScaleMsg message{};
    message.type = rfbSetScale;
    message.scale = static_cast<uint8_t>(factor);
    if (!WriteToRFBServer(client, reinterpret_cast<const char*>(&message), sz_rfbSetScaleMsg)) return false;
    // libvncserver divides its screen size by the factor, cutting toward zero.
    askedSize_ = QSize(fullSize_.width() / factor, fullSize_.height() / factor);
    askedFactor_ = factor;
    scaling_ = Scaling::Asked;
    scalingDeadline_ = Clock::now() + kScaleAnswerWithin;
    return true;
  }

  // Moves server-side scaling on after a message. Ends with RetryUnscaled
  // when the server's scaled picture cannot be used, Ended when the
  // connection failed.
  std::optional<Outcome> advanceScaling(rfbClient* client) {
    const auto now = Clock::now();
    switch (scaling_) {
      case Scaling::Probing: {
        if (missing_.intersects(probeRect())) return {};
        const int factor = scaleFactor(fullSize_, targetSize());
        if (factor == 1 || !SupportsClient2Server(client, rfbSetScale)) {
          scaling_ = Scaling::Off;
          if (!requestWhole(client)) return Outcome::Ended;
          return {};
        }
        const auto* row = reinterpret_cast<const QRgb*>(client->frameBuffer) +
                          static_cast<std::size_t>(probeRect().y()) * client->width;
        sample_.assign(row, row + client->width);
        if (!askScale(client, factor)) return Outcome::Ended;
        return {};
      }
      case Scaling::Asked:
        if (now < scalingDeadline_) return {};
        // Ignored: fetch the full picture, if there is none yet, and scale here.
        scaling_ = Scaling::Off;
        if (!sample_.empty()) {
          sample_.clear();
          ignored_ = true;
          if (!requestWhole(client)) return Outcome::Ended;
        }
        return {};
      case Scaling::Answered:
        if (missing_.isEmpty()) {
          const bool lost = !sample_.empty() && lostTheScreen(client, sample_, probeRect().y(), askedFactor_);
          sample_.clear();
          if (lost) return Outcome::RetryUnscaled;
          scaling_ = Scaling::On;
          currentFactor_ = askedFactor_;
          return {};
        }
        if (now >= scalingDeadline_) return Outcome::RetryUnscaled;
        return {};
      case Scaling::On: {
        // The zoom changed: ask for the factor that fits it now; the picture
        // stays until the answer.
        const int factor = scaleFactor(fullSize_, targetSize());
        if (factor != currentFactor_ && !askScale(client, factor)) return Outcome::Ended;
        return {};
      }
      case Scaling::Off:
        return {};
    }
    return {};
  }

  bool frameDue() const { return dirty_ && missing_.isEmpty() && scaling_ != Scaling::Answered; }

  void emitFrame(rfbClient* client) {
    const QSize size = targetSize();
    const QImage source = frameBufferImage(client);
    const QSize fitted = source.size().scaled(size, Qt::KeepAspectRatio);
    const QRect target(QPoint((size.width() - fitted.width()) / 2, (size.height() - fitted.height()) / 2), fitted);
    // An unshared picture for the window thread; the framebuffer stays here.
    QImage frame(size, QImage::Format_RGB32);
    if (fitted != size) frame.fill(kOuterBackground);
    if (!fitted.isEmpty()) {
      QPainter p(&frame);
      if (fitted.width() * 2 >= source.width()) {
        // A server-scaled screen is at most twice the thumbnail: bilinear
        // filtering is enough, at a fraction of the cost of averaging.
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(target, source);
      } else {
        p.drawImage(target.topLeft(), source.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
      }
    }
    const QSize sourceSize(client->width, client->height);
    post([me = this, frame, sourceSize](ThumbnailViewer* viewer) { viewer->onFrame(me, frame, sourceSize); });
  }

  // Frees what one connection held; the socket is withdrawn from stop()
  // before libvncclient closes it, so stop() never touches a reused number.
  void release(rfbClient* client) {
    std::free(frameBuffer_);
    frameBuffer_ = nullptr;
    client->frameBuffer = nullptr;
    {
      std::lock_guard lock(socketMutex_);
      socket_ = RFB_INVALID_SOCKET;
    }
    rfbClientCleanup(client);
  }

  // One connection from connect to end, the steps of rfbInitClient taken one
  // by one so that stop() can wake the handshake's reads.
  Outcome serve(bool askScale) {
    bufferSize_ = QSize();
    missing_ = QRegion();
    sample_.clear();
    resized_ = dirty_ = passwordAsked_ = ignored_ = awaitingUpdate_ = false;
    scaling_ = Scaling::Off;

    if (stop_) return Outcome::Ended;
    rfbClient* client = rfbGetClient(8, 3, 4);
    if (!client) return Outcome::Ended;
    client->format.redShift = 16;
    client->format.greenShift = 8;
    client->format.blueShift = 0;
    rfbClientSetClientData(client, reinterpret_cast<void*>(kClientTag), this);
    client->GetPassword = password;
    client->GotFrameBufferUpdate = update;
    client->FinishedFrameBufferUpdate = updateDone;
    client->MallocFrameBuffer = allocate;
    copyFromFrameBuffer_ = client->GotCopyRect;
    client->GotCopyRect = copyRect;
    client->canHandleNewFBSize = TRUE;
    client->appData.viewOnly = TRUE;
    client->appData.shareDesktop = TRUE;
    // ZRLE first: for the small rectangles of a scaled screen it costs less to
    // decode than Tight's JPEG pieces, and sends fewer bytes.
    client->appData.encodingsString = "zrle tight copyrect hextile zlib ultra corre rre raw";
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

    if (!ConnectToRFBServer(client, client->serverHost, client->serverPort)) {
      release(client);
      return Outcome::Ended;
    }
    {
      std::lock_guard lock(socketMutex_);
      socket_ = client->sock;
      if (stop_) ::shutdown(socket_, kReceiving);
    }
    if (!InitialiseRFBConnection(client)) {
      // Which step failed tells a refused password from a refused connection.
      const bool refused = passwordAsked_;
      release(client);
      return refused ? Outcome::AuthenticationFailed : Outcome::Ended;
    }
    client->width = client->si.framebufferWidth;
    client->height = client->si.framebufferHeight;
    if (!client->MallocFrameBuffer(client) || !SetFormatAndEncodings(client)) {
      release(client);
      return Outcome::Ended;
    }
    fullSize_ = bufferSize_;
    const bool probe = askScale && scaleFactor(fullSize_, targetSize()) > 1;
    scaling_ = probe ? Scaling::Probing : Scaling::Off;
    if (!(probe ? request(client, probeRect()) : requestWhole(client))) {
      release(client);
      return Outcome::Ended;
    }

    Outcome outcome = Outcome::Ended;
    while (!stop_) {
      const auto now = Clock::now();
      auto wake = now + kIdleWait;
      if (!awaitingUpdate_) wake = std::min(wake, lastRequest_ + kRequestInterval);
      if (scaling_ == Scaling::Asked || scaling_ == Scaling::Answered) wake = std::min(wake, scalingDeadline_);
      const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(std::max(wake - now, Clock::duration{}));
      const int ready = WaitForMessage(client, static_cast<unsigned>(wait.count()));
      if (ready < 0) break;
      // A message that arrived with the one before waits in libvncclient's
      // buffer, where select() does not see it.
      bool handled = true;
      if (ready > 0) {
        do handled = HandleRFBServerMessage(client);
        while (handled && client->buffered > 0);
      }
      if (!handled) break;
      if (resized_) {
        resized_ = false;
        if (!requestWhole(client)) break;
      }
      if (const auto end = advanceScaling(client)) {
        outcome = *end;
        break;
      }
      if (ignored_) {
        ignored_ = false;
        reportScalingFailed();
      }
      // Requests are paced, so are the updates, and every update that
      // completes the picture makes a frame.
      if (frameDue()) {
        dirty_ = false;
        emitFrame(client);
      }
      if (!awaitingUpdate_ && Clock::now() >= lastRequest_ + kRequestInterval - kRequestEarly &&
          !requestChanges(client)) {
        break;
      }
    }
    release(client);
    return outcome;
  }

  void reportScalingFailed() {
    post([me = this, host = QString::fromStdString(target_.host)](ThumbnailViewer* viewer) {
      viewer->onScalingFailed(me, host);
    });
  }

  void run() {
    Outcome outcome = serve(target_.serverSideScaling);
    if (outcome == Outcome::RetryUnscaled && !stop_) {
      // The server answered the scale request with a black or incomplete
      // picture: start over and scale here.
      reportScalingFailed();
      outcome = serve(false);
    }
    const bool authenticationFailed = outcome == Outcome::AuthenticationFailed;
    post([me = this, authenticationFailed](ThumbnailViewer* viewer) { viewer->onEnded(me, authenticationFailed); });
  }

  // Hands work to the window thread while the viewer still exists; Qt drops
  // what is queued for a viewer that is destroyed before it runs.
  template <typename Work>
  void post(Work work) {
    std::lock_guard lock(viewerMutex_);
    if (!viewer_) return;
    QMetaObject::invokeMethod(viewer_, [viewer = viewer_, work] { work(viewer); }, Qt::QueuedConnection);
  }

  Target target_;
  std::mutex sizeMutex_;  // guards target_.size
  std::mutex viewerMutex_;
  ThumbnailViewer* viewer_;
  std::mutex socketMutex_;
  rfbSocket socket_ = RFB_INVALID_SOCKET;
  std::atomic<bool> stop_{false};

  // Worker thread only, from here on.
  GotCopyRectProc copyFromFrameBuffer_ = nullptr;
  uint8_t* frameBuffer_ = nullptr;
  QSize bufferSize_;
  QRegion missing_;  // not yet received since the framebuffer was made
  bool resized_ = false;
  bool dirty_ = false;
  bool awaitingUpdate_ = false;  // a request is out that the server has not answered
  Clock::time_point lastRequest_;
  bool passwordAsked_ = false;
  bool ignored_ = false;  // the server let a scale request pass unanswered
  Scaling scaling_ = Scaling::Off;
  QSize fullSize_, askedSize_;
  int askedFactor_ = 1, currentFactor_ = 1;
  std::vector<QRgb> sample_;  // the row fetched before the scale request
  Clock::time_point scalingDeadline_;
};

ThumbnailViewer::ThumbnailViewer(int seat, QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("ViewerX%1").arg(seat));
  setCursor(Qt::PointingHandCursor);
  setAttribute(Qt::WA_TransparentForMouseEvents);  // clicks go to the seat below
  // Every paint covers the whole viewer: what lies below need not be painted
  // first, at every frame.
  setAttribute(Qt::WA_OpaquePaintEvent);
  hide();
}

ThumbnailViewer::~ThumbnailViewer() {
  if (session_) session_->detach();
}

void ThumbnailViewer::connectTo(const QString& host, int port, const QString& password) {
  if (session_) return;
  // libvncclient reports every step on stderr; the console has no use for it.
  // Set once, before the first worker runs, as workers read these hooks.
  static std::once_flag quietLogs;
  std::call_once(quietLogs, [] {
    rfbClientLog = quiet;
    rfbClientErr = quiet;
  });
  phase_ = Phase::Connecting;
  frame_ = QImage();
  sourceSize_ = QSize();
  const bool askScale = serverSideScaling_ && host != scalingFailedAt_;
  session_ = std::make_shared<VncSession>(
      VncSession::Target{host.toStdString(), port, password.toStdString(), size(), askScale}, this);
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

void ThumbnailViewer::onFrame(const VncSession* from, const QImage& frame, QSize source) {
  // A frame of a connection that was already ended is dropped.
  if (session_.get() != from || phase_ == Phase::Idle) return;
  phase_ = Phase::Connected;
  frame_ = frame;
  sourceSize_ = source;
  update();
  emit frameShown();
}

void ThumbnailViewer::onScalingFailed(const VncSession* from, const QString& host) {
  if (session_.get() == from) scalingFailedAt_ = host;
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

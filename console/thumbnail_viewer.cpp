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
#include <thread>

namespace saalwacht::console {

QSize thumbnailSize(int zoom) {
  // As 32-bit floats, cut toward zero: 72 x 52 at 7, 82 x 59 at 8, 360 x 260 at 35.
  const float factor = static_cast<float>(zoom) * (1.0f / 7.0f);
  return {static_cast<int>(72.0f * factor), static_cast<int>(52.0f * factor)};
}

namespace {

using Clock = std::chrono::steady_clock;

const QColor kOuterBackground(212, 208, 200);
constexpr auto kFrameInterval = std::chrono::milliseconds(200);  // at most five frames a second per seat
// Without anything due, the worker looks up this often; a stop wakes it at once.
constexpr auto kIdleWait = std::chrono::milliseconds(500);
// How long a server has to answer a scale request, and then to send the
// whole scaled picture; after that its scaling counts as ignored or broken.
// Generous, for a loaded PC: until then the last frame stays.
constexpr auto kScaleAnswerWithin = std::chrono::seconds(10);
constexpr int kClientTag = 0x5357;  // our pointer in the rfbClient's data list
constexpr int kBothDirections = 2;  // SHUT_RDWR, SD_BOTH

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
// showed, `reference` being the full screen scaled here to the same size: a
// black answer, or one with only the parts that changed since. A screen that
// was black to begin with may stay black; a pointer or two do not count.
bool lostTheScreen(const QImage& scaled, const QImage& reference) {
  if (scaled.size() != reference.size()) return false;
  long long content = 0, lost = 0;
  for (int y = 0; y < scaled.height(); ++y) {
    const auto* ours = reinterpret_cast<const QRgb*>(reference.constScanLine(y));
    const auto* theirs = reinterpret_cast<const QRgb*>(scaled.constScanLine(y));
    for (int x = 0; x < scaled.width(); ++x) {
      if (nearBlack(ours[x])) continue;
      ++content;
      if (nearBlack(theirs[x])) ++lost;
    }
  }
  const long long area = static_cast<long long>(scaled.width()) * scaled.height();
  return content * 100 > area && lost * 2 > content;
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
    if (socket_ != RFB_INVALID_SOCKET) ::shutdown(socket_, kBothDirections);
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
  // Where server-side scaling stands on this connection.
  enum class Scaling {
    NotAsked,  // no complete picture yet
    Asked,     // the request is out; frames still come from the full screen
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
  static rfbBool allocate(rfbClient* client) { return of(client)->allocateFrameBuffer(client) ? TRUE : FALSE; }

  // Holds exactly one framebuffer of the size the server announced; a new
  // size replaces the old buffer, so a server that scales leaves us with a
  // thumbnail-sized one.
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
    frameBuffer_ = static_cast<uint8_t*>(std::calloc(static_cast<std::size_t>(bytes), 1));
    if (!frameBuffer_) return false;
    client->frameBuffer = frameBuffer_;
    // libvncclient asks for the whole picture after a NewFBSize, but not after
    // an ExtendedDesktopSize, which libvncserver sends to clients that know it,
    // also in answer to a scale request; so we ask for it ourselves.
    resized_ = !bufferSize_.isEmpty();
    bufferSize_ = size;
    missing_ = QRegion(0, 0, size.width(), size.height());
    client->updateRect.x = client->updateRect.y = 0;
    client->updateRect.w = size.width();
    client->updateRect.h = size.height();
    if (scaling_ == Scaling::Asked && size == askedSize_) {
      scaling_ = Scaling::Answered;
      scalingDeadline_ = Clock::now() + kScaleAnswerWithin;
    }
    return true;
  }

  QSize targetSize() {
    std::lock_guard lock(sizeMutex_);
    return target_.size;
  }

  void askScale(rfbClient* client, int factor) {
    rfbSetScaleMsg message{};
    message.type = rfbSetScale;
    message.scale = static_cast<uint8_t>(factor);
    if (!WriteToRFBServer(client, reinterpret_cast<const char*>(&message), sz_rfbSetScaleMsg)) return;
    // libvncserver divides its screen size by the factor, cutting toward zero.
    askedSize_ = QSize(fullSize_.width() / factor, fullSize_.height() / factor);
    askedFactor_ = factor;
    // What the answer should look like, to tell a broken one.
    reference_ = frameBufferImage(client).scaled(askedSize_, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    scaling_ = Scaling::Asked;
    scalingDeadline_ = Clock::now() + kScaleAnswerWithin;
  }

  // Moves server-side scaling on after a message; false when the server's
  // scaled picture cannot be used and the connection must start over.
  bool advanceScaling(rfbClient* client) {
    const bool complete = missing_.isEmpty();
    switch (scaling_) {
      case Scaling::NotAsked: {
        if (!complete) return true;
        fullSize_ = bufferSize_;
        const int factor = scaleFactor(fullSize_, targetSize());
        if (!askScaleWanted_ || factor == 1 || !SupportsClient2Server(client, rfbSetScale)) {
          scaling_ = Scaling::Off;
          return true;
        }
        askScale(client, factor);
        return true;
      }
      case Scaling::Asked:
        if (Clock::now() >= scalingDeadline_) {
          scaling_ = Scaling::Off;
          reference_ = QImage();
        }
        return true;
      case Scaling::Answered:
        if (complete) {
          const bool lost = lostTheScreen(frameBufferImage(client), reference_);
          reference_ = QImage();
          if (lost) return false;
          scaling_ = Scaling::On;
          currentFactor_ = askedFactor_;
          return true;
        }
        return Clock::now() < scalingDeadline_;
      case Scaling::On: {
        // The zoom changed: ask for the factor that fits it now.
        const int factor = scaleFactor(fullSize_, targetSize());
        if (factor != currentFactor_) askScale(client, factor);
        return true;
      }
      case Scaling::Off:
        return true;
    }
    return true;
  }

  bool frameDue() const { return dirty_ && missing_.isEmpty() && scaling_ != Scaling::Answered; }

  void emitFrame(rfbClient* client) {
    const QSize size = targetSize();
    // An unshared picture for the window thread; the framebuffer stays here.
    QImage fitted = frameBufferImage(client).scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (fitted.size() != size) {
      QImage framed(size, QImage::Format_RGB32);
      framed.fill(kOuterBackground);
      QPainter p(&framed);
      p.drawImage((size.width() - fitted.width()) / 2, (size.height() - fitted.height()) / 2, fitted);
      p.end();
      fitted = framed;
    }
    const QSize source(client->width, client->height);
    post([me = this, fitted, source](ThumbnailViewer* viewer) { viewer->onFrame(me, fitted, source); });
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
    askScaleWanted_ = askScale;
    scaling_ = Scaling::NotAsked;
    reference_ = QImage();
    bufferSize_ = QSize();
    missing_ = QRegion();
    resized_ = dirty_ = passwordAsked_ = false;

    rfbClient* client = rfbGetClient(8, 3, 4);
    if (!client) return Outcome::Ended;
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

    if (!ConnectToRFBServer(client, client->serverHost, client->serverPort)) {
      release(client);
      return Outcome::Ended;
    }
    {
      std::lock_guard lock(socketMutex_);
      socket_ = client->sock;
      if (stop_) ::shutdown(socket_, kBothDirections);
    }
    if (!InitialiseRFBConnection(client)) {
      // Which step failed tells a refused password from a refused connection.
      const bool refused = passwordAsked_;
      release(client);
      return refused ? Outcome::AuthenticationFailed : Outcome::Ended;
    }
    client->width = client->si.framebufferWidth;
    client->height = client->si.framebufferHeight;
    if (!client->MallocFrameBuffer(client) || !SetFormatAndEncodings(client) ||
        !SendFramebufferUpdateRequest(client, 0, 0, client->width, client->height, FALSE)) {
      release(client);
      return Outcome::Ended;
    }

    Outcome outcome = Outcome::Ended;
    auto nextFrame = Clock::now();
    while (!stop_) {
      const auto now = Clock::now();
      auto wake = now + kIdleWait;
      if (frameDue()) wake = std::min(wake, std::max(now, nextFrame));
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
        if (!SendFramebufferUpdateRequest(client, 0, 0, client->width, client->height, FALSE)) break;
      }
      if (!advanceScaling(client)) {
        outcome = Outcome::RetryUnscaled;
        break;
      }
      if (frameDue() && Clock::now() >= nextFrame) {
        dirty_ = false;
        nextFrame = Clock::now() + kFrameInterval;
        emitFrame(client);
      }
    }
    release(client);
    return outcome;
  }

  void run() {
    Outcome outcome = serve(target_.serverSideScaling);
    if (outcome == Outcome::RetryUnscaled && !stop_) {
      // The server answered the scale request with a black or incomplete
      // picture: start over and scale here.
      post([me = this, host = QString::fromStdString(target_.host)](ThumbnailViewer* viewer) {
        viewer->onScalingFailed(me, host);
      });
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
  uint8_t* frameBuffer_ = nullptr;
  QSize bufferSize_;
  QRegion missing_;  // not yet received since the framebuffer was made
  bool resized_ = false;
  bool dirty_ = false;
  bool passwordAsked_ = false;
  bool askScaleWanted_ = false;
  Scaling scaling_ = Scaling::NotAsked;
  QSize fullSize_, askedSize_;
  int askedFactor_ = 1, currentFactor_ = 1;
  QImage reference_;
  Clock::time_point scalingDeadline_;
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

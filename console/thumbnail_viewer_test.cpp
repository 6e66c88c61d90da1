// Thumbnails against real servers: the libvncserver test server in each way
// of answering a scale request, x11vnc on a private Xvfb, servers that
// announce too large a screen, and one that never speaks.

#include <QProcess>
#include <QTcpServer>
#include <QWidget>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "console/thumbnail_viewer.h"
#include "console_fakes.h"
#include "vnc_test_server.h"
#include "xvfb.h"

namespace saalwacht::console {
namespace {

using namespace std::chrono_literals;
using testing::VncTestServer;
using testing::within;
using Answer = VncTestServer::ScaleAnswer;

constexpr std::uint32_t kRed = 0xd02020, kBlue = 0x2040d0, kFrameGrey = 0xd4d0c8;

bool near(QColor c, std::uint32_t rgb, int tolerance) {
  return std::abs(c.red() - static_cast<int>(rgb >> 16 & 0xff)) <= tolerance &&
         std::abs(c.green() - static_cast<int>(rgb >> 8 & 0xff)) <= tolerance &&
         std::abs(c.blue() - static_cast<int>(rgb & 0xff)) <= tolerance;
}

// Every pixel of `frame` in columns [from, to) has the colour; the first that
// has not is described.
std::string columnsOf(const QImage& frame, int from, int to, std::uint32_t rgb, int tolerance) {
  for (int y = 0; y < frame.height(); ++y) {
    for (int x = from; x < to; ++x) {
      const QColor c = frame.pixelColor(x, y);
      if (!near(c, rgb, tolerance)) {
        return "pixel " + std::to_string(x) + "," + std::to_string(y) + " is " + c.name().toStdString();
      }
    }
  }
  return {};
}

// The test server's 640 x 480 screen in a 144 x 104 thumbnail: 138 wide and
// centred, red left, blue right, the grey frame beside it.
std::string showsBothHalves(const QImage& frame) {
  if (frame.size() != QSize(144, 104)) return "no 144 x 104 frame";
  for (const auto& part : {columnsOf(frame, 0, 3, kFrameGrey, 2), columnsOf(frame, 3, 69, kRed, 24),
                           columnsOf(frame, 76, 141, kBlue, 24), columnsOf(frame, 141, 144, kFrameGrey, 2)}) {
    if (!part.empty()) return part;
  }
  return {};
}

bool allBlack(const QImage& frame) {
  for (int y = 0; y < frame.height(); ++y) {
    for (int x = 0; x < frame.width(); ++x) {
      if ((frame.pixel(x, y) & 0xffffff) != 0) return false;
    }
  }
  return true;
}

// A viewer with a record of what it showed.
struct WatchedViewer {
  explicit WatchedViewer(QSize size) {
    viewer.resize(size);
    QObject::connect(&viewer, &ThumbnailViewer::frameShown, [this] {
      if (frames++ == 0) firstSource = viewer.sourceSize();
      if (allBlack(viewer.frame())) ++blackFrames;
    });
    QObject::connect(&viewer, &ThumbnailViewer::ended, [this](bool auth) { ended = auth; });
  }
  bool nextFrame() {
    const int seen = frames;
    return within(10s, [&] { return frames > seen; });
  }
  QWidget parent;
  ThumbnailViewer viewer{1, &parent};
  int frames = 0;
  int blackFrames = 0;
  QSize firstSource;
  std::optional<bool> ended;
};

TEST(ServerSideScaling, TheServerScaledPictureIsCompleteAndFollowsTheScreenAndTheZoom) {
  VncTestServer server("127.0.4.21", 5921, 640, 480, "geheim", kRed, kBlue);
  ASSERT_TRUE(server.running());
  WatchedViewer w({144, 104});
  w.viewer.connectTo("127.0.4.21", 5921, "geheim");
  // 640 x 480 divided by 4 covers 144 x 104. No full-size picture is fetched
  // from a server that scales.
  ASSERT_TRUE(within(10s, [&] { return w.viewer.sourceSize() == QSize(160, 120); })) << w.frames << " frames";
  EXPECT_EQ(w.firstSource, QSize(160, 120));
  EXPECT_EQ(server.scaleRequests(), 1);
  EXPECT_EQ(showsBothHalves(w.viewer.frame()), "");
  // A change on the screen arrives scaled; the rest of the picture stays.
  server.animate(1);
  ASSERT_TRUE(w.nextFrame());
  EXPECT_EQ(w.viewer.sourceSize(), QSize(160, 120));
  const QImage after = w.viewer.frame();
  EXPECT_EQ(columnsOf(after, 3, 69, kRed, 24).empty(), false) << "the box shows in the red half";
  EXPECT_EQ(columnsOf(after.copy(0, 50, 144, 54), 3, 69, kRed, 24), "");
  EXPECT_EQ(columnsOf(after, 76, 141, kBlue, 24), "");
  // A smaller zoom, on the shown viewer: the server is asked for the factor
  // that fits it, 8.
  w.parent.show();
  w.viewer.show();
  w.viewer.resize(72, 52);
  ASSERT_TRUE(within(10s, [&] { return w.viewer.sourceSize() == QSize(80, 60) && w.viewer.frame().width() == 72; }));
  EXPECT_EQ(columnsOf(w.viewer.frame().copy(0, 25, 72, 27), 2, 33, kRed, 24), "") << "below the box";
  EXPECT_EQ(columnsOf(w.viewer.frame(), 38, 69, kBlue, 24), "");
  EXPECT_EQ(w.blackFrames, 0);
  w.viewer.disconnectFromServer();
  ASSERT_TRUE(within(5s, [&] { return w.ended.has_value(); }));
  EXPECT_FALSE(*w.ended);
}

// x11vnc as the demo runs it on every student PC, on a private Xvfb whose
// root window has one colour. The pointer is left out of the picture: it is
// not what this is about.
class X11vncDesktop {
 public:
  bool start(const std::string& address, int port, const std::string& password, QString* error) {
    if (!xvfb_.start(1440, 1040)) {
      *error = QString::fromStdString(xvfb_.message());
      return false;
    }
    if (!setColour("#3060c0", error)) return false;
    x11vnc_.setProcessChannelMode(QProcess::MergedChannels);
    x11vnc_.start("x11vnc", {"-display", QString::fromStdString(xvfb_.name()), "-listen",
                             QString::fromStdString(address), "-rfbport", QString::number(port), "-noipv6",
                             "-passwd", QString::fromStdString(password), "-forever", "-shared", "-noxdamage",
                             "-nowf", "-nowcr", "-nocursor"});
    if (!x11vnc_.waitForStarted(10000)) {
      *error = "x11vnc does not start (package x11vnc): " + x11vnc_.errorString();
      return false;
    }
    // x11vnc says its port once it listens.
    const QByteArray ready = "PORT=" + QByteArray::number(port);
    QByteArray output;
    while (!output.contains(ready)) {
      if (!x11vnc_.waitForReadyRead(30000)) {
        *error = "x11vnc did not come up: " + QString::fromLocal8Bit(output.right(2000));
        return false;
      }
      output += x11vnc_.readAll();
    }
    return true;
  }
  bool setColour(const QString& colour, QString* error) {
    QProcess xsetroot;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", QString::fromStdString(xvfb_.name()));
    xsetroot.setProcessEnvironment(environment);
    xsetroot.start("xsetroot", {"-solid", colour});
    if (!xsetroot.waitForFinished(10000) || xsetroot.exitCode() != 0) {
      *error = "xsetroot failed (package x11-xserver-utils)";
      return false;
    }
    return true;
  }
  ~X11vncDesktop() {
    if (x11vnc_.state() != QProcess::NotRunning) {
      x11vnc_.terminate();
      if (!x11vnc_.waitForFinished(5000)) {
        x11vnc_.kill();
        x11vnc_.waitForFinished(5000);
      }
    }
  }

 private:
  testing::XvfbDisplay xvfb_;
  QProcess x11vnc_;
};

TEST(ServerSideScaling, AStaticX11vncDesktopShowsItsColourOverTheWholeThumbnail) {
  X11vncDesktop desktop;
  QString error;
  ASSERT_TRUE(desktop.start("127.0.4.22", 5922, "geheim", &error)) << error.toStdString();
  WatchedViewer w({144, 104});
  w.viewer.connectTo("127.0.4.22", 5922, "geheim");
  // 1440 x 1040 divided by 10 is the thumbnail itself.
  ASSERT_TRUE(within(20s, [&] { return w.viewer.sourceSize() == QSize(144, 104); })) << w.frames << " frames";
  EXPECT_EQ(w.firstSource, QSize(144, 104));
  EXPECT_EQ(columnsOf(w.viewer.frame(), 0, 144, 0x3060c0, 4), "");
  // The desktop changes while the server scales: the whole thumbnail follows.
  ASSERT_TRUE(desktop.setColour("#c06030", &error)) << error.toStdString();
  EXPECT_TRUE(within(20s, [&] { return columnsOf(w.viewer.frame(), 0, 144, 0xc06030, 4).empty(); }))
      << columnsOf(w.viewer.frame(), 0, 144, 0xc06030, 4);
  EXPECT_EQ(w.viewer.sourceSize(), QSize(144, 104));
  EXPECT_EQ(w.blackFrames, 0);
}

TEST(ServerSideScaling, AServerThatDoesNotScaleWellIsScaledHere) {
  const struct {
    Answer answer;
    const char* address;
    int requests;  // scale requests the server gets
  } cases[] = {{Answer::NotOffered, "127.0.4.23", 0}, {Answer::Ignore, "127.0.4.24", 1}, {Answer::Black, "127.0.4.25", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    VncTestServer server(c.address, 5923, 640, 480, "geheim", kRed, kBlue);
    ASSERT_TRUE(server.running());
    server.setScaleAnswer(c.answer);
    WatchedViewer w({144, 104});
    w.viewer.connectTo(c.address, 5923, "geheim");
    ASSERT_TRUE(w.nextFrame());
    // The server has had its chance: an answer of black makes the viewer
    // start over, scaling on its side.
    ASSERT_TRUE(within(10s, [&] { return server.scaleRequests() == c.requests; })) << server.scaleRequests();
    if (c.answer == Answer::Black) {
      ASSERT_TRUE(within(10s, [&] { return server.connections() == 2; }));
    }
    // Frames go on, made from the full screen.
    server.animate(1);
    ASSERT_TRUE(w.nextFrame());
    EXPECT_EQ(w.viewer.sourceSize(), QSize(640, 480));
    EXPECT_EQ(columnsOf(w.viewer.frame().copy(0, 50, 144, 54), 3, 69, kRed, 24), "");
    EXPECT_EQ(columnsOf(w.viewer.frame(), 76, 141, kBlue, 24), "");
    EXPECT_EQ(w.blackFrames, 0);
    EXPECT_TRUE(w.viewer.connectionUp());
    // A server whose scaling failed is not asked again by this viewer.
    w.viewer.disconnectFromServer();
    ASSERT_TRUE(within(5s, [&] { return !w.viewer.connectionUp(); }));
    w.viewer.connectTo(c.address, 5923, "geheim");
    ASSERT_TRUE(w.nextFrame());
    server.animate(2);
    ASSERT_TRUE(w.nextFrame());
    EXPECT_EQ(server.scaleRequests(), c.requests);
  }
}

TEST(ThumbnailFramebuffer, AScreenBeyondTheBoundEndsTheThumbnailLikeARefusal) {
  const struct {
    int width, height;
    int resizeTo[2];  // a screen that grows once connected, {0, 0}: stays
    bool shown;
  } cases[] = {
      {kMaxFramebufferSide, 16, {0, 0}, true},
      {kMaxFramebufferSide + 1, 16, {0, 0}, false},
      {16, kMaxFramebufferSide + 1, {0, 0}, false},
      {320, 240, {kMaxFramebufferSide + 800, 16}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    VncTestServer server("127.0.4.26", 5924, c.width, c.height, "geheim");
    ASSERT_TRUE(server.running());
    WatchedViewer w({72, 52});
    // The growing screen is seen at its real size only without scaling.
    w.viewer.setServerSideScaling(false);
    w.viewer.connectTo("127.0.4.26", 5924, "geheim");
    if (c.resizeTo[0] > 0) {
      ASSERT_TRUE(w.nextFrame());
      server.resize(c.resizeTo[0], c.resizeTo[1]);
    }
    if (c.shown) {
      ASSERT_TRUE(w.nextFrame());
      EXPECT_TRUE(w.viewer.connectionUp());
      EXPECT_EQ(w.viewer.sourceSize(), QSize(c.width, c.height));
      continue;
    }
    ASSERT_TRUE(within(10s, [&] { return w.ended.has_value(); }));
    EXPECT_FALSE(*w.ended) << "a refusal, not a wrong password";
    EXPECT_FALSE(w.viewer.connectionUp());
    EXPECT_EQ(w.frames, c.resizeTo[0] > 0 ? 1 : 0);
  }
}

TEST(ThumbnailWorkers, AServerThatNeverSpeaksDoesNotHoldTheEnd) {
  ASSERT_TRUE(waitForThumbnailWorkers(10s)) << "workers of earlier tests still run";
  // Accepts connections (the kernel does) and never says a word: the
  // worker waits in the handshake, where its read time-out is 10 s.
  QTcpServer silent;
  ASSERT_TRUE(silent.listen(QHostAddress("127.0.4.27"), 5925));
  {
    WatchedViewer w({72, 52});
    w.viewer.connectTo("127.0.4.27", 5925, "geheim");
    ASSERT_TRUE(silent.waitForNewConnection(10000));
    EXPECT_FALSE(waitForThumbnailWorkers(300ms)) << "the worker waits for the server";
  }
  // The viewer is gone: its worker is woken and ends well before that read
  // would time out.
  EXPECT_TRUE(waitForThumbnailWorkers(5s));
}

}  // namespace
}  // namespace saalwacht::console

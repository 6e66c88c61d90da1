#pragma once
// Stand-ins for the console's services, and waiting with the Qt event loop
// running, for the console's tests and benchmarks.

#include <QApplication>
#include <QElapsedTimer>
#include <QPrinter>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "console/message_display.h"
#include "platform/echo.h"

namespace saalwacht::testing {

// Records what the console shows and answers its file and print dialogs.
struct RecordingMessages : console::MessageDisplay {
  struct Shown {
    QString caption, text;
  };
  void show(QWidget*, const QString& caption, const QString& text, Kind) override {
    if (echoToStderr) std::fprintf(stderr, "console says: %s\n", text.toStdString().c_str());
    shown.push_back({caption, text});
  }
  QString askSaveFileName(QWidget*, const QString& proposed, const QString&) override {
    proposedFile = proposed;
    return saveAs;
  }
  QString askOpenFileName(QWidget*, const QString&) override { return openFile; }
  bool choosePrinter(QWidget*, QPrinter& printer) override {
    if (printTo.isEmpty()) return false;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(printTo);
    // As a teacher who turns the page in the print dialog.
    if (printLandscape) printer.setPageOrientation(QPageLayout::Landscape);
    return true;
  }
  std::vector<Shown> shown;
  QString saveAs, proposedFile, printTo, openFile;
  bool echoToStderr = false;
  bool printLandscape = false;
};

// The PCs whose names the test lists answer (or all of them), after `delay`:
// a real answering PC takes about 400 ms.
struct FakeEcho : platform::EchoTest {
  int averageRoundTripMs(const std::string& name) override {
    std::this_thread::sleep_for(delay);
    std::lock_guard lock(mutex);
    return everyone || answering.count(name) ? 0 : -1;
  }
  std::string missingPermission() override {
    std::lock_guard lock(mutex);
    return problem;
  }
  void set(const std::string& name, bool on) {
    std::lock_guard lock(mutex);
    if (on) answering.insert(name);
    else answering.erase(name);
  }
  std::mutex mutex;
  std::set<std::string> answering;
  bool everyone = false;
  std::chrono::milliseconds delay{0};
  std::string problem;
};

// A student PC's command service as the console meets it, on ADDRESS:4000
// (window thread): an open one, which answers the greeting with "52" (or,
// with `plainOnly`, one that never heard of it and ignores it); records the
// bytes of every connection after the greeting once the console has closed
// it, and answers "40" with `picture` (its size, then on "41" the bytes)
// unless `silentScreenshots` is set.
class FakeService {
 public:
  explicit FakeService(const QString& address, QByteArray picture = {}) : picture_(std::move(picture)) {
    listening_ = server_.listen(QHostAddress(address), 4000);
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        auto bytes = std::make_shared<QByteArray>();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, bytes] {
          QByteArray data = socket->readAll();
          if (bytes->isEmpty() && data.startsWith("501")) {
            ++greetings;
            if (!plainOnly) socket->write("52");
            data.remove(0, 3);
            if (data.isEmpty()) return;
          }
          bytes->append(data);
          if (data.startsWith("40") && bytes->size() == data.size()) {
            ++screenshotRequests;
            if (!silentScreenshots) socket->write(sizeAnswer.isEmpty() ? QByteArray::number(picture_.size()) : sizeAnswer);
          } else if (data.startsWith("41")) {
            socket->write(picture_);
          } else if (data.startsWith("42")) {
            socket->disconnectFromHost();
          }
        });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket, bytes] {
          received.push_back(*bytes);
          socket->deleteLater();
        });
      }
    });
  }
  bool listening() const { return listening_; }
  // The command code of each connection, in the order they ended.
  std::vector<QByteArray> commands() const {
    std::vector<QByteArray> codes;
    for (const auto& bytes : received) codes.push_back(bytes.left(2));
    return codes;
  }

  std::vector<QByteArray> received;
  int screenshotRequests = 0;
  int greetings = 0;
  bool silentScreenshots = false;
  bool plainOnly = false;
  QByteArray sizeAnswer;  // sent instead of the picture's size, when set

 private:
  QTcpServer server_;
  QByteArray picture_;
  bool listening_ = false;
};

// Keeps the event loop running until `condition` holds or `limit` passes.
template <typename Condition>
bool within(std::chrono::milliseconds limit, Condition condition) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > limit.count()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace saalwacht::testing

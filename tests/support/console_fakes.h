#pragma once
// Stand-ins for the console's services, and waiting with the Qt event loop
// running, for the console's tests and benchmarks.

#include <QApplication>
#include <QElapsedTimer>
#include <QPrinter>
#include <QString>

#include <chrono>
#include <cstdio>
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
    return true;
  }
  std::vector<Shown> shown;
  QString saveAs, proposedFile, printTo, openFile;
  bool echoToStderr = false;
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

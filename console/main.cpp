// saalwacht: the teacher console.

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <exception>
#include <memory>

#include "console/console.h"
#include "console/core/console_home.h"
#include "console/message_display.h"
#include "platform/echo.h"
#include "platform/launcher.h"
#include "platform/processes.h"
#include "platform/quit_signal.h"
#include "platform/system.h"

using namespace saalwacht;

namespace {

// Says why the start failed; a request to end (SIGTERM) closes the box too.
int fail(const QString& text, int quitRequests) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Saalwacht"), text, QMessageBox::Ok);
  std::unique_ptr<QSocketNotifier> quit;
  if (quitRequests >= 0) {
    quit = std::make_unique<QSocketNotifier>(quitRequests, QSocketNotifier::Read);
    QObject::connect(quit.get(), &QSocketNotifier::activated, &box, [&box, quitRequests] {
      platform::drainQuitRequests(quitRequests);
      box.reject();
    });
  }
  box.exec();
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Before Qt starts any thread, so the signals reach only our pipe.
  const int quitRequests = platform::quitRequestDescriptor();

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Saalwacht"));
  QApplication::setApplicationDisplayName(QStringLiteral("Saalwacht"));
  QApplication::setApplicationVersion(QStringLiteral(SAALWACHT_VERSION));
  QApplication::setQuitOnLastWindowClosed(false);

  try {
    const auto programFolder = platform::executableDir();
    const auto home = console::chooseConsoleHome({programFolder, platform::environmentValue("SAALWACHT_HOME"),
                                                  platform::environmentValue("XDG_CONFIG_HOME"),
                                                  platform::environmentValue("HOME")});
    if (auto error = console::prepareConsoleHome(home, programFolder)) {
      return fail(QString::fromStdString(*error), quitRequests);
    }

    auto launcher = platform::createProgramLauncher();
    auto processes = platform::createProcessControl();
    auto echo = platform::createEchoTest();
    console::MessageBoxDisplay messages;
    console::Console teacherConsole({QCoreApplication::applicationFilePath().toStdString(), programFolder, home},
                                    {*launcher, *processes, *echo, messages});

    std::unique_ptr<QSocketNotifier> quitNotifier;
    if (quitRequests >= 0) {
      quitNotifier = std::make_unique<QSocketNotifier>(quitRequests, QSocketNotifier::Read);
      QObject::connect(quitNotifier.get(), &QSocketNotifier::activated, &teacherConsole, [&] {
        platform::drainQuitRequests(quitRequests);
        teacherConsole.requestClose();
      });
    }

    if (auto error = teacherConsole.start()) {
      quitNotifier.reset();
      return fail(*error, quitRequests);
    }
    // A request to end may arrive while the first-start prompt is open; the
    // close sequence then runs without the main window and ends the loop.
    if (!teacherConsole.closing()) teacherConsole.showMainWindow();
    return QApplication::exec();
  } catch (const std::exception& error) {
    return fail(QString::fromUtf8(error.what()), quitRequests);
  }
}

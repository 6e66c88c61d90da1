// Shows the real console windows with seats put into chosen states, for
// screenshots of the documentation: console_showcase SEAT=STATE[,on] ...
// (STATE: normal, dark, teacher, green, red; ",on" draws the PC as answering).
// The console's folder comes from SAALWACHT_HOME as usual.

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <string>

#include "console/console.h"
#include "console/core/console_home.h"
#include "console/message_display.h"
#include "platform/echo.h"
#include "platform/launcher.h"
#include "platform/processes.h"
#include "platform/system.h"

using namespace saalwacht;

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const auto programFolder = platform::executableDir();
  const auto home = console::chooseConsoleHome({programFolder, platform::environmentValue("SAALWACHT_HOME"),
                                                platform::environmentValue("XDG_CONFIG_HOME"),
                                                platform::environmentValue("HOME")});
  if (auto error = console::prepareConsoleHome(home, programFolder)) {
    std::fprintf(stderr, "%s\n", error->c_str());
    return 1;
  }
  auto launcher = platform::createProgramLauncher();
  auto processes = platform::createProcessControl();
  // The showcase draws the states it is given; no echo test may change them.
  struct NoEcho : platform::EchoTest {
    int averageRoundTripMs(const std::string&) override { return -1; }
    std::string missingPermission() override { return {}; }
  } echo;
  console::MessageBoxDisplay messages;
  console::Console teacherConsole({QCoreApplication::applicationFilePath().toStdString(), programFolder, home},
                                  {*launcher, *processes, echo, messages});
  if (auto error = teacherConsole.start()) {
    std::fprintf(stderr, "%s\n", error->toStdString().c_str());
    return 1;
  }
  teacherConsole.monitor().stop();
  const std::pair<const char*, console::SeatState> states[] = {
      {"normal", console::SeatState::Normal}, {"dark", console::SeatState::Dark},
      {"teacher", console::SeatState::Teacher}, {"green", console::SeatState::Green},
      {"red", console::SeatState::Red}};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto eq = arg.find('=');
    if (eq == std::string::npos) continue;
    const int seat = std::stoi(arg.substr(0, eq));
    std::string state = arg.substr(eq + 1);
    const bool on = state.size() > 3 && state.compare(state.size() - 3, 3, ",on") == 0;
    if (on) state.resize(state.size() - 3);
    if (seat < 1 || seat > console::kSeatCount) continue;
    for (const auto& [name, value] : states) {
      if (state == name) teacherConsole.mainWindow().seatButton(seat)->setState(value);
    }
    teacherConsole.mainWindow().seatButton(seat)->setEnabled(on);
  }
  teacherConsole.showMainWindow();
  return QApplication::exec();
}

#include "console/classroom/program_starter.h"

#include "console/message_display.h"
#include "platform/launcher.h"

namespace saalwacht::console {

bool ProgramStarter::start(const QString& program, const QString& parameters, QWidget* parent) {
  const int result = launcher_.open(program.toStdString(), parameters.toStdString());
  const std::string text = platform::launchFailureText(result);
  if (text.empty()) return true;
  messages_.show(parent ? parent : &window_, QStringLiteral("Fehler"), QString::fromStdString(text),
                 MessageDisplay::Kind::Warning);
  return false;
}

}  // namespace saalwacht::console

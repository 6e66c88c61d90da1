#pragma once
// Starts an outside program (VNC programs, internet release and lock, help
// page, web link) through the platform's launcher. A program that cannot be
// started is reported to the teacher in a message box "Fehler"; the caller
// goes on as if it had started. Window thread only.

#include <QString>

class QWidget;

namespace saalwacht::platform {
class ProgramLauncher;
}

namespace saalwacht::console {

class MessageDisplay;

class ProgramStarter {
 public:
  // Failures are shown over `window` unless a caller names another parent.
  ProgramStarter(platform::ProgramLauncher& launcher, MessageDisplay& messages, QWidget& window)
      : launcher_(launcher), messages_(messages), window_(window) {}

  // True when the program was started. The message box is modal: when it
  // returns, the world may have changed.
  bool start(const QString& program, const QString& parameters, QWidget* parent = nullptr);

 private:
  platform::ProgramLauncher& launcher_;
  MessageDisplay& messages_;
  QWidget& window_;
};

}  // namespace saalwacht::console

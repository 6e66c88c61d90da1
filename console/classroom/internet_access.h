#pragma once
// Internet release and lock for the room: "Internet freigeben" starts the
// configured release program, "Internet sperren" ends it (or runs the lock
// program); a poll every 10 s shows the button that fits the process list
// while the settings show the buttons. Once the console closes, only locking
// is done. Window thread only.

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

#include "console/core/configuration.h"

class QAbstractButton;

namespace saalwacht::platform {
class ProcessControl;
}

namespace saalwacht::console {

class ActionLock;
class ProgramStarter;

class InternetAccess : public QObject {
  Q_OBJECT
 public:
  struct Buttons {
    QAbstractButton* release;        // Internetfreigebenbutton
    QAbstractButton* lock;           // Internetsperrenbutton
    std::function<bool()> shown;     // the settings show them ("anzeigen")
  };
  InternetAccess(Buttons buttons, ProgramStarter& starter, platform::ProcessControl& processes, ActionLock& lock,
                 QObject* parent = nullptr);

  void configure(const InternetCommands& commands) { commands_ = commands; }
  // The buttons at start-up: the release button as the setting says, the lock button hidden.
  void showAtStart(bool shown);

  void release();  // "Internet freigeben"
  void lock();     // "Internet sperren"
  // Shows the button that fits the process list.
  void check();
  void hideButtons();
  void stopPolling() { poll_.stop(); }

 private:
  QString processName() const;

  Buttons buttons_;
  ProgramStarter& starter_;
  platform::ProcessControl& processes_;
  ActionLock& actionLock_;
  InternetCommands commands_;
  QTimer poll_;
};

}  // namespace saalwacht::console

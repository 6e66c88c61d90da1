#pragma once
// The whole-class buttons — "Alle zurücksetzen", "Alle dunkelschalten",
// "Lehrermonitor an Alle", "Nachricht an Alle", "Alle herunterfahren" — and
// the close sequence, which returns the class to normal before the console
// ends: internet locked, no teacher server, "Reset" to every reachable PC.
//
// The close sequence runs as steps on the event loop; from its first step the
// console refuses every action, so nothing clicked meanwhile undoes it.
// Window thread only.

#include <QObject>
#include <functional>
#include <vector>

#include "console/classroom/waiter.h"

class QWidget;

namespace saalwacht::console {

class ActionLock;
class CommandLink;
class InternetAccess;
class Messaging;
class ScreenSharing;
class Screenshots;
class SeatWalk;
class Seats;
class ShutdownAllDialog;
class Thumbnails;

class WholeClass : public QObject {
  Q_OBJECT
 public:
  struct Parts {
    Seats& seats;
    ActionLock& lock;
    CommandLink& link;
    Thumbnails& thumbnails;
    ScreenSharing& sharing;
    SeatWalk& walk;
    InternetAccess& internet;
    Screenshots& screenshots;
    Messaging& messaging;
    ShutdownAllDialog& shutdownDialog;
    QWidget& exitWait;
    std::vector<QWidget*> dialogs;  // hidden when the console closes
  };
  explicit WholeClass(Parts parts, QObject* parent = nullptr);

  void resetAll();
  void blankAll();
  void teacherToAll();
  void messageToAll();
  void askShutdownAll();
  // "JA" of the shutdown question for all seats.
  void confirmShutdownAll();

  // Runs the close sequence once; `finished` follows its last step (at most
  // 15 s for the resets to be delivered, then 1 s).
  void close(std::function<void()> finished);

 private:
  Parts p_;
  Waiter deliveries_{this};  // Programmabbruch: at most 15 s for the resets
  Waiter lastPause_{this};   // Warte: 1 s
};

}  // namespace saalwacht::console

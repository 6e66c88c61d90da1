#pragma once
// The eight actions on one seat, from the action list and a left click, or
// from the seat menu: dispatch and its guards, the two toggles (teacher
// screen, blank), and the shutdown of one seat. The VNC steps are screen
// sharing's, the message and screenshot ones their capabilities'.
// Window thread only.

#include <QObject>
#include <QString>
#include <functional>

namespace saalwacht::console {

class ActionLock;
class CommandLink;
class MainWindow;
class MessageDisplay;
class Messaging;
class ScreenSharing;
class Screenshots;
class Seats;
class ShutdownSeatDialog;
class Thumbnails;

class SeatActions : public QObject {
  Q_OBJECT
 public:
  struct Parts {
    MainWindow& window;
    ShutdownSeatDialog& shutdownDialog;
    MessageDisplay& messages;
    Seats& seats;
    ActionLock& lock;
    CommandLink& link;
    Thumbnails& thumbnails;
    ScreenSharing& sharing;
    Messaging& messaging;
    Screenshots& screenshots;
  };
  // `preset`: the picture-size preset (1..3) the settings have checked.
  SeatActions(Parts parts, std::function<int()> preset, const QString& refusal, QObject* parent = nullptr);

  // A left click with the action chosen in the action list.
  void clicked(int seat);
  // An item of the seat menu (0..7) for `seat`.
  void menuAction(int seat, int action);
  // Before the seat menu opens on `seat`; false when it must stay shut.
  bool menuOpening(int seat);
  // "JA" of the shutdown question for one seat.
  void confirmShutdown();

  void setRefusal(const QString& text) { refusal_ = text; }

 private:
  void run(int seat, int action);
  void refuse();

  Parts p_;
  std::function<int()> preset_;
  QString refusal_;
};

}  // namespace saalwacht::console

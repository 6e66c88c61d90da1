#pragma once
// Screen sharing through the configured VNC programs: the viewer on the
// teacher PC (to watch or to control a student screen), the teacher's VNC
// server with its mark, the teacher-screen command that has the server
// connect out to a student PC, the hand-over wait between seats, and the two
// loops that hand the teacher's server to every reachable seat in turn
// ("Schülermonitor an Alle und fernsteuern", "Lehrermonitor an Alle").
//
// The server is a small state machine: off, launched (its process is awaited),
// settling (the 500 ms pause), on (the mark), or abandoned (stopped while it
// was starting: it is ended the moment its process shows up). Every wait is a
// step on the event loop; the step after it looks again at its seat and at the
// console. Window thread only.

#include <QObject>
#include <QPointer>
#include <QString>
#include <chrono>
#include <functional>
#include <vector>

#include "console/classroom/waiter.h"
#include "console/core/configuration.h"

namespace saalwacht::platform {
class ProcessControl;
}

namespace saalwacht::console {

class ActionLock;
class MainWindow;
class MessageDisplay;
class ProgramStarter;
class Seats;
class Thumbnails;

class ScreenSharing : public QObject {
  Q_OBJECT
 public:
  struct Parts {
    ProgramStarter& starter;
    platform::ProcessControl& processes;
    MessageDisplay& messages;
    MainWindow& window;
    Seats& seats;
    Thumbnails& thumbnails;
    ActionLock& lock;
  };
  // `bound`: the longest wait for the server to appear or for a hand-over to end.
  ScreenSharing(Parts parts, std::chrono::milliseconds bound, QObject* parent = nullptr);

  // The [Befehle] texts, and the password option of the viewer parameters
  // (" -password " and the password, appended at start-up and at each change).
  void configure(const CommandTexts& commands, const QString& password);
  void addPasswordOption(const QString& password);
  const QString& viewParameters() const { return viewParameters_; }
  const QString& controlParameters() const { return controlParameters_; }

  // The viewer, to watch with the scaling of preset 1..3, or to control.
  void view(const QString& name, int preset);
  void control(const QString& name);
  // The teacher-screen command for one PC (the server is not started here).
  void sendTeacherScreen(const QString& name);

  // Action 3 on a normal seat: the seat shows the teacher screen at once; the
  // server starts if its mark is not set, and then the seat gets the command,
  // if it still waits for it. A start that fails or is stopped first puts the
  // seat back to normal, as nothing was sent.
  void teacherScreenToSeat(int seat);

  // "Schülermonitor an Alle und fernsteuern" from `source`, and "Lehrermonitor
  // an Alle": the lock is engaged (and stays so) and "Alle zurücksetzen"
  // waits for the loop's end. Refused while a loop runs.
  void studentScreenToAll(int source);
  void teacherScreenToAll();
  bool loopRunning() const { return loop_.running; }
  // Ends a loop where it stands (the close sequence).
  void cancelLoop();

  enum class Server { Up, Failed, Stopped };
  // Makes sure the server runs, then calls `then` on a later turn of the
  // loop: Up; Failed when it did not appear in time (the teacher is told);
  // Stopped when a stop came first. `then` is dropped with `context`.
  void ensureServer(QObject* context, std::function<void(Server)> then);
  // Ends the first server process, if one runs, and clears the mark; a start
  // under way is abandoned and its server ended once it shows up.
  void stopServer();
  bool serverMarked() const { return phase_ == Phase::On; }
  // Neither a start is under way nor an abandoned one can still show up.
  bool serverSettled() const { return phase_ == Phase::Off || phase_ == Phase::On; }

  // The hand-over wait on the caller's `waiter`: until at most one process of
  // the server's name runs, then the configured pause; `then` follows.
  void handOver(Waiter& waiter, std::function<void()> then);

 private:
  enum class Phase { Off, Launched, Settling, On, Abandoned };
  struct Loop {
    bool running = false;
    unsigned generation = 0;
    int next = 1;
    QString skip;
    SeatState reached = SeatState::Teacher;
    bool thumbnails = false;  // the flag as it was before the loop
  };

  QString serverName() const;
  int serverProcesses() const;
  void launchServer();
  void serverAppeared(bool appeared);
  void notify(Server result);
  void startLoop(const QString& skip, SeatState reached);
  void loopStep(unsigned generation);
  void loopAt(unsigned generation, int seat, Server server);
  void endLoop();
  void restoreToggledButtons();

  Parts p_;
  std::chrono::milliseconds bound_;
  CommandTexts commands_;
  QString viewParameters_;
  QString controlParameters_;

  Phase phase_ = Phase::Off;
  Waiter serverWait_{this};
  std::vector<std::pair<QPointer<QObject>, std::function<void(Server)>>> waiting_;

  Loop loop_;
  Waiter loopWait_{this};
};

}  // namespace saalwacht::console

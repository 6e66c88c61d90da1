#pragma once
// The seat walk: one reachability check at a time (reachability_monitor.h)
// over the named seats, in seat order, without end. Each result enables or
// disables its seat; a PC that answers again while its seat is blanked gets
// "Dunkelschalten" again, and one whose seat shows the teacher screen gets the
// teacher screen again (a step that waits for the hand-over); a reachable
// normal seat gets its thumbnail connected while thumbnails are shown.
//
// Each start begins a new walk; a result or a step of an older walk changes
// nothing, so a stop (editing, closing) ends the walk where it stands and one
// walk at most is ever alive. Window thread only.

#include <QObject>
#include <QString>

#include "console/classroom/reachability_monitor.h"
#include "console/classroom/waiter.h"

namespace saalwacht::platform {
class EchoTest;
}

namespace saalwacht::console {

class CommandLink;
class ScreenSharing;
class Seats;
class Thumbnails;

class SeatWalk : public QObject {
  Q_OBJECT
 public:
  SeatWalk(platform::EchoTest& echo, Seats& seats, Thumbnails& thumbnails, CommandLink& link, ScreenSharing& sharing,
           QObject* parent = nullptr);

  // Starts from the cursor as it stands, at the first named seat from there
  // on (the start-up routine and a cancelled edit); an empty plan leaves the
  // walk idle.
  void start();
  // Starts at the lowest-numbered named seat (a saved edit).
  void startAtFirstSeat();
  void stop();

  bool monitoring() const { return monitoring_; }
  int cursor() const { return cursor_; }
  // The computer name at the cursor; empty while no seat has a name.
  const QString& currentName() const { return currentName_; }
  ReachabilityMonitor& monitor() { return monitor_; }

 private:
  void checked(bool reachable);
  void finishVisit(unsigned walk, int seat, bool reachable);

  Seats& seats_;
  Thumbnails& thumbnails_;
  CommandLink& link_;
  ScreenSharing& sharing_;
  ReachabilityMonitor monitor_;
  Waiter handOver_{this};
  int cursor_ = 1;
  bool monitoring_ = true;
  unsigned walk_ = 0;
  QString currentName_;
};

}  // namespace saalwacht::console

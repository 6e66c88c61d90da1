#pragma once
// What keeps the teacher's clicks away from actions that would interfere:
// - the action lock: engaged by the whole-class actions and "Schülermonitor an
//   Alle", released by "Alle zurücksetzen" (and a toggle that leaves every
//   seat normal); it disables the whole-class buttons but "Alle
//   zurücksetzen", the action list and the seat menu, and seat clicks;
// - a whole-class loop under way (its waits let the loop serve input):
//   "Alle zurücksetzen" is disabled for its length, and room plan editing
//   waits for its end;
// - the close sequence: from its start every action is refused.
// Window thread only.

#include <QObject>

namespace saalwacht::console {

class MainWindow;

class ActionLock : public QObject {
  Q_OBJECT
 public:
  explicit ActionLock(MainWindow& window, QObject* parent = nullptr);

  void engage();
  void release();
  bool engaged() const { return engaged_; }
  // Seat cursors as the lock says: the not-allowed cursor while it is
  // engaged, except while the plan is edited (seats are dragged then).
  void showCursors();

  // A whole-class loop begins or ends; sequenceEnded() follows its end.
  void beginSequence();
  void endSequence();
  bool sequenceRunning() const { return sequence_; }

  void beginClosing() { closing_ = true; }
  bool closing() const { return closing_; }
  // A new action may start: not closing and no loop under way.
  bool free() const { return !closing_ && !sequence_; }

 signals:
  void sequenceEnded();

 private:
  MainWindow& window_;
  bool engaged_ = false;
  bool sequence_ = false;
  bool closing_ = false;
};

}  // namespace saalwacht::console

#pragma once
// Room plan editing: the seats laid out from [Raum], and the edit mode in
// which the teacher drags seats in 8-pixel steps, adds, names, renames and
// deletes them, and then saves the plan to the configuration file or cancels.
// While editing, the seat walk is stopped and seat clicks drag. Editing asked
// for while a whole-class loop runs begins when the loop has ended, so the
// loop never meets seats that editing has enabled. Window thread only.

#include <QObject>
#include <QPoint>
#include <filesystem>
#include <functional>

#include "console/core/configuration.h"

namespace saalwacht::console {

class ActionLock;
class MainWindow;
class MessageDisplay;
class RemotePassword;
class SeatNameDialog;
class SeatWalk;
class Seats;
class Thumbnails;

class RoomPlanEditing : public QObject {
  Q_OBJECT
 public:
  struct Parts {
    MainWindow& window;
    SeatNameDialog& nameDialog;
    MessageDisplay& messages;
    Seats& seats;
    ActionLock& lock;
    Thumbnails& thumbnails;
    SeatWalk& walk;
    RemotePassword& password;
    std::filesystem::path configuration;  // saalwacht.ini
    std::function<bool()> backgroundSet;  // a background picture is chosen (no grid then)
  };
  explicit RoomPlanEditing(Parts parts, QObject* parent = nullptr);

  // Names, places and visibility of the seats from `plan`; every seat
  // disabled until its PC answers; states stay as they are.
  void layOut(const RoomPlan& plan);
  // The plan as last read or saved.
  const RoomPlan& plan() const { return plan_; }

  bool editing() const;
  // Menu "Raumplan".
  void begin();
  // "Neuer Rechner": the lowest-numbered seat not in the plan, at 320, 10, and the name dialog.
  void addSeat();
  // The edit menu on `seat`: which items fit its name.
  void menuOpening(int seat);
  int menuSeat() const { return menuSeat_; }
  void deleteSeat(int seat);    // "Rechner löschen"
  void enterName();             // "Rechnername eintragen"
  void changeName();            // "Rechnername ändern"
  void nameChosen();            // "OK" of the name dialog
  // "Speichern": writes [Raum] and the picture store and starts the walk at
  // the first seat. A plan that cannot be written is reported and the edit
  // goes on, so nothing is lost.
  void save();
  // "Abbrechen": [Raum] again, the walk goes on from its cursor. A [Raum]
  // that cannot be read is reported and the plan as last read stays.
  void cancel();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void leaveEditMode();
  void openNameDialog(const QString& name);

  Parts p_;
  RoomPlan plan_;
  int menuSeat_ = 0;  // the seat the edit menu was last opened on
  bool dragging_ = false;
  QPoint grab_;
  bool beginWhenFree_ = false;
};

}  // namespace saalwacht::console

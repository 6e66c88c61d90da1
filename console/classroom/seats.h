#pragma once
// The 48 seats as the classroom capabilities see them: name, state and
// reachability of each, kept and shown by its seat button. Window thread only.

#include <QString>
#include <optional>

#include "console/seat_plan.h"

namespace saalwacht::console {

class MainWindow;

class Seats {
 public:
  explicit Seats(MainWindow& window) : window_(window) {}

  // The computer name; empty when the seat is not in use.
  QString name(int seat) const;
  SeatState state(int seat) const;
  // Picture and hint together.
  void setState(int seat, SeatState state);
  // The PC answered the last check (the seat button is enabled).
  bool reachable(int seat) const;
  void setReachable(int seat, bool reachable);

  SeatNames names() const;
  // The lowest-numbered seat of that exact name.
  std::optional<int> lookup(const QString& name) const;
  // Every reachable seat is normal.
  bool allNormal() const;
  // Some seat, reachable or not, is in `state`.
  bool any(SeatState state) const;

 private:
  MainWindow& window_;
};

}  // namespace saalwacht::console

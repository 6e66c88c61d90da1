#include "console/classroom/seats.h"

#include "console/windows/main_window.h"

namespace saalwacht::console {

QString Seats::name(int seat) const { return window_.seatButton(seat)->computerName(); }
SeatState Seats::state(int seat) const { return window_.seatButton(seat)->state(); }
void Seats::setState(int seat, SeatState state) { window_.seatButton(seat)->setState(state); }
bool Seats::reachable(int seat) const { return window_.seatButton(seat)->isEnabled(); }
void Seats::setReachable(int seat, bool reachable) { window_.seatButton(seat)->setEnabled(reachable); }

SeatNames Seats::names() const {
  SeatNames names;
  for (int seat = 1; seat <= kSeatCount; ++seat) names[seat - 1] = name(seat).toStdString();
  return names;
}

std::optional<int> Seats::lookup(const QString& name) const { return lookupSeat(names(), name.toStdString()); }

bool Seats::allNormal() const {
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    if (reachable(seat) && state(seat) != SeatState::Normal) return false;
  }
  return true;
}

bool Seats::any(SeatState wanted) const {
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    if (state(seat) == wanted) return true;
  }
  return false;
}

}  // namespace saalwacht::console

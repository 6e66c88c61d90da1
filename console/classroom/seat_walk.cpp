#include "console/classroom/seat_walk.h"

#include "console/classroom/command_link.h"
#include "console/classroom/screen_sharing.h"
#include "console/classroom/seats.h"
#include "console/classroom/thumbnails.h"

namespace saalwacht::console {

SeatWalk::SeatWalk(platform::EchoTest& echo, Seats& seats, Thumbnails& thumbnails, CommandLink& link,
                   ScreenSharing& sharing, QObject* parent)
    : QObject(parent), seats_(seats), thumbnails_(thumbnails), link_(link), sharing_(sharing), monitor_(echo) {
  handOver_.setObjectName(QStringLiteral("Lehrer_auf_Schueler_Wartezeit"));
  // A plan edited meanwhile may have renamed the seat; the result is still
  // the seat's, as the walk visits seats by number.
  connect(&monitor_, &ReachabilityMonitor::checked, this, [this](const QString&, bool reachable) { checked(reachable); });
}

void SeatWalk::start() {
  stop();
  monitoring_ = true;
  const auto seat = findNamedSeat(seats_.names(), cursor_);
  // An empty plan leaves the walk idle instead of searching for ever.
  if (!seat) {
    currentName_.clear();
    return;
  }
  cursor_ = *seat;
  currentName_ = seats_.name(cursor_);
  monitor_.check(currentName_);
}

void SeatWalk::startAtFirstSeat() {
  if (auto first = findNamedSeat(seats_.names(), 1)) cursor_ = *first;
  start();
}

void SeatWalk::stop() {
  monitoring_ = false;
  ++walk_;
  handOver_.cancel();
  monitor_.stop();
}

void SeatWalk::checked(bool reachable) {
  if (!monitoring_) return;
  const unsigned walk = walk_;
  const int seat = cursor_;
  // A PC that comes back gets the state its seat shows.
  if (reachable && !seats_.reachable(seat)) {
    if (seats_.state(seat) == SeatState::Teacher) {
      sharing_.sendTeacherScreen(seats_.name(seat));
      if (walk != walk_) return;
      sharing_.handOver(handOver_, [this, walk, seat] { finishVisit(walk, seat, true); });
      return;
    }
    if (seats_.state(seat) == SeatState::Dark) link_.send(seat, seats_.name(seat), CommandKind::Blank);
  }
  finishVisit(walk, seat, reachable);
}

void SeatWalk::finishVisit(unsigned walk, int seat, bool reachable) {
  // Stopped during the hand-over: this walk ends here.
  if (walk != walk_ || !monitoring_) return;
  if (reachable) {
    seats_.setReachable(seat, true);
    if (seats_.state(seat) == SeatState::Normal && thumbnails_.shown()) {
      thumbnails_.connectTo(seat, currentName_);
    } else if (thumbnails_.connected(seat) && !thumbnails_.shown()) {
      thumbnails_.disconnect(seat);
    }
  } else {
    seats_.setReachable(seat, false);
    thumbnails_.disconnect(seat);
  }
  cursor_ = cursor_ == kSeatCount ? 1 : cursor_ + 1;
  const auto next = findNamedSeat(seats_.names(), cursor_);
  if (!next) {
    currentName_.clear();
    return;
  }
  cursor_ = *next;
  currentName_ = seats_.name(cursor_);
  monitor_.check(currentName_);
}

}  // namespace saalwacht::console

#include "console/classroom/seat_actions.h"

#include "console/classroom/action_lock.h"
#include "console/classroom/command_link.h"
#include "console/classroom/messaging.h"
#include "console/classroom/screen_sharing.h"
#include "console/classroom/screenshots.h"
#include "console/classroom/seats.h"
#include "console/classroom/thumbnails.h"
#include "console/message_display.h"
#include "console/windows/dialogs.h"
#include "console/windows/main_window.h"

namespace saalwacht::console {
namespace {

constexpr const char* kStudentScreenToAllItem = "Schuelermonitoranalleundfernsteuern";

}  // namespace

SeatActions::SeatActions(Parts parts, std::function<int()> preset, const QString& refusal, QObject* parent)
    : QObject(parent), p_(parts), preset_(std::move(preset)), refusal_(refusal) {}

void SeatActions::refuse() {
  p_.messages.show(&p_.window, QStringLiteral("Saalwacht"), refusal_, MessageDisplay::Kind::Plain);
}

void SeatActions::clicked(int seat) {
  // The lock, room plan editing (clicks drag then) and the close keep clicks away.
  if (p_.lock.engaged() || p_.window.planEdited() || !p_.lock.free()) return;
  const int action = p_.window.actionList()->currentIndex();
  run(seat, action);
  // A toggle that leaves every seat normal opens the class buttons again.
  if ((action == 3 || action == 4) && p_.seats.allNormal() && !p_.lock.closing()) p_.lock.release();
}

void SeatActions::menuAction(int seat, int action) {
  // The menu does not open under the lock; nothing starts once the console closes.
  if (p_.lock.engaged() || !p_.lock.free()) return;
  run(seat, action);
}

bool SeatActions::menuOpening(int seat) {
  if (p_.lock.engaged() || !p_.lock.free()) return false;
  // Item 2 follows the seat: usable on a normal seat, not on a blanked or
  // teacher-screen seat; any other state keeps the last setting.
  QAction* toAll = p_.window.action(kStudentScreenToAllItem);
  const SeatState s = p_.seats.state(seat);
  if (s == SeatState::Normal) toAll->setEnabled(true);
  if (s == SeatState::Dark || s == SeatState::Teacher) toAll->setEnabled(false);
  return true;
}

void SeatActions::run(int seat, int action) {
  const QString name = p_.seats.name(seat);
  if (name.isEmpty()) return;
  // The seat's link is that of the first seat with this name.
  const int linkSeat = p_.seats.lookup(name).value_or(seat);
  switch (action) {
    case 0:
      p_.sharing.view(name, preset_());
      break;
    case 1:
      if (p_.seats.state(seat) == SeatState::Normal) {
        p_.sharing.control(name);
      } else {
        refuse();
      }
      break;
    case 2:
      if (p_.seats.allNormal()) {
        p_.sharing.studentScreenToAll(seat);
      } else {
        refuse();
      }
      break;
    case 3:
      if (p_.seats.state(seat) == SeatState::Dark) {
        p_.seats.setState(seat, SeatState::Normal);
        p_.link.send(linkSeat, name, CommandKind::Reset);
      }
      if (p_.seats.state(seat) == SeatState::Teacher) {
        p_.sharing.stopServer();
        for (int i = 1; i <= kSeatCount; ++i) {
          if (p_.seats.state(i) != SeatState::Teacher) continue;
          p_.seats.setState(i, SeatState::Normal);
          if (p_.seats.reachable(i) && p_.thumbnails.shown()) p_.thumbnails.connectTo(i, p_.seats.name(i));
        }
      } else if (p_.seats.state(seat) == SeatState::Normal) {
        p_.sharing.teacherScreenToSeat(seat);
      }
      break;
    case 4:
      if (p_.seats.state(seat) == SeatState::Teacher) {
        p_.seats.setState(seat, SeatState::Normal);
        p_.sharing.stopServer();
      }
      if (p_.seats.state(seat) == SeatState::Dark) {
        p_.seats.setState(seat, SeatState::Normal);
        if (p_.thumbnails.shown()) p_.thumbnails.connectTo(linkSeat, name);
        p_.link.send(linkSeat, name, CommandKind::Reset);
      } else if (p_.seats.state(seat) == SeatState::Normal) {
        p_.window.barButton("lehrer_an_alle_button")->setEnabled(false);
        p_.seats.setState(seat, SeatState::Dark);
        p_.thumbnails.disconnect(linkSeat);
        p_.link.send(linkSeat, name, CommandKind::Blank);
      }
      break;
    case 5:
      p_.messaging.openFor(name);
      break;
    case 6:
      p_.shutdownDialog.setComputerName(name);
      p_.shutdownDialog.show();
      p_.shutdownDialog.raise();
      p_.shutdownDialog.setFocus();
      break;
    case 7:
      p_.screenshots.request(linkSeat);
      break;
    default:
      break;
  }
}

void SeatActions::confirmShutdown() {
  p_.shutdownDialog.hide();
  if (p_.lock.closing()) return;
  const QString name = p_.shutdownDialog.findChild<QLabel*>(QStringLiteral("Label3"))->text();
  // The seat's own link carries it, so it is never dropped for a busy other one.
  if (auto seat = p_.seats.lookup(name)) {
    p_.link.send(*seat, name, CommandKind::Shutdown);
    p_.seats.setState(*seat, SeatState::Normal);
  }
}

}  // namespace saalwacht::console

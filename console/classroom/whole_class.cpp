#include "console/classroom/whole_class.h"

#include <QWidget>

#include "console/classroom/action_lock.h"
#include "console/classroom/command_link.h"
#include "console/classroom/internet_access.h"
#include "console/classroom/messaging.h"
#include "console/classroom/screen_sharing.h"
#include "console/classroom/screenshots.h"
#include "console/classroom/seat_walk.h"
#include "console/classroom/seats.h"
#include "console/classroom/thumbnails.h"
#include "console/windows/dialogs.h"

namespace saalwacht::console {

WholeClass::WholeClass(Parts parts, QObject* parent) : QObject(parent), p_(std::move(parts)) {
  deliveries_.setObjectName(QStringLiteral("Programmabbruch"));
  lastPause_.setObjectName(QStringLiteral("Warte"));
}

void WholeClass::resetAll() {
  if (!p_.lock.free()) return;
  p_.sharing.stopServer();
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    if (p_.seats.reachable(seat)) {
      if (p_.seats.state(seat) == SeatState::Dark && p_.thumbnails.shown()) p_.thumbnails.setVisible(seat, true);
      p_.link.send(seat, p_.seats.name(seat), CommandKind::Reset);
    }
    p_.seats.setState(seat, SeatState::Normal);
  }
  p_.lock.release();
}

void WholeClass::blankAll() {
  if (!p_.lock.free() || p_.lock.engaged()) return;
  p_.lock.engage();
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    p_.seats.setState(seat, SeatState::Dark);
    p_.thumbnails.setVisible(seat, false);
    if (p_.seats.reachable(seat)) p_.link.send(seat, p_.seats.name(seat), CommandKind::Blank);
  }
}

void WholeClass::teacherToAll() {
  if (!p_.lock.free() || p_.lock.engaged()) return;
  p_.sharing.teacherScreenToAll();
}

void WholeClass::messageToAll() {
  if (!p_.lock.free()) return;
  p_.messaging.openForAll();
}

void WholeClass::askShutdownAll() {
  if (!p_.lock.free()) return;
  p_.shutdownDialog.show();
  p_.shutdownDialog.raise();
  p_.shutdownDialog.setFocus();
}

void WholeClass::confirmShutdownAll() {
  p_.shutdownDialog.hide();
  if (!p_.lock.free()) return;
  p_.sharing.stopServer();
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    p_.seats.setState(seat, SeatState::Normal);
    if (p_.seats.reachable(seat)) p_.link.send(seat, p_.seats.name(seat), CommandKind::Shutdown);
  }
}

void WholeClass::close(std::function<void()> finished) {
  if (p_.lock.closing()) return;
  // From here on every action is refused; the wait window takes the input.
  p_.lock.beginClosing();
  for (QWidget* dialog : p_.dialogs) dialog->hide();
  p_.exitWait.setWindowModality(Qt::ApplicationModal);
  p_.exitWait.show();
  p_.exitWait.raise();
  p_.walk.stop();
  p_.internet.stopPolling();
  p_.thumbnails.setShown(false);
  p_.sharing.cancelLoop();
  p_.screenshots.cancelAll();
  p_.internet.lock();
  p_.sharing.stopServer();
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    if (!p_.seats.reachable(seat)) continue;
    p_.seats.setState(seat, SeatState::Normal);
    // Never behind a screenshot exchange that may not end within the wait.
    p_.link.sendWithoutWaiting(seat, p_.seats.name(seat), CommandKind::Reset);
    p_.thumbnails.disconnect(seat);
  }
  // Every reset is delivered or has failed before the console goes, so no
  // student PC stays blanked, and a server stopped while it started has been
  // ended; a PC that does not answer costs at most 15 s.
  deliveries_.until(
      [this] { return p_.link.outstanding(CommandKind::Reset) == 0 && p_.sharing.serverSettled(); },
      std::chrono::seconds(15), [this, finished = std::move(finished)](bool) {
        lastPause_.pause(std::chrono::seconds(1), [this, finished] {
          p_.exitWait.hide();
          finished();
        });
      });
}

}  // namespace saalwacht::console

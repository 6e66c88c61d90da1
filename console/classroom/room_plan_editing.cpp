#include "console/classroom/room_plan_editing.h"

#include <QMouseEvent>

#include "console/classroom/action_lock.h"
#include "console/classroom/remote_password.h"
#include "console/classroom/seat_walk.h"
#include "console/classroom/seats.h"
#include "console/classroom/thumbnails.h"
#include "console/message_display.h"
#include "console/windows/dialogs.h"
#include "console/windows/main_window.h"

namespace saalwacht::console {
namespace {

QString q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

RoomPlanEditing::RoomPlanEditing(Parts parts, QObject* parent) : QObject(parent), p_(std::move(parts)) {
  for (int seat = 1; seat <= kSeatCount; ++seat) p_.window.seatButton(seat)->installEventFilter(this);
  connect(&p_.lock, &ActionLock::sequenceEnded, this, [this] {
    if (!beginWhenFree_) return;
    beginWhenFree_ = false;
    begin();
  });
}

void RoomPlanEditing::layOut(const RoomPlan& plan) {
  plan_ = plan;
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    SeatButton* button = p_.window.seatButton(seat);
    QWidget* panel = p_.window.seatPanel(seat);
    const QString name = q(plan.names[seat - 1]);
    button->setText(name);
    if (name.isEmpty()) {
      button->hide();
      panel->hide();
    } else {
      const auto& at = plan.positions[seat - 1];
      panel->move(at.left, at.top);
      panel->show();
      button->show();
    }
    // Seats wait for their PC's first answer; their state stays as it was.
    button->setEnabled(false);
  }
}

bool RoomPlanEditing::editing() const { return p_.window.planEdited(); }

void RoomPlanEditing::begin() {
  if (p_.lock.closing() || editing()) return;
  // A loop under way goes on over the seats it knows; editing waits for it.
  if (p_.lock.sequenceRunning()) {
    beginWhenFree_ = true;
    return;
  }
  p_.walk.stop();
  p_.window.showEditBar(true);
  p_.window.action("Raumplan_bearbeiten")->setEnabled(false);
  p_.window.grid()->setVisible(!p_.backgroundSet());
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    SeatButton* button = p_.window.seatButton(seat);
    p_.thumbnails.disconnect(seat);
    if (button->isVisibleTo(&p_.window)) button->setEnabled(true);
  }
  p_.lock.showCursors();
}

void RoomPlanEditing::addSeat() {
  if (!editing()) return;
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    SeatButton* button = p_.window.seatButton(seat);
    if (button->isVisibleTo(&p_.window)) continue;
    QWidget* panel = p_.window.seatPanel(seat);
    panel->move(kNewSeatPosition.left, kNewSeatPosition.top);
    panel->show();
    button->setEnabled(true);
    button->show();
    menuSeat_ = seat;
    openNameDialog(QString());
    return;
  }
}

void RoomPlanEditing::menuOpening(int seat) {
  menuSeat_ = seat;
  // A right click's release goes to the menu, so the press must not leave a drag behind.
  dragging_ = false;
  const bool named = !p_.seats.name(seat).isEmpty();
  p_.window.action("Rechneraktivieren1")->setEnabled(!named);
  p_.window.action("Rechnernamenaendern1")->setEnabled(named);
}

void RoomPlanEditing::deleteSeat(int seat) {
  if (!editing() || seat < 1 || seat > kSeatCount) return;
  SeatButton* button = p_.window.seatButton(seat);
  button->setText(QString());
  button->setEnabled(false);
  button->hide();
  p_.window.seatPanel(seat)->hide();
}

void RoomPlanEditing::enterName() { openNameDialog(QString()); }

void RoomPlanEditing::changeName() {
  if (menuSeat_) openNameDialog(p_.seats.name(menuSeat_));
}

void RoomPlanEditing::openNameDialog(const QString& name) {
  p_.nameDialog.nameField()->setText(name);
  p_.nameDialog.show();
  p_.nameDialog.raise();
}

void RoomPlanEditing::nameChosen() {
  // "OK" names whichever seat the edit menu was last opened on.
  if (!editing() || menuSeat_ < 1 || menuSeat_ > kSeatCount) return;
  p_.window.seatButton(menuSeat_)->setText(p_.nameDialog.nameField()->text());
}

void RoomPlanEditing::leaveEditMode() {
  p_.nameDialog.hide();
  p_.window.showEditBar(false);
  p_.window.action("Raumplan_bearbeiten")->setEnabled(true);
  p_.window.grid()->hide();
  dragging_ = false;
  // The seat menu is back: the cursors say again whether seats take clicks.
  p_.lock.showCursors();
}

void RoomPlanEditing::save() {
  if (!editing()) return;
  RoomPlan plan;
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    const QString name = p_.seats.name(seat);
    if (!ProfileFile::canHoldValue(name.toStdString())) {
      p_.messages.show(&p_.window, QStringLiteral("Saalwacht"),
                       QStringLiteral("Der Rechnername von Platz %1 enthält einen Zeilenumbruch und kann nicht "
                                      "gespeichert werden.")
                           .arg(seat),
                       MessageDisplay::Kind::Error);
      return;
    }
    plan.names[seat - 1] = name.toStdString();
    plan.positions[seat - 1] = {p_.window.seatPanel(seat)->x(), p_.window.seatPanel(seat)->y()};
  }
  const auto failed =
      updateConfiguration(p_.configuration, [&](ProfileFile& profile) { storeRoomPlan(profile, plan); });
  if (failed) {
    p_.messages.show(&p_.window, QStringLiteral("Saalwacht"), q(*failed), MessageDisplay::Kind::Error);
    return;
  }
  plan_ = plan;
  leaveEditMode();
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    SeatButton* button = p_.window.seatButton(seat);
    if (button->text().isEmpty()) {
      button->hide();
      p_.window.seatPanel(seat)->hide();
    }
    button->setEnabled(false);
  }
  // The plan is written; a store that cannot be written keeps what it holds.
  if (auto error = p_.password.rewrite()) {
    p_.messages.show(&p_.window, QStringLiteral("Saalwacht"), *error, MessageDisplay::Kind::Error);
  }
  p_.walk.startAtFirstSeat();
}

void RoomPlanEditing::cancel() {
  if (!editing()) return;
  leaveEditMode();
  // Only [Raum] is read again: names, places and visibility; states stay.
  std::optional<QString> error;
  auto loaded = ProfileFile::load(p_.configuration);
  if (auto* failure = std::get_if<ProfileLoadError>(&loaded)) {
    error = q(failure->message);
  } else {
    auto result = loadRoomPlan(std::get<ProfileFile>(loaded));
    if (auto* conversion = std::get_if<ConversionError>(&result)) {
      error = q(conversion->message());
    } else {
      plan_ = std::get<RoomPlan>(std::move(result));
    }
  }
  // A [Raum] that cannot be read leaves the plan as it was last read or saved.
  layOut(plan_);
  if (error) p_.messages.show(&p_.window, QStringLiteral("Saalwacht"), *error, MessageDisplay::Kind::Error);
  if (p_.lock.closing()) return;
  p_.walk.start();
  p_.password.askLater();
}

bool RoomPlanEditing::eventFilter(QObject* watched, QEvent* event) {
  auto* button = qobject_cast<SeatButton*>(watched);
  if (!button) return false;
  switch (event->type()) {
    case QEvent::MouseButtonPress:
      if (editing()) dragging_ = true;
      grab_ = static_cast<QMouseEvent*>(event)->position().toPoint();
      break;
    case QEvent::MouseMove:
      if (dragging_ && editing()) {
        const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
        QWidget* panel = p_.window.seatPanel(button->seat());
        panel->move(draggedPosition(panel->x(), at.x(), grab_.x(), p_.window.roomPlan()->width()),
                    draggedPosition(panel->y(), at.y(), grab_.y(), p_.window.roomPlan()->height()));
      }
      break;
    case QEvent::MouseButtonRelease:
      dragging_ = false;
      break;
    default:
      break;
  }
  return false;
}

}  // namespace saalwacht::console

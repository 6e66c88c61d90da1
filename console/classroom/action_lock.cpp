#include "console/classroom/action_lock.h"

#include "console/windows/main_window.h"

namespace saalwacht::console {
namespace {

constexpr const char* kLockedButtons[] = {"lehrer_an_alle_button", "alle_dunkelschalten_button",
                                          "alle_herunterfahren_button", "nachricht_an_alle_button"};

}  // namespace

ActionLock::ActionLock(MainWindow& window, QObject* parent) : QObject(parent), window_(window) {}

void ActionLock::engage() {
  engaged_ = true;
  for (const char* name : kLockedButtons) window_.barButton(name)->setEnabled(false);
  window_.actionList()->setEnabled(false);
  showCursors();
}

void ActionLock::release() {
  engaged_ = false;
  for (const char* name : kLockedButtons) window_.barButton(name)->setEnabled(true);
  window_.actionList()->setEnabled(true);
  showCursors();
}

void ActionLock::showCursors() {
  const bool forbidden = engaged_ && !window_.planEdited();
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    window_.seatButton(seat)->setCursor(forbidden ? Qt::ForbiddenCursor : Qt::PointingHandCursor);
  }
}

void ActionLock::beginSequence() {
  sequence_ = true;
  window_.barButton("alle_zuruecksetzen_button")->setEnabled(false);
}

void ActionLock::endSequence() {
  if (!sequence_) return;
  sequence_ = false;
  window_.barButton("alle_zuruecksetzen_button")->setEnabled(true);
  emit sequenceEnded();
}

}  // namespace saalwacht::console

#include "console/classroom/messaging.h"

#include "console/classroom/action_lock.h"
#include "console/classroom/command_link.h"
#include "console/classroom/seats.h"
#include "console/message_display.h"
#include "console/windows/dialogs.h"

namespace saalwacht::console {

Messaging::Messaging(MessageDialog& dialog, MessageDisplay& messages, Seats& seats, CommandLink& link,
                     ActionLock& lock, QObject* parent)
    : QObject(parent), dialog_(dialog), messages_(messages), seats_(seats), link_(link), lock_(lock) {}

void Messaging::openFor(const QString& name) {
  dialog_.setTarget(name);
  dialog_.show();
  dialog_.raise();
  dialog_.setFocus();
}

void Messaging::openForAll() { openFor(texts_.allMarker); }

void Messaging::send() {
  if (lock_.closing()) return;
  const QString text = dialog_.textField()->toPlainText();
  if (text.isEmpty()) {
    messages_.show(&dialog_, dialog_.windowTitle(), texts_.emptyWarning, MessageDisplay::Kind::Plain);
    return;
  }
  const QString target = dialog_.target();
  if (target == texts_.allMarker) {
    for (int seat = 1; seat <= kSeatCount; ++seat) {
      if (seats_.reachable(seat)) link_.send(seat, seats_.name(seat), CommandKind::Message, text);
    }
  } else if (auto seat = seats_.lookup(target)) {
    link_.send(*seat, target, CommandKind::Message, text);
  }
  dialog_.hide();
}

}  // namespace saalwacht::console

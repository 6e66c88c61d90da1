#include "console/classroom/command_link.h"

namespace saalwacht::console {

CommandLink::CommandLink(CommandClient& client, QObject* parent) : QObject(parent), client_(client) {
  // Every request ends in exactly one of the two, in the order of its link.
  connect(&client_, &CommandClient::delivered, this, &CommandLink::done);
  connect(&client_, &CommandClient::failed, this, &CommandLink::done);
}

quint64 CommandLink::send(int seat, const QString& host, CommandKind kind, const QString& text) {
  if (seat < 1 || seat > kSeatCount) return 0;
  const quint64 id = client_.request(seat, host, {kind, text});
  ++queued_[seat - 1];
  if (kind == CommandKind::Screenshot) ++screenshots_[seat - 1];
  return id;
}

void CommandLink::sendWithoutWaiting(int seat, const QString& host, CommandKind kind) {
  if (seat < 1 || seat > kSeatCount) return;
  int link = seat;
  if (screenshots_[seat - 1] > 0) {
    // Any link reaches any host; take the one with the least to do that
    // carries no exchange of its own.
    for (int other = 1; other <= kSeatCount; ++other) {
      if (screenshots_[other - 1] > 0) continue;
      if (link == seat || queued_[other - 1] < queued_[link - 1]) link = other;
    }
  }
  send(link, host, kind);
}

void CommandLink::done(int seat, CommandKind kind) {
  if (seat < 1 || seat > kSeatCount || queued_[seat - 1] == 0) return;
  --queued_[seat - 1];
  if (kind == CommandKind::Screenshot && screenshots_[seat - 1] > 0) --screenshots_[seat - 1];
  if (queued_[seat - 1] == 0) emit linkIdle(seat);
}

}  // namespace saalwacht::console

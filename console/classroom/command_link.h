#pragma once
// The classroom's use of the command client (console/command_client.h): sends
// the commands of a seat on its link, knows which links have commands queued
// or under way, and keeps a command that must not wait (the resets of the
// close sequence) from queueing behind a screenshot exchange, whose service
// may take long to answer. Window thread only.

#include <QObject>
#include <array>

#include "console/command_client.h"

namespace saalwacht::console {

class CommandLink : public QObject {
  Q_OBJECT
 public:
  explicit CommandLink(CommandClient& client, QObject* parent = nullptr);

  // Queues the command on the link of `seat`; returns the request's number.
  quint64 send(int seat, const QString& host, CommandKind kind, const QString& text = {});
  // The same, but never behind a screenshot exchange: on the seat's own link
  // when it carries none, else on a link that is free (or least busy).
  void sendWithoutWaiting(int seat, const QString& host, CommandKind kind);

  // Nothing is queued or under way on the link of `seat`.
  bool idle(int seat) const { return queued_.at(seat - 1) == 0; }
  int outstanding(CommandKind kind) const { return client_.outstanding(kind); }
  CommandClient& client() { return client_; }

 signals:
  // The link of `seat` has delivered or given up its last command.
  void linkIdle(int seat);

 private:
  void done(int seat, CommandKind kind);

  CommandClient& client_;
  std::array<int, kSeatCount> queued_{};
  std::array<int, kSeatCount> screenshots_{};
};

}  // namespace saalwacht::console

#pragma once
// The console's end of the command link: one connection per command to port
// 4000 of a student PC. Each connection greets the service first; a service
// that asks for a proof gets the command signed with the console's key, one
// that is open (or that does not know the greeting) gets the plain command.
// Each request carries its own command (a request for one seat never
// changes what another seat's connection sends); the commands of one seat go
// out one after the other in the order they were requested; a connection
// that gets no answer gives up after a few seconds. Errors are not shown:
// the command is reported as failed and dropped; a PC that refuses this
// console is reported by refused(). Window thread only (QTcpSocket).

#include <QByteArray>
#include <QObject>
#include <QString>
#include <array>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>

#include "console/seat_plan.h"
#include "protocol/signed_link.h"

class QTcpSocket;
class QTimer;

namespace saalwacht::console {

enum class CommandKind { Reset, Blank, Shutdown, Message, Screenshot };

struct SeatCommand {
  CommandKind kind = CommandKind::Reset;
  QString text;  // Message: the text as the teacher sent it
};

struct CommandTimeouts {
  std::chrono::milliseconds connect{5000};
  // A screenshot exchange that stalls this long is given up.
  std::chrono::milliseconds exchange{30000};
  // A service that does not answer the greeting in this time gets the plain
  // command (a service that was never told of proofs).
  std::chrono::milliseconds greeting{2000};
};

class CommandClient : public QObject {
  Q_OBJECT
 public:
  using Timeouts = CommandTimeouts;

  explicit CommandClient(quint16 port = 4000, Timeouts timeouts = {}, QObject* parent = nullptr);
  ~CommandClient() override;

  // The console's key: commands to services that ask for a proof are signed
  // with it. Without one such services refuse every command.
  void setSigner(std::optional<protocol::ClientLink::Signer> signer) { signer_ = std::move(signer); }

  // Queues `command` for `host` on the link of `seat` (1..48). Returns the
  // request's number, which the screenshot signals carry.
  quint64 request(int seat, const QString& host, const SeatCommand& command);

  // The teacher gave up waiting: every screenshot requested so far for
  // `seat` ends ("42" at its next read event, or it is never started).
  // Later requests are not touched.
  void cancelScreenshot(int seat);

  // Requests not yet delivered or failed, in all or of one kind.
  int outstanding() const;
  int outstanding(CommandKind kind) const;

 signals:
  void delivered(int seat, CommandKind kind);
  void failed(int seat, CommandKind kind);
  // The PC at `host` does not take this console's commands: it wants a key
  // it does not trust, or it closed the connection before any answer (this
  // teacher PC is not among its allowed sources). failed() follows.
  void refused(int seat, const QString& host);
  void screenshotReceived(int seat, quint64 request, const QByteArray& jpeg);
  // After a screenshot request: cancelled by the teacher, or no picture came.
  void screenshotCancelled(int seat, quint64 request);
  // After a screenshot request: the PC answered with something that is no
  // picture (its size text is no number), or refused it.
  void screenshotFailed(int seat, quint64 request);
  // Nothing is outstanding any more.
  void idle();

 private:
  struct Pending {
    QString host;
    SeatCommand command;
    quint64 id = 0;
    bool cancelled = false;
  };
  struct Link {
    int seat = 0;
    QTcpSocket* socket = nullptr;
    QTimer* timer = nullptr;
    QTimer* greeting = nullptr;
    std::deque<Pending> queue;  // front: the command in flight
    bool busy = false;
    bool closing = false;  // the last bytes are written, the connection ends
    std::unique_ptr<protocol::ClientLink> link;
  };

  void startNext(Link& link);
  void onConnected(Link& link);
  void onReadyRead(Link& link);
  void apply(Link& link, const protocol::ClientLink::Step& step);
  void settle(Link& link);
  void finish(Link& link, bool ok);

  quint16 port_;
  quint64 nextId_ = 1;
  Timeouts timeouts_;
  std::optional<protocol::ClientLink::Signer> signer_;
  std::array<Link, kSeatCount> links_;
};

// The bytes of a command in the plain form.
QByteArray commandBytes(const SeatCommand& command);

}  // namespace saalwacht::console

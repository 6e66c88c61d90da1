#include "console/command_client.h"

#include <QTcpSocket>
#include <QTimer>

#include "platform/system.h"
#include "protocol/message.h"

namespace saalwacht::console {

using protocol::ClientLink;

QByteArray commandBytes(const SeatCommand& command) {
  std::string bytes;
  switch (command.kind) {
    case CommandKind::Reset: bytes = protocol::encodeCommand(protocol::CommandCode::Reset); break;
    case CommandKind::Blank: bytes = protocol::encodeCommand(protocol::CommandCode::Blank); break;
    case CommandKind::Shutdown: bytes = protocol::encodeCommand(protocol::CommandCode::Shutdown); break;
    case CommandKind::Screenshot: bytes = protocol::encodeCommand(protocol::CommandCode::ScreenshotRequest); break;
    case CommandKind::Message: {
      // Windows PCs expect CR LF line breaks and their code page.
      std::string wire = platform::toWireText(protocol::withCrLf(command.text.toStdString()));
      if (wire.size() > protocol::kMaxMessageTextBytes) wire.resize(protocol::kMaxMessageTextBytes);
      bytes = protocol::encodeCommand(protocol::CommandCode::Message, wire);
      break;
    }
  }
  return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

CommandClient::CommandClient(quint16 port, Timeouts timeouts, QObject* parent)
    : QObject(parent), port_(port), timeouts_(timeouts) {
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    Link& link = links_[seat - 1];
    link.seat = seat;
    link.socket = new QTcpSocket(this);
    link.socket->setObjectName(QStringLiteral("ClientSocket%1").arg(seat));
    link.timer = new QTimer(this);
    link.timer->setSingleShot(true);
    link.greeting = new QTimer(this);
    link.greeting->setSingleShot(true);
    connect(link.socket, &QTcpSocket::connected, this, [this, &link] { onConnected(link); });
    connect(link.socket, &QTcpSocket::readyRead, this, [this, &link] { onReadyRead(link); });
    connect(link.socket, &QTcpSocket::errorOccurred, this, [this, &link](QAbstractSocket::SocketError error) {
      if (!link.busy) return;
      // The service closing after the last bytes is the normal end.
      if (error == QAbstractSocket::RemoteHostClosedError) return;
      finish(link, false);
    });
    connect(link.socket, &QTcpSocket::disconnected, this, [this, &link] {
      if (!link.busy) return;
      if (link.closing) {
        // Our own close after the last bytes: the command is out.
        settle(link);
        return;
      }
      link.link->onClosed();
      settle(link);
      if (link.busy) finish(link, false);
    });
    connect(link.timer, &QTimer::timeout, this, [this, &link] {
      if (link.busy) finish(link, false);
    });
    connect(link.greeting, &QTimer::timeout, this, [this, &link] {
      if (link.busy && link.link->greeting()) apply(link, link.link->onGreetingTimeout());
    });
  }
}

CommandClient::~CommandClient() = default;

quint64 CommandClient::request(int seat, const QString& host, const SeatCommand& command) {
  if (seat < 1 || seat > kSeatCount) return 0;
  Link& link = links_[seat - 1];
  const quint64 id = nextId_++;
  link.queue.push_back({host, command, id, false});
  if (!link.busy) startNext(link);
  return id;
}

void CommandClient::cancelScreenshot(int seat) {
  if (seat < 1 || seat > kSeatCount) return;
  Link& link = links_[seat - 1];
  for (Pending& pending : link.queue) {
    if (pending.command.kind == CommandKind::Screenshot) pending.cancelled = true;
  }
  if (link.busy && link.link && link.link->screenshot()) link.link->cancel();
}

int CommandClient::outstanding() const {
  int count = 0;
  for (const Link& link : links_) count += static_cast<int>(link.queue.size());
  return count;
}

int CommandClient::outstanding(CommandKind kind) const {
  int count = 0;
  for (const Link& link : links_) {
    for (const Pending& p : link.queue) count += p.command.kind == kind ? 1 : 0;
  }
  return count;
}

void CommandClient::startNext(Link& link) {
  if (link.queue.empty()) return;
  // The old connection goes first: a disconnect it reports must not end the
  // new command before it is sent.
  link.socket->abort();
  link.busy = true;
  link.closing = false;
  const Pending& next = link.queue.front();
  const QByteArray plain = commandBytes(next.command);
  link.link = std::make_unique<ClientLink>(std::string(plain.constData(), static_cast<std::size_t>(plain.size())),
                                           signer_);
  if (next.cancelled) link.link->cancel();
  link.timer->start(timeouts_.connect);
  link.socket->connectToHost(next.host, port_);
}

void CommandClient::onConnected(Link& link) {
  if (!link.busy) return;
  link.timer->start(link.link->screenshot() ? timeouts_.exchange : timeouts_.connect);
  link.greeting->start(timeouts_.greeting);
  apply(link, link.link->start());
}

void CommandClient::onReadyRead(Link& link) {
  const QByteArray data = link.socket->readAll();
  if (!link.busy || link.closing) return;
  if (link.link->screenshot()) link.timer->start(timeouts_.exchange);
  apply(link, link.link->onData(std::string_view(data.constData(), static_cast<std::size_t>(data.size()))));
}

// Sends what the link says; a closing step ends the connection once its
// bytes are out, and "disconnected" then settles the outcome.
void CommandClient::apply(Link& link, const ClientLink::Step& step) {
  if (!link.link->greeting()) link.greeting->stop();
  if (!step.send.empty()) link.socket->write(step.send.data(), static_cast<qint64>(step.send.size()));
  if (step.close) {
    link.closing = true;
    link.socket->disconnectFromHost();
    return;
  }
  if (link.link->outcome() != ClientLink::Outcome::Pending) settle(link);
}

void CommandClient::settle(Link& link) {
  if (!link.busy) return;
  switch (link.link->outcome()) {
    case ClientLink::Outcome::Pending:
      return;
    case ClientLink::Outcome::Delivered:
      if (link.link->screenshot() &&
          link.link->exchange().state() != protocol::ScreenshotExchange::State::Received) {
        return finish(link, false);  // cancelled by the teacher
      }
      return finish(link, true);
    case ClientLink::Outcome::Refused:
    case ClientLink::Outcome::KeyRequired:
      emit refused(link.seat, link.queue.front().host);
      return finish(link, false);
    case ClientLink::Outcome::Failed:
      if (link.link->screenshot()) emit screenshotFailed(link.seat, link.queue.front().id);
      return finish(link, false);
  }
}

void CommandClient::finish(Link& link, bool ok) {
  if (!link.busy) return;
  link.busy = false;
  link.timer->stop();
  link.greeting->stop();
  const Pending done = link.queue.front();
  link.queue.pop_front();
  const int seat = link.seat;
  auto finished = std::move(link.link);
  if (link.socket->state() == QAbstractSocket::ConnectedState) {
    // Writes the closing "42" before the connection goes; busy is already
    // false, so the disconnect this may report at once is not a second end.
    link.socket->flush();
    link.socket->disconnectFromHost();
  }
  if (!ok) link.socket->abort();
  if (done.command.kind == CommandKind::Screenshot) {
    if (ok) {
      std::string picture = finished->exchange().takePicture();
      emit screenshotReceived(seat, done.id, QByteArray(picture.data(), static_cast<qsizetype>(picture.size())));
    } else {
      emit screenshotCancelled(seat, done.id);
    }
  }
  if (ok) {
    emit delivered(seat, done.command.kind);
  } else {
    emit failed(seat, done.command.kind);
  }
  if (!link.queue.empty()) {
    // Start on a fresh turn of the event loop so the old connection is gone.
    QTimer::singleShot(0, this, [this, &link] {
      if (!link.busy) startNext(link);
    });
  } else if (outstanding() == 0) {
    emit idle();
  }
}

}  // namespace saalwacht::console

#include "console/command_client.h"

#include <QTcpSocket>
#include <QTimer>

#include "platform/system.h"
#include "protocol/message.h"

namespace saalwacht::console {

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
    connect(link.socket, &QTcpSocket::connected, this, [this, &link] { onConnected(link); });
    connect(link.socket, &QTcpSocket::readyRead, this, [this, &link] { onReadyRead(link); });
    connect(link.socket, &QTcpSocket::errorOccurred, this, [this, &link](QAbstractSocket::SocketError) {
      // The service closes after a command; that is the normal end, not an error.
      if (link.busy) finish(link, false);
    });
    connect(link.socket, &QTcpSocket::disconnected, this, [this, &link] {
      if (!link.busy) return;
      const bool screenshot = link.queue.front().command.kind == CommandKind::Screenshot;
      // A plain command is delivered once its bytes are out and the connection closed.
      finish(link, !screenshot || (link.exchange && link.exchange->finished()));
    });
    connect(link.timer, &QTimer::timeout, this, [this, &link] {
      if (link.busy) finish(link, false);
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
  if (link.busy && link.exchange) link.exchange->cancel();
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
  const Pending& next = link.queue.front();
  if (next.command.kind == CommandKind::Screenshot) {
    link.exchange = std::make_unique<protocol::ScreenshotExchange>();
    if (next.cancelled) link.exchange->cancel();
  } else {
    link.exchange.reset();
  }
  link.timer->start(timeouts_.connect);
  link.socket->connectToHost(next.host, port_);
}

void CommandClient::onConnected(Link& link) {
  if (!link.busy) return;
  const SeatCommand& command = link.queue.front().command;
  link.socket->write(commandBytes(command));
  if (command.kind == CommandKind::Screenshot) {
    link.timer->start(timeouts_.exchange);
    return;
  }
  link.timer->start(timeouts_.connect);
  // Closes once everything is written; "disconnected" then reports delivery.
  link.socket->disconnectFromHost();
}

void CommandClient::onReadyRead(Link& link) {
  if (!link.busy || !link.exchange) {
    link.socket->readAll();
    return;
  }
  link.timer->start(timeouts_.exchange);
  const QByteArray data = link.socket->readAll();
  const auto step = link.exchange->onData(std::string_view(data.constData(), static_cast<std::size_t>(data.size())));
  if (!step.reply.empty()) link.socket->write(step.reply.data(), static_cast<qint64>(step.reply.size()));
  // finish() closes the connection once the closing "42" is written.
  if (link.exchange->finished()) {
    finish(link, link.exchange->state() == protocol::ScreenshotExchange::State::Received);
  } else if (step.close) {
    link.socket->disconnectFromHost();
  }
}

void CommandClient::finish(Link& link, bool ok) {
  if (!link.busy) return;
  link.busy = false;
  link.timer->stop();
  const Pending done = link.queue.front();
  link.queue.pop_front();
  const int seat = link.seat;
  if (done.command.kind == CommandKind::Screenshot) {
    auto exchange = std::move(link.exchange);
    // Writes the closing "42" before the connection goes; busy is already
    // false, so the disconnect this may report at once is not a second end.
    if (link.socket->state() == QAbstractSocket::ConnectedState) {
      link.socket->flush();
      link.socket->disconnectFromHost();
    }
    if (ok) {
      std::string picture = exchange->takePicture();
      emit screenshotReceived(seat, done.id, QByteArray(picture.data(), static_cast<qsizetype>(picture.size())));
    } else {
      link.socket->abort();
      emit screenshotCancelled(seat, done.id);
    }
  } else {
    link.socket->abort();
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

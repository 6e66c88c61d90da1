#include "console/classroom/screen_sharing.h"

#include <QFileInfo>
#include <QTimer>

#include "console/classroom/action_lock.h"
#include "console/classroom/program_starter.h"
#include "console/classroom/seats.h"
#include "console/classroom/thumbnails.h"
#include "console/message_display.h"
#include "console/windows/main_window.h"
#include "platform/launcher.h"
#include "platform/processes.h"

namespace saalwacht::console {
namespace {

QString q(const std::string& text) { return QString::fromStdString(text); }

// A computer name is one word, whatever it holds.
QString quoted(const QString& word) { return q(platform::quoteParameter(word.toStdString())); }

// Quoted as the launcher splits words, so a blank in a password stays in it.
QString passwordOption(const QString& password) {
  return QStringLiteral(" -password ") + quoted(password);
}

}  // namespace

ScreenSharing::ScreenSharing(Parts parts, std::chrono::milliseconds bound, QObject* parent)
    : QObject(parent), p_(parts), bound_(bound) {
  serverWait_.setObjectName(QStringLiteral("VNCServerStartWartezeit"));
  loopWait_.setObjectName(QStringLiteral("Lehrer_auf_Schueler_Wartezeit"));
}

void ScreenSharing::configure(const CommandTexts& commands, const QString& password) {
  commands_ = commands;
  viewParameters_ = q(commands.viewParameters) + passwordOption(password);
  controlParameters_ = q(commands.controlParameters) + passwordOption(password);
}

void ScreenSharing::addPasswordOption(const QString& password) {
  // The newest password's option stands last, so it is the one that counts.
  viewParameters_ += passwordOption(password);
  controlParameters_ += passwordOption(password);
}

// ---------------------------------------------------------------- programs

void ScreenSharing::view(const QString& name, int preset) {
  const std::string* scaling[] = {&commands_.scalingSmall, &commands_.scalingMedium, &commands_.scalingLarge};
  if (preset < 1 || preset > 3) return;
  p_.starter.start(q(commands_.viewerProgram),
                   viewParameters_ + QStringLiteral(" ") + quoted(name + QStringLiteral("::") + q(commands_.viewerPort)) +
                       QStringLiteral(" ") + q(*scaling[preset - 1]));
}

void ScreenSharing::control(const QString& name) {
  p_.starter.start(q(commands_.viewerProgram), controlParameters_ + QStringLiteral(" ") +
                                                   quoted(name + QStringLiteral("::") + q(commands_.viewerPort)));
}

void ScreenSharing::sendTeacherScreen(const QString& name) {
  p_.starter.start(q(commands_.teacherToStudentProgram),
                   q(commands_.teacherToStudentParameters) + QStringLiteral(" ") + quoted(name));
}

// ---------------------------------------------------------------- the server

QString ScreenSharing::serverName() const {
  // A path in the configuration still names the program by its file name.
  return QFileInfo(q(commands_.serverProgram)).fileName();
}

int ScreenSharing::serverProcesses() const { return p_.processes.count(serverName().toStdString()); }

void ScreenSharing::ensureServer(QObject* context, std::function<void(Server)> then) {
  switch (phase_) {
    case Phase::On:
      QTimer::singleShot(0, context, [then = std::move(then)] { then(Server::Up); });
      return;
    case Phase::Abandoned:
      // The server that is on its way is wanted again.
      phase_ = Phase::Launched;
      waiting_.emplace_back(context, std::move(then));
      return;
    case Phase::Launched:
    case Phase::Settling:
      waiting_.emplace_back(context, std::move(then));
      return;
    case Phase::Off:
      waiting_.emplace_back(context, std::move(then));
      launchServer();
      return;
  }
}

void ScreenSharing::launchServer() {
  phase_ = Phase::Launched;
  p_.starter.start(q(commands_.serverProgram), q(commands_.serverParameters));
  // A stop during the launcher's message has settled it already.
  if (phase_ == Phase::Off) return;
  serverWait_.until([this] { return serverProcesses() != 0; }, bound_,
                    [this](bool appeared) { serverAppeared(appeared); });
}

void ScreenSharing::serverAppeared(bool appeared) {
  if (phase_ == Phase::Abandoned) {
    // Stopped while it started: it must not outlive the stop.
    if (appeared) p_.processes.terminateFirst(serverName().toStdString());
    phase_ = Phase::Off;
    return;
  }
  if (phase_ != Phase::Launched) return;
  if (!appeared) {
    phase_ = Phase::Off;
    p_.messages.show(&p_.window, QStringLiteral("Fehler"),
                     QStringLiteral("Der VNC-Server \"%1\" ist nach %2 Sekunden nicht gestartet. Die Übertragung des "
                                    "Lehrermonitors ist nicht möglich.")
                         .arg(q(commands_.serverProgram))
                         .arg(bound_.count() / 1000),
                     MessageDisplay::Kind::Warning);
    notify(Server::Failed);
    return;
  }
  phase_ = Phase::Settling;
  serverWait_.pause(std::chrono::milliseconds(500), [this] {
    if (phase_ != Phase::Settling) return;
    phase_ = Phase::On;
    notify(Server::Up);
  });
}

void ScreenSharing::notify(Server result) {
  auto waiting = std::move(waiting_);
  waiting_.clear();
  for (auto& [context, then] : waiting) {
    if (context) then(result);
  }
}

void ScreenSharing::stopServer() {
  const bool running = serverProcesses() > 0;
  if (running) p_.processes.terminateFirst(serverName().toStdString());
  switch (phase_) {
    case Phase::Launched:
      // Not seen yet: it is ended when it shows up, within the bound.
      if (!running) {
        phase_ = Phase::Abandoned;
        break;
      }
      [[fallthrough]];
    case Phase::Settling:
    case Phase::On:
      serverWait_.cancel();
      phase_ = Phase::Off;
      break;
    case Phase::Off:
    case Phase::Abandoned:
      break;
  }
  notify(Server::Stopped);
}

void ScreenSharing::handOver(Waiter& waiter, std::function<void()> then) {
  waiter.until([this] { return serverProcesses() <= 1; }, bound_, [this, &waiter, then](bool handedOver) {
    if (!handedOver) {
      const unsigned stamp = waiter.stamp();
      p_.messages.show(&p_.window, QStringLiteral("Fehler"),
                       QStringLiteral("\"%1\" hat die Übergabe des Lehrermonitors nach %2 Sekunden nicht beendet.")
                           .arg(q(commands_.teacherToStudentProgram))
                           .arg(bound_.count() / 1000),
                       MessageDisplay::Kind::Warning);
      // Dropped while the teacher read it.
      if (waiter.stamp() != stamp) return;
    }
    waiter.pause(std::chrono::milliseconds(commands_.teacherHandOverWaitMs), then);
  });
}

// ---------------------------------------------------------------- one seat

void ScreenSharing::teacherScreenToSeat(int seat) {
  p_.window.barButton("lehrer_an_alle_button")->setEnabled(false);
  p_.window.barButton("alle_dunkelschalten_button")->setEnabled(false);
  p_.seats.setState(seat, SeatState::Teacher);
  p_.thumbnails.disconnect(seat);
  const QString name = p_.seats.name(seat);
  auto send = [this, seat, name](Server server) {
    if (p_.lock.closing()) return;
    // Taken back, reset or renamed meanwhile: this transfer is no longer wanted.
    if (p_.seats.state(seat) != SeatState::Teacher || p_.seats.name(seat) != name) return;
    if (server == Server::Up) {
      sendTeacherScreen(name);
      return;
    }
    // Nothing was sent: the seat and the buttons go back.
    p_.seats.setState(seat, SeatState::Normal);
    if (p_.seats.reachable(seat) && p_.thumbnails.shown()) p_.thumbnails.connectTo(seat, name);
    restoreToggledButtons();
  };
  if (serverMarked()) {
    send(Server::Up);
  } else {
    ensureServer(this, send);
  }
}

void ScreenSharing::restoreToggledButtons() {
  if (p_.lock.engaged()) return;
  if (p_.seats.allNormal()) p_.window.barButton("lehrer_an_alle_button")->setEnabled(true);
  if (!p_.seats.any(SeatState::Teacher)) p_.window.barButton("alle_dunkelschalten_button")->setEnabled(true);
}

// ---------------------------------------------------------------- loops

void ScreenSharing::studentScreenToAll(int source) {
  if (loop_.running) return;
  const QString name = p_.seats.name(source);
  loop_.thumbnails = p_.thumbnails.shown();
  p_.thumbnails.setShown(false);
  p_.lock.engage();
  p_.lock.beginSequence();
  loop_.running = true;
  const unsigned generation = ++loop_.generation;
  // The teacher PC now shows the source's screen, with remote control.
  control(name);
  if (generation != loop_.generation || p_.lock.closing()) return;
  p_.seats.setState(source, SeatState::Red);
  startLoop(name, SeatState::Green);
}

void ScreenSharing::teacherScreenToAll() {
  if (loop_.running) return;
  loop_.thumbnails = p_.thumbnails.shown();
  p_.thumbnails.setShown(false);
  p_.lock.engage();
  p_.lock.beginSequence();
  loop_.running = true;
  ++loop_.generation;
  startLoop(QString(), SeatState::Teacher);
}

void ScreenSharing::startLoop(const QString& skip, SeatState reached) {
  loop_.next = 1;
  loop_.skip = skip;
  loop_.reached = reached;
  loopStep(loop_.generation);
}

void ScreenSharing::loopStep(unsigned generation) {
  if (generation != loop_.generation || !loop_.running) return;
  int seat = loop_.next;
  while (seat <= kSeatCount && !p_.seats.reachable(seat)) ++seat;
  if (seat > kSeatCount) {
    endLoop();
    return;
  }
  loop_.next = seat + 1;
  p_.thumbnails.disconnect(seat);
  if (serverMarked()) {
    loopAt(generation, seat, Server::Up);
  } else {
    ensureServer(this, [this, generation, seat](Server server) { loopAt(generation, seat, server); });
  }
}

void ScreenSharing::loopAt(unsigned generation, int seat, Server server) {
  if (generation != loop_.generation || !loop_.running || p_.lock.closing()) return;
  // Without a server there is nothing to hand over; the other seats stay as they are.
  if (server != Server::Up) {
    endLoop();
    return;
  }
  // The seat may have gone off the network while the server started.
  const QString name = p_.seats.name(seat);
  if (!p_.seats.reachable(seat) || name.isEmpty() || name == loop_.skip) {
    loopStep(generation);
    return;
  }
  sendTeacherScreen(name);
  if (generation != loop_.generation || p_.lock.closing()) return;
  handOver(loopWait_, [this, generation, seat] {
    if (generation != loop_.generation || p_.lock.closing()) return;
    p_.seats.setState(seat, loop_.reached);
    loopStep(generation);
  });
}

void ScreenSharing::endLoop() {
  loop_.running = false;
  p_.thumbnails.setShown(loop_.thumbnails);
  p_.lock.endSequence();
}

void ScreenSharing::cancelLoop() {
  if (!loop_.running) return;
  ++loop_.generation;
  loop_.running = false;
  loopWait_.cancel();
  p_.lock.endSequence();
}

}  // namespace saalwacht::console

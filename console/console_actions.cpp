// What the teacher's clicks do: seat actions, screen sharing through the VNC
// programs, whole-class actions, messages, shut-down, screenshots, the seat
// walk of the reachability monitor and the close sequence.

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDate>
#include <QEventLoop>
#include <QFileInfo>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QPrinter>
#include <QSaveFile>
#include <QTime>
#include <QTimer>

#include "console/console.h"
#include "console/jpeg_image.h"
#include "console/message_display.h"
#include "platform/launcher.h"
#include "platform/processes.h"

namespace saalwacht::console {
namespace {

constexpr const char* kLockedButtons[] = {"lehrer_an_alle_button", "alle_dunkelschalten_button",
                                          "alle_herunterfahren_button", "nachricht_an_alle_button"};
constexpr const char* kSeatActionItems[kSeatActionCount] = {
    "Schuelermonitorholen", "Schuelermonitorfernsteuern", "Schuelermonitoranalleundfernsteuern",
    "Lehrermonitoruebertragen", "Monitordunkelschalten", "Nachrichtsenden", "Rechnerherunterfahren",
    "Screenshoterstellen"};

QString q(const std::string& text) { return QString::fromStdString(text); }

// A computer name is one word, whatever it holds.
QString quoted(const QString& word) { return q(platform::quoteParameter(word.toStdString())); }

}  // namespace

void Console::wireActions() {
  auto& w = *main_;
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    connect(w.seatButton(seat), &QAbstractButton::clicked, this, [this, seat] { seatClicked(seat); });
    connect(w.seatButton(seat), &QWidget::customContextMenuRequested, this, [this, seat](const QPoint& at) {
      if (editing()) {
        // The edit menu offers what fits the seat's name.
        popupSeat_ = seat;
        const bool named = !nameOf(seat).isEmpty();
        main_->action("Rechneraktivieren1")->setEnabled(!named);
        main_->action("Rechnernamenaendern1")->setEnabled(named);
        main_->editMenu()->popup(main_->seatButton(seat)->mapToGlobal(at));
        return;
      }
      // While the lock is engaged the seat menu does not open.
      if (actionLocked_) return;
      popupSeat_ = seat;
      // Item 2 follows the seat: usable on a normal seat, not on a blanked or
      // teacher-screen seat; any other state keeps the last setting.
      QAction* toAll = main_->action(kSeatActionItems[2]);
      const SeatState s = state(seat);
      if (s == SeatState::Normal) toAll->setEnabled(true);
      if (s == SeatState::Dark || s == SeatState::Teacher) toAll->setEnabled(false);
      main_->seatMenu()->popup(main_->seatButton(seat)->mapToGlobal(at));
    });
  }
  for (int action = 0; action < static_cast<int>(kSeatActionCount); ++action) {
    connect(w.action(kSeatActionItems[action]), &QAction::triggered, this, [this, action] {
      if (popupSeat_) seatMenuAction(popupSeat_, action);
    });
  }
  auto button = [&w](const char* name) { return w.findChild<QAbstractButton*>(QString::fromLatin1(name)); };
  connect(button("alle_zuruecksetzen_button"), &QAbstractButton::clicked, this, &Console::resetAll);
  connect(button("alle_dunkelschalten_button"), &QAbstractButton::clicked, this, &Console::blankAll);
  connect(button("lehrer_an_alle_button"), &QAbstractButton::clicked, this, &Console::teacherToAll);
  connect(button("nachricht_an_alle_button"), &QAbstractButton::clicked, this, &Console::messageToAll);
  connect(button("alle_herunterfahren_button"), &QAbstractButton::clicked, this, &Console::shutdownAllAsked);

  auto dialogButton = [](QWidget& dialog, const char* name) {
    return dialog.findChild<QAbstractButton*>(QString::fromLatin1(name));
  };
  connect(dialogButton(*message_, "Button1"), &QAbstractButton::clicked, this, &Console::sendMessage);
  connect(dialogButton(*shutdownSeat_, "Button1"), &QAbstractButton::clicked, this, &Console::confirmShutdownSeat);
  connect(dialogButton(*shutdownAll_, "Button1"), &QAbstractButton::clicked, this, &Console::confirmShutdownAll);
  connect(dialogButton(*screenshot_, "Cancel_Button"), &QAbstractButton::clicked, this, &Console::cancelScreenshot);
  connect(dialogButton(*screenshot_, "Save_Button"), &QAbstractButton::clicked, this, &Console::saveScreenshot);
  connect(dialogButton(*screenshot_, "Druck_Button"), &QAbstractButton::clicked, this, &Console::printScreenshot);
  connect(screenshot_.get(), &QDialog::rejected, this, [this] { closeScreenshotWindow(); });

  connect(&client_, &CommandClient::screenshotReceived, this, &Console::onScreenshot);
  connect(&client_, &CommandClient::screenshotCancelled, this, &Console::onScreenshotCancelled);
  connect(&monitor_, &ReachabilityMonitor::checked, this, &Console::seatUpdate);
}

// ---------------------------------------------------------------- seats

SeatState Console::state(int seat) const { return main_->seatButton(seat)->state(); }
void Console::setState(int seat, SeatState s) { main_->seatButton(seat)->setState(s); }
bool Console::seatEnabled(int seat) const { return main_->seatButton(seat)->isEnabled(); }
QString Console::nameOf(int seat) const { return main_->seatButton(seat)->computerName(); }

void Console::send(int seat, const QString& host, CommandKind kind, const QString& text) {
  client_.request(seat, host, {kind, text});
}

void Console::engageLock() {
  actionLocked_ = true;
  for (const char* name : kLockedButtons) main_->findChild<QWidget*>(QString::fromLatin1(name))->setEnabled(false);
  main_->actionList()->setEnabled(false);
  if (main_->action("Raumplan_bearbeiten")->isEnabled()) {
    for (int seat = 1; seat <= kSeatCount; ++seat) main_->seatButton(seat)->setCursor(Qt::ForbiddenCursor);
  }
}

void Console::releaseLock() {
  actionLocked_ = false;
  for (const char* name : kLockedButtons) main_->findChild<QWidget*>(QString::fromLatin1(name))->setEnabled(true);
  main_->actionList()->setEnabled(true);
  for (int seat = 1; seat <= kSeatCount; ++seat) main_->seatButton(seat)->setCursor(Qt::PointingHandCursor);
}

bool Console::allNormal() const {
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    if (seatEnabled(seat) && state(seat) != SeatState::Normal) return false;
  }
  return true;
}

void Console::refuse() {
  messages_.show(main_.get(), QStringLiteral("Saalwacht"), q(texts_.text("First_ALLReset_Message")),
                 MessageDisplay::Kind::Plain);
}

void Console::seatClicked(int seat) {
  if (actionLocked_) return;
  if (!main_->action("Raumplan_bearbeiten")->isEnabled()) return;
  const int action = main_->actionList()->currentIndex();
  runAction(seat, action);
  if ((action == 3 || action == 4) && allNormal()) releaseLock();
}

void Console::seatMenuAction(int seat, int action) { runAction(seat, action); }

void Console::runAction(int seat, int action) {
  const QString name = nameOf(seat);
  if (name.isEmpty()) return;
  // The seat's link is that of the first seat with this name.
  const int linkSeat = lookupSeat(seatNames(), name.toStdString()).value_or(seat);
  switch (action) {
    case 0:
      viewCommand(name);
      break;
    case 1:
      if (state(seat) == SeatState::Normal) {
        controlCommand(name);
      } else {
        refuse();
      }
      break;
    case 2:
      if (allNormal()) {
        studentScreenToAll(seat);
      } else {
        refuse();
      }
      break;
    case 3:
      if (state(seat) == SeatState::Dark) {
        setState(seat, SeatState::Normal);
        send(linkSeat, name, CommandKind::Reset);
      }
      if (state(seat) == SeatState::Teacher) {
        serverStop();
        for (int i = 1; i <= kSeatCount; ++i) {
          if (state(i) != SeatState::Teacher) continue;
          setState(i, SeatState::Normal);
          if (seatEnabled(i) && thumbnails_) connectThumbnail(i, nameOf(i));
        }
      } else if (state(seat) == SeatState::Normal) {
        main_->findChild<QWidget*>(QStringLiteral("lehrer_an_alle_button"))->setEnabled(false);
        main_->findChild<QWidget*>(QStringLiteral("alle_dunkelschalten_button"))->setEnabled(false);
        setState(seat, SeatState::Teacher);
        disconnectThumbnail(seat);
        if (!serverMarked_) serverStart();
        if (!closing_) teacherScreenCommand(name);
      }
      break;
    case 4:
      if (state(seat) == SeatState::Teacher) {
        setState(seat, SeatState::Normal);
        serverStop();
      }
      if (state(seat) == SeatState::Dark) {
        setState(seat, SeatState::Normal);
        if (thumbnails_) connectThumbnail(linkSeat, name);
        send(linkSeat, name, CommandKind::Reset);
      } else if (state(seat) == SeatState::Normal) {
        main_->findChild<QWidget*>(QStringLiteral("lehrer_an_alle_button"))->setEnabled(false);
        setState(seat, SeatState::Dark);
        disconnectThumbnail(linkSeat);
        send(linkSeat, name, CommandKind::Blank);
      }
      break;
    case 5:
      message_->setTarget(name);
      message_->show();
      message_->raise();
      message_->setFocus();
      break;
    case 6:
      shutdownSeat_->setComputerName(name);
      shutdownSeat_->show();
      shutdownSeat_->raise();
      shutdownSeat_->setFocus();
      break;
    case 7:
      requestScreenshot(linkSeat);
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------- VNC programs

void Console::launch(const QString& program, const QString& parameters, QWidget* parent) {
  const int result = launcher_.open(program.toStdString(), parameters.toStdString());
  if (auto text = platform::launchFailureText(result); !text.empty()) {
    messages_.show(parent ? parent : main_.get(), QStringLiteral("Fehler"), q(text), MessageDisplay::Kind::Warning);
  }
}

QString Console::serverProcessName() const {
  // A path in the configuration still names the program by its file name.
  return QFileInfo(q(config_.commands.serverProgram)).fileName();
}

bool Console::waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  if (done()) return true;
  QEventLoop loop;
  QTimer poll;
  QTimer deadline;
  deadline.setSingleShot(true);
  bool reached = false;
  connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) {
      reached = true;
      loop.quit();
    }
  });
  connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
  poll.start(20);
  deadline.start(timeout);
  loop.exec();
  return reached || done();
}

void Console::pause(std::chrono::milliseconds duration) {
  waitFor([] { return false; }, duration);
}

bool Console::serverStart() {
  launch(q(config_.commands.serverProgram), q(config_.commands.serverParameters));
  const std::string name = serverProcessName().toStdString();
  const bool up = waitFor([&] { return processes_.count(name) != 0; }, vncWaitBound_);
  if (!up) {
    messages_.show(main_.get(), QStringLiteral("Fehler"),
                   QStringLiteral("Der VNC-Server \"%1\" ist nach %2 Sekunden nicht gestartet. Die Übertragung des "
                                  "Lehrermonitors ist nicht möglich.")
                       .arg(q(config_.commands.serverProgram))
                       .arg(vncWaitBound_.count() / 1000),
                   MessageDisplay::Kind::Warning);
    return false;
  }
  pause(std::chrono::milliseconds(500));
  serverMarked_ = true;
  return true;
}

void Console::serverStop() {
  const std::string name = serverProcessName().toStdString();
  if (processes_.count(name) > 0) processes_.terminateFirst(name);
  serverMarked_ = false;
}

void Console::handOverWait() {
  const std::string name = serverProcessName().toStdString();
  if (!waitFor([&] { return processes_.count(name) <= 1; }, vncWaitBound_)) {
    messages_.show(main_.get(), QStringLiteral("Fehler"),
                   QStringLiteral("\"%1\" hat die Übergabe des Lehrermonitors nach %2 Sekunden nicht beendet.")
                       .arg(q(config_.commands.teacherToStudentProgram))
                       .arg(vncWaitBound_.count() / 1000),
                   MessageDisplay::Kind::Warning);
  }
  pause(std::chrono::milliseconds(config_.commands.teacherHandOverWaitMs));
}

void Console::viewCommand(const QString& name) {
  const char* presets[] = {"Bildgroesse_klein_Button", "Bildgroesse_mittel_Button", "Bildgroesse_gross_Button"};
  const std::string* scaling[] = {&config_.commands.scalingSmall, &config_.commands.scalingMedium,
                                  &config_.commands.scalingLarge};
  for (int i = 0; i < 3; ++i) {
    if (!settings_->radio(presets[i])->isChecked()) continue;
    launch(q(config_.commands.viewerProgram), viewParameters_ + QStringLiteral(" ") + quoted(name + QStringLiteral("::") +
                                                  q(config_.commands.viewerPort)) + QStringLiteral(" ") + q(*scaling[i]));
  }
}

void Console::controlCommand(const QString& name) {
  launch(q(config_.commands.viewerProgram),
         controlParameters_ + QStringLiteral(" ") + quoted(name + QStringLiteral("::") + q(config_.commands.viewerPort)));
}

void Console::teacherScreenCommand(const QString& name) {
  launch(q(config_.commands.teacherToStudentProgram),
         q(config_.commands.teacherToStudentParameters) + QStringLiteral(" ") + quoted(name));
}

void Console::studentScreenToAll(int source) {
  const QString sourceName = nameOf(source);
  const bool thumbnails = thumbnails_;
  thumbnails_ = false;
  engageLock();
  auto* reset = main_->findChild<QWidget*>(QStringLiteral("alle_zuruecksetzen_button"));
  reset->setEnabled(false);
  controlCommand(sourceName);
  setState(source, SeatState::Red);
  bool serverUp = true;
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    if (!seatEnabled(seat)) continue;
    const QString name = nameOf(seat);
    disconnectThumbnail(seat);
    // Without a server there is nothing to hand over; the seats stay as they are.
    if (!serverMarked_ && serverUp) serverUp = serverStart();
    // The console may have been closed during a wait: nothing may start after it.
    if (!serverUp || closing_) break;
    if (name != sourceName && !name.isEmpty()) {
      teacherScreenCommand(name);
      handOverWait();
      if (closing_) break;
      setState(seat, SeatState::Green);
    }
  }
  thumbnails_ = thumbnails;
  reset->setEnabled(true);
}

// ---------------------------------------------------------------- whole class

void Console::resetAll() {
  serverStop();
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    if (seatEnabled(seat)) {
      if (state(seat) == SeatState::Dark && thumbnails_) setViewerVisible(seat, true);
      send(seat, nameOf(seat), CommandKind::Reset);
    }
    setState(seat, SeatState::Normal);
  }
  releaseLock();
}

void Console::blankAll() {
  engageLock();
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    setState(seat, SeatState::Dark);
    setViewerVisible(seat, false);
    if (seatEnabled(seat)) send(seat, nameOf(seat), CommandKind::Blank);
  }
}

void Console::teacherToAll() {
  const bool thumbnails = thumbnails_;
  thumbnails_ = false;
  engageLock();
  auto* reset = main_->findChild<QWidget*>(QStringLiteral("alle_zuruecksetzen_button"));
  reset->setEnabled(false);
  bool serverUp = true;
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    if (!seatEnabled(seat)) continue;
    disconnectThumbnail(seat);
    if (!serverMarked_ && serverUp) serverUp = serverStart();
    if (!serverUp || closing_) break;
    teacherScreenCommand(nameOf(seat));
    handOverWait();
    if (closing_) break;
    setState(seat, SeatState::Teacher);
  }
  thumbnails_ = thumbnails;
  reset->setEnabled(true);
}

void Console::messageToAll() {
  message_->setTarget(q(texts_.text("Formular_SendMessage_Text4")));
  message_->show();
  message_->raise();
  message_->setFocus();
}

void Console::shutdownAllAsked() {
  shutdownAll_->show();
  shutdownAll_->raise();
  shutdownAll_->setFocus();
}

// ---------------------------------------------------------------- dialogs

void Console::sendMessage() {
  // The text is taken now, so every seat gets the same one.
  const QString text = message_->textField()->toPlainText();
  if (text.isEmpty()) {
    messages_.show(message_.get(), message_->windowTitle(), q(texts_.text("Formular_SendMessage_Text3")),
                   MessageDisplay::Kind::Plain);
    return;
  }
  const QString target = message_->target();
  if (target == q(texts_.text("Formular_SendMessage_Text4"))) {
    for (int seat = 1; seat <= kSeatCount; ++seat) {
      if (seatEnabled(seat)) send(seat, nameOf(seat), CommandKind::Message, text);
    }
  } else if (auto seat = lookupSeat(seatNames(), target.toStdString())) {
    send(*seat, target, CommandKind::Message, text);
  }
  message_->hide();
}

void Console::confirmShutdownSeat() {
  shutdownSeat_->hide();
  const QString name = shutdownSeat_->findChild<QLabel*>(QStringLiteral("Label3"))->text();
  // The seat's own link carries it, so it is never dropped for a busy other one.
  if (auto seat = lookupSeat(seatNames(), name.toStdString())) {
    send(*seat, name, CommandKind::Shutdown);
    setState(*seat, SeatState::Normal);
  }
}

void Console::confirmShutdownAll() {
  shutdownAll_->hide();
  serverStop();
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    setState(seat, SeatState::Normal);
    if (seatEnabled(seat)) send(seat, nameOf(seat), CommandKind::Shutdown);
  }
}

// ---------------------------------------------------------------- screenshots

void Console::requestScreenshot(int seat) {
  const QString name = nameOf(seat);
  // An older request still under way is no longer wanted.
  if (screenshotWaiting_) client_.cancelScreenshot(screenshotSeat_);
  screenshotSeat_ = seat;
  screenshotWaiting_ = true;
  screenshotCancelled_ = false;
  screenshotBytes_.clear();
  screenshotRequest_ = client_.request(seat, name, {CommandKind::Screenshot, {}});
  const QDateTime now = QDateTime::currentDateTime();
  screenshot_->showWaiting(QStringLiteral("Screenshot %1 - %2 - %3")
                               .arg(name, QLocale().toString(now.date(), QLocale::ShortFormat),
                                    now.time().toString(QStringLiteral("h.mm"))));
  screenshot_->show();
  screenshot_->raise();
}

void Console::onScreenshot(int seat, quint64 request, const QByteArray& jpeg) {
  // Only the picture of the latest request is shown.
  if (seat != screenshotSeat_ || request != screenshotRequest_ || !screenshotWaiting_) return;
  screenshotWaiting_ = false;
  QString error;
  const QImage picture = decodeJpeg(std::string_view(jpeg.constData(), static_cast<std::size_t>(jpeg.size())), error);
  if (picture.isNull()) {
    messages_.show(screenshot_.get(), screenshot_->windowTitle(), error, MessageDisplay::Kind::Error);
    closeScreenshotWindow();
    return;
  }
  screenshotBytes_ = jpeg;
  screenshot_->showPicture(picture);
}

void Console::onScreenshotCancelled(int seat, quint64 request) {
  if (seat != screenshotSeat_ || request != screenshotRequest_ || !screenshotWaiting_) return;
  // Cancelled by the teacher: the window goes. A PC that never answered
  // leaves the window waiting until the teacher closes it.
  if (screenshotCancelled_) {
    screenshotWaiting_ = false;
    closeScreenshotWindow();
  } else {
    screenshotWaiting_ = false;
  }
}

void Console::cancelScreenshot() {
  if (screenshotWaiting_ && client_.outstanding(CommandKind::Screenshot) > 0) {
    screenshotCancelled_ = true;
    client_.cancelScreenshot(screenshotSeat_);
    return;
  }
  closeScreenshotWindow();
}

void Console::closeScreenshotWindow() {
  screenshotWaiting_ = false;
  screenshotBytes_.clear();
  screenshot_->showWaiting(screenshot_->windowTitle());
  screenshot_->hide();
}

void Console::saveScreenshot() {
  if (screenshotBytes_.isEmpty()) return;
  const QString file = messages_.askSaveFileName(screenshot_.get(), screenshot_->windowTitle() + QStringLiteral(".jpg"),
                                                 QStringLiteral("JPEG-Grafikdatei (*.jpg)"));
  if (file.isEmpty()) return;
  // The file holds the JPEG bytes as the student PC sent them.
  QSaveFile out(file);
  if (!out.open(QIODevice::WriteOnly) || out.write(screenshotBytes_) != screenshotBytes_.size() || !out.commit()) {
    messages_.show(screenshot_.get(), screenshot_->windowTitle(),
                   QStringLiteral("%1 kann nicht gespeichert werden: %2").arg(file, out.errorString()),
                   MessageDisplay::Kind::Error);
    return;
  }
  closeScreenshotWindow();
}

void Console::printScreenshot() {
  if (screenshotBytes_.isEmpty()) return;
  QString error;
  const QImage picture =
      decodeJpeg(std::string_view(screenshotBytes_.constData(), static_cast<std::size_t>(screenshotBytes_.size())),
                 error);
  if (picture.isNull()) return;
  QPrinter printer(QPrinter::HighResolution);
  printer.setPageOrientation(QPageLayout::Portrait);
  printer.setDocName(QStringLiteral("Saalwacht - Screenshot"));
  if (!messages_.choosePrinter(screenshot_.get(), printer)) return;
  QPainter painter;
  if (!painter.begin(&printer)) {
    messages_.show(screenshot_.get(), screenshot_->windowTitle(), QStringLiteral("Der Drucker kann nicht drucken."),
                   MessageDisplay::Kind::Error);
    return;
  }
  const QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
  const int margin = printer.resolution() / 3;
  QFont heading = painter.font();
  heading.setBold(true);
  heading.setUnderline(true);
  heading.setPointSize(14);
  painter.setFont(heading);
  const QRect headingRect(margin, margin, page.width() - 2 * margin, printer.resolution() / 2);
  painter.drawText(headingRect, Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Saalwacht - ") + screenshot_->windowTitle());
  // The picture fills the page width and keeps its proportions, however wide it is.
  QRect area(margin, headingRect.bottom() + margin, page.width() - 2 * margin,
             page.height() - headingRect.bottom() - 2 * margin);
  const QSize fitted = picture.size().scaled(area.size(), Qt::KeepAspectRatio);
  painter.drawImage(QRect(area.topLeft(), fitted), picture);
  painter.end();
  closeScreenshotWindow();
}

// ---------------------------------------------------------------- seat walk

void Console::seatUpdate(const QString& name, bool reachable) {
  if (!monitoring_ || closing_) return;
  // A wait below lets the teacher edit the plan, which starts a new walk;
  // this one must then end here instead of running beside it.
  const unsigned walk = walk_;
  const int seat = seatCursor_;
  SeatButton* button = main_->seatButton(seat);
  // A plan edited meanwhile may have renamed the seat; its result is still the
  // seat's, as the walk visits seats by number.
  Q_UNUSED(name);
  if (reachable) {
    if (!button->isEnabled()) {
      if (state(seat) == SeatState::Teacher) {
        teacherScreenCommand(nameOf(seat));
        handOverWait();
      } else if (state(seat) == SeatState::Dark) {
        send(seat, nameOf(seat), CommandKind::Blank);
      }
    }
    if (!monitoring_ || closing_ || walk != walk_) return;
    button->setEnabled(true);
    if (state(seat) == SeatState::Normal && thumbnails_) {
      connectThumbnail(seat, currentComputerName_);
    } else if (viewers_[seat - 1] && viewers_[seat - 1]->connectionUp() && !thumbnails_) {
      disconnectThumbnail(seat);
    }
  } else {
    button->setEnabled(false);
    disconnectThumbnail(seat);
  }
  seatCursor_ = seatCursor_ == kSeatCount ? 1 : seatCursor_ + 1;
  const auto next = findNamedSeat(seatNames(), seatCursor_);
  if (!next) {
    currentComputerName_.clear();
    return;
  }
  seatCursor_ = *next;
  currentComputerName_ = nameOf(seatCursor_);
  monitor_.check(currentComputerName_);
}

// ---------------------------------------------------------------- closing

void Console::requestClose() {
  if (closing_) return;
  closing_ = true;
  for (QWidget* window : std::initializer_list<QWidget*>{about_.get(), seatName_.get(), settings_.get(),
                                                         shutdownSeat_.get(), shutdownAll_.get(), message_.get(),
                                                         security_.get(), screenshot_.get()}) {
    window->hide();
  }
  exitWait_->show();
  exitWait_->raise();
  monitoring_ = false;
  monitor_.stop();
  ++walk_;
  // A screenshot under way must not hold up a reset queued behind it.
  for (int seat = 1; seat <= kSeatCount; ++seat) client_.cancelScreenshot(seat);
  if (internetTimer_) internetTimer_->stop();
  thumbnails_ = false;
  lockInternet();
  serverStop();
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    if (!seatEnabled(seat)) continue;
    setState(seat, SeatState::Normal);
    send(seat, nameOf(seat), CommandKind::Reset);
    disconnectThumbnail(seat);
  }
  // Every reset is delivered or has failed before the console goes, so no
  // student PC stays blanked; a PC that does not answer costs at most 15 s.
  waitFor([this] { return client_.outstanding(CommandKind::Reset) == 0; }, std::chrono::seconds(15));
  pause(std::chrono::seconds(1));
  exitWait_->hide();
  main_->closing_ = true;
  main_->close();
  QCoreApplication::quit();
}

}  // namespace saalwacht::console

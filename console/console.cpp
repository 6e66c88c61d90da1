#include "console/console.h"

#include <QApplication>
#include <QMenu>
#include <QTimer>

#include "console/classroom/action_lock.h"
#include "console/classroom/command_link.h"
#include "console/classroom/console_key.h"
#include "console/classroom/console_settings.h"
#include "console/classroom/internet_access.h"
#include "console/classroom/messaging.h"
#include "console/classroom/program_starter.h"
#include "console/classroom/remote_password.h"
#include "console/classroom/room_plan_editing.h"
#include "console/classroom/screen_sharing.h"
#include "console/classroom/screenshots.h"
#include "console/classroom/seat_actions.h"
#include "console/classroom/seat_walk.h"
#include "console/classroom/seats.h"
#include "console/classroom/thumbnails.h"
#include "console/classroom/whole_class.h"
#include "console/core/picture_store.h"
#include "console/message_display.h"
#include "console/thumbnail_viewer.h"
#include "platform/echo.h"
#include "platform/version.h"

namespace saalwacht::console {
namespace {

QString q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
QString q(const std::string& text) { return QString::fromStdString(text); }

// Controls that only hold a text for a message shown later; the
// capabilities get those texts from InterfaceTexts.
bool isMessageHolder(std::string_view window, std::string_view control) {
  static constexpr std::pair<std::string_view, std::string_view> kHolders[] = {
      {"TForm1", "Zuerst_alle_zuruecksetzen_Meldung"},
      {"TForm4", "ResolutionChangedMessage"},
      {"TForm4", "Raumplanhintergrundauswahl_Label2"},
      {"TForm13", "Falsches_altes_Password_Meldung"},
      {"TForm13", "Falsche_Passwordlaenge_Meldung"},
      {"TForm13", "Password_gespeichert_Meldung"},
      {"TForm13", "Password_wiederholen_Meldung"},
      {"TForm2", "Label3"},
      {"TForm2", "Label4"},
      {"TForm14", "Exportiert_Meldung"},
      {"TForm1", "Abgewiesen_Meldung"},
      {"TForm_Screenshot", "KeinBild_Meldung"},
  };
  for (const auto& [w, c] : kHolders) {
    if (w == window && c == control) return true;
  }
  return false;
}

constexpr const char* kSeatActionItems[kSeatActionCount] = {
    "Schuelermonitorholen", "Schuelermonitorfernsteuern", "Schuelermonitoranalleundfernsteuern",
    "Lehrermonitoruebertragen", "Monitordunkelschalten", "Nachrichtsenden", "Rechnerherunterfahren",
    "Screenshoterstellen"};

}  // namespace

Console::Console(ConsolePaths paths, ConsoleServices services)
    : paths_(std::move(paths)),
      messages_(services.messages),
      echoProblem_(q(services.echo.missingPermission())),
      client_(4000, services.commandTimeouts),
      main_(std::make_unique<MainWindow>()),
      about_(std::make_unique<AboutBox>()),
      exitWait_(std::make_unique<ExitWaitWindow>()),
      seatName_(std::make_unique<SeatNameDialog>()),
      settings_(std::make_unique<SettingsDialog>()),
      shutdownSeat_(std::make_unique<ShutdownSeatDialog>()),
      shutdownAll_(std::make_unique<ShutdownAllDialog>()),
      message_(std::make_unique<MessageDialog>()),
      security_(std::make_unique<SecurityDialog>(services.messages)),
      screenshot_(std::make_unique<ScreenshotWindow>()),
      consoleKey_(std::make_unique<ConsoleKeyDialog>()) {
  createCapabilities(services);
  wire();
}

Console::~Console() {
  // The capabilities go first: their pending steps end with them. The
  // viewers go with the main window; their workers then end within a moment
  // (a connect under way within its time-out).
  editing_.reset();
  wholeClass_.reset();
  actions_.reset();
  messaging_.reset();
  screenshots_.reset();
  walk_.reset();
  sharing_.reset();
  settingsLogic_.reset();
  internet_.reset();
  password_.reset();
  key_.reset();
  thumbnails_.reset();
  link_.reset();
  lock_.reset();
  main_.reset();
  waitForThumbnailWorkers();
}

void Console::createCapabilities(const ConsoleServices& services) {
  auto& w = *main_;
  seats_ = std::make_unique<Seats>(w);
  starter_ = std::make_unique<ProgramStarter>(services.launcher, messages_, w);
  lock_ = std::make_unique<ActionLock>(w);
  link_ = std::make_unique<CommandLink>(client_);
  thumbnails_ = std::make_unique<Thumbnails>(
      w, Thumbnails::Sources{[this] { return settings_->zoomControl()->value(); },
                             [this]() -> std::optional<int> {
                               bool numeric = false;
                               const int port = q(config_.commands.viewerPort).toInt(&numeric);
                               if (!numeric || port <= 0 || port > 65535) return std::nullopt;
                               return port;
                             },
                             [this] { return security_->remotePassword(); }});
  password_ = std::make_unique<RemotePassword>(*security_, paths_.home / kPictureStoreFileName);
  key_ = std::make_unique<ConsoleKey>(*consoleKey_, messages_, &w, paths_.home);
  internet_ = std::make_unique<InternetAccess>(
      InternetAccess::Buttons{w.barButton("Internetfreigebenbutton"), w.barButton("Internetsperrenbutton"),
                              [this] { return settings_->radio("Internetfreigabebutton_anzeigen")->isChecked(); }},
      *starter_, services.processes, *lock_);
  settingsLogic_ = std::make_unique<ConsoleSettings>(ConsoleSettings::Parts{
      *settings_, w, messages_, *thumbnails_, *internet_, *lock_, paths_.home / kConfigurationFileName});
  sharing_ = std::make_unique<ScreenSharing>(
      ScreenSharing::Parts{*starter_, services.processes, messages_, w, *seats_, *thumbnails_, *lock_},
      services.vncWaitBound);
  walk_ = std::make_unique<SeatWalk>(services.echo, *seats_, *thumbnails_, *link_, *sharing_);
  screenshots_ = std::make_unique<Screenshots>(*link_, *seats_, *screenshot_, messages_);
  messaging_ = std::make_unique<Messaging>(*message_, messages_, *seats_, *link_, *lock_);
  actions_ = std::make_unique<SeatActions>(
      SeatActions::Parts{w, *shutdownSeat_, messages_, *seats_, *lock_, *link_, *thumbnails_, *sharing_, *messaging_,
                         *screenshots_},
      [this] { return settingsLogic_->picturePreset(); }, QString());
  wholeClass_ = std::make_unique<WholeClass>(WholeClass::Parts{
      *seats_, *lock_, *link_, *thumbnails_, *sharing_, *walk_, *internet_, *screenshots_, *messaging_, *shutdownAll_,
      *exitWait_,
      {about_.get(), seatName_.get(), settings_.get(), shutdownSeat_.get(), shutdownAll_.get(), message_.get(),
       security_.get(), screenshot_.get()}});
  editing_ = std::make_unique<RoomPlanEditing>(RoomPlanEditing::Parts{
      w, *seatName_, messages_, *seats_, *lock_, *thumbnails_, *walk_, *password_,
      paths_.home / kConfigurationFileName, [this] { return settingsLogic_->backgroundSet(); }});
}

void Console::wire() {
  auto& w = *main_;
  auto clicked = [](QAbstractButton* button, auto* receiver, auto slot) {
    connect(button, &QAbstractButton::clicked, receiver, slot);
  };
  auto triggered = [&w](const char* item, auto* receiver, auto slot) {
    connect(w.action(item), &QAction::triggered, receiver, slot);
  };
  auto dialogButton = [](QWidget& dialog, const char* name) {
    return dialog.findChild<QAbstractButton*>(QString::fromLatin1(name));
  };

  // Main menu and closing.
  connect(&w, &MainWindow::closeRequested, this, &Console::requestClose);
  triggered("Beenden1", this, &Console::requestClose);
  triggered("Hilfe2", this, &Console::openHelp);
  triggered("Info1", this, &Console::showAbout);
  triggered("Einstellungen1", this, [this] {
    settings_->show();
    settings_->raise();
  });
  triggered("Sicherheit1", password_.get(), &RemotePassword::openDialog);
  triggered("Konsolenschluessel1", key_.get(), &ConsoleKey::openDialog);
  connect(&client_, &CommandClient::refused, key_.get(), [this](int, const QString& host) { key_->refusedBy(host); });
  triggered("Miniaturbildereinblenden1", thumbnails_.get(), &Thumbnails::showAll);
  triggered("Miniaturbilderausblenden1", thumbnails_.get(), &Thumbnails::hideAll);
  connect(about_.get(), &AboutBox::webLinkClicked, this,
          [this](const QString& address) { starter_->start(address, QStringLiteral("0"), about_.get()); });
  connect(about_.get(), &QDialog::finished, main_.get(), [this] { main_->repaint(); });
  connect(password_.get(), &RemotePassword::changed, sharing_.get(), &ScreenSharing::addPasswordOption);

  // Seats: a click acts or drags; the context menu is the seat menu or, while
  // the plan is edited, the edit menu.
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    connect(w.seatButton(seat), &QAbstractButton::clicked, this, [this, seat] { actions_->clicked(seat); });
    connect(w.seatButton(seat), &QWidget::customContextMenuRequested, this, [this, seat](const QPoint& at) {
      const QPoint where = main_->seatButton(seat)->mapToGlobal(at);
      if (editing_->editing()) {
        editing_->menuOpening(seat);
        main_->editMenu()->popup(where);
      } else if (actions_->menuOpening(seat)) {
        popupSeat_ = seat;
        main_->seatMenu()->popup(where);
      }
    });
  }
  for (int action = 0; action < static_cast<int>(kSeatActionCount); ++action) {
    triggered(kSeatActionItems[action], this, [this, action] {
      if (popupSeat_) actions_->menuAction(popupSeat_, action);
    });
  }

  // Whole class.
  clicked(w.barButton("alle_zuruecksetzen_button"), wholeClass_.get(), &WholeClass::resetAll);
  clicked(w.barButton("alle_dunkelschalten_button"), wholeClass_.get(), &WholeClass::blankAll);
  clicked(w.barButton("lehrer_an_alle_button"), wholeClass_.get(), &WholeClass::teacherToAll);
  clicked(w.barButton("nachricht_an_alle_button"), wholeClass_.get(), &WholeClass::messageToAll);
  clicked(w.barButton("alle_herunterfahren_button"), wholeClass_.get(), &WholeClass::askShutdownAll);
  clicked(w.barButton("Internetfreigebenbutton"), internet_.get(), &InternetAccess::release);
  clicked(w.barButton("Internetsperrenbutton"), internet_.get(), &InternetAccess::lock);

  // Dialogs.
  clicked(dialogButton(*message_, "Button1"), messaging_.get(), &Messaging::send);
  clicked(dialogButton(*shutdownSeat_, "Button1"), actions_.get(), &SeatActions::confirmShutdown);
  clicked(dialogButton(*shutdownAll_, "Button1"), wholeClass_.get(), &WholeClass::confirmShutdownAll);
  clicked(dialogButton(*screenshot_, "Cancel_Button"), screenshots_.get(), &Screenshots::cancel);
  clicked(dialogButton(*screenshot_, "Save_Button"), screenshots_.get(), &Screenshots::save);
  clicked(dialogButton(*screenshot_, "Druck_Button"), screenshots_.get(), &Screenshots::print);
  connect(screenshot_.get(), &QDialog::rejected, screenshots_.get(), &Screenshots::windowClosed);

  // Room plan editing.
  triggered("Raumplan_bearbeiten", editing_.get(), &RoomPlanEditing::begin);
  clicked(w.barButton("Neuer_Rechner"), editing_.get(), &RoomPlanEditing::addSeat);
  clicked(w.barButton("Raumplanspeichern"), editing_.get(), &RoomPlanEditing::save);
  clicked(w.barButton("Raumplanabbrechen_Button"), editing_.get(), &RoomPlanEditing::cancel);
  triggered("Rechnerdeaktivieren1", this, [this] { editing_->deleteSeat(editing_->menuSeat()); });
  triggered("Rechneraktivieren1", editing_.get(), &RoomPlanEditing::enterName);
  triggered("Rechnernamenaendern1", editing_.get(), &RoomPlanEditing::changeName);
  connect(seatName_.get(), &QDialog::accepted, editing_.get(), &RoomPlanEditing::nameChosen);
}

QWidget* Console::windowNamed(std::string_view name) const {
  for (QWidget* window : std::initializer_list<QWidget*>{main_.get(), about_.get(), exitWait_.get(), seatName_.get(),
                                                         settings_.get(), shutdownSeat_.get(), shutdownAll_.get(),
                                                         message_.get(), security_.get(), screenshot_.get(),
                                                         consoleKey_.get()}) {
    if (window->objectName() == q(name)) return window;
  }
  return nullptr;
}

void Console::applyTexts() {
  for (const auto& key : interfaceTextKeys()) {
    if (isMessageHolder(key.window, key.control)) continue;
    QWidget* window = windowNamed(key.window);
    if (!window) continue;
    const QString text = q(texts_.text(key.key));
    if (key.control.empty()) {
      window->setWindowTitle(text);
      continue;
    }
    QObject* target = window->findChild<QObject*>(q(key.control));
    if (auto* menu = qobject_cast<QMenu*>(target)) {
      menu->setTitle(text);
    } else if (auto* action = qobject_cast<QAction*>(target)) {
      action->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(target)) {
      label->setText(text);
      if (label->property("autoSize").toBool()) label->adjustSize();
    } else if (auto* button = qobject_cast<QAbstractButton*>(target)) {
      if (key.property == TextProperty::Hint) {
        button->setToolTip(text);
      } else {
        button->setText(text);
        if (button->property("autoSize").toBool()) button->adjustSize();
      }
    }
  }
  auto* list = main_->actionList();
  list->clear();
  for (const auto& entry : texts_.actionList()) list->addItem(q(entry));
  list->setCurrentIndex(static_cast<int>(texts_.selectedAction()));

  security_->setTexts({q(texts_.text("Formular_Security_WrongPasswordMessage")),
                       q(texts_.text("Formular_Security_WrongPasswordlengthMessage")),
                       q(texts_.text("Formular_Security_PasswordSavedMessage")),
                       q(texts_.text("Formular_Security_RepeatPasswordMessage")), QString()});
  settingsLogic_->setTexts({q(texts_.text("Options_ChooseClassroomBackgroundpictureLabel2")),
                            q(texts_.text("Options_ResolutionChangedMessage"))});
  messaging_->setTexts({q(texts_.text("Formular_SendMessage_Text4")), q(texts_.text("Formular_SendMessage_Text3"))});
  actions_->setRefusal(q(texts_.text("First_ALLReset_Message")));
  key_->setTexts({q(texts_.text("ConsoleKey_ExportedMessage")), q(texts_.text("ConsoleKey_RefusedMessage"))});
  screenshots_->setNoPictureText(q(texts_.text("Screenshot_NoPictureMessage")));
  // The message dialog's target lies right after the (translated) "Nachricht an ".
  message_->setTarget(message_->target());
}

std::optional<QString> Console::start() {
  const auto configPath = paths_.home / kConfigurationFileName;
  auto loaded = ProfileFile::load(configPath);
  if (auto* error = std::get_if<ProfileLoadError>(&loaded)) return q(error->message);
  const ProfileFile& profile = std::get<ProfileFile>(loaded);

  auto result = loadConfiguration(profile);
  if (auto* error = std::get_if<ConversionError>(&result)) return q(error->message());
  config_ = std::get<Configuration>(std::move(result));
  texts_ = loadInterfaceTexts(profile);
  applyTexts();
  editing_->layOut(config_.room);
  internet_->configure(config_.internet);
  settingsLogic_->apply(config_.settings);
  if (auto error = password_->read()) return error;
  if (auto error = key_->loadOrMake()) return error;
  client_.setSigner(key_->signer());
  sharing_->configure(config_.commands, password_->password());

  thumbnails_->create();
  main_->setWindowTitle(q(config_.windowTitle));
  thumbnails_->setShown(config_.settings.thumbnails);
  if (config_.settings.internetButton) internet_->check();
  walk_->start();

  password_->askAtStart();
  return std::nullopt;
}

void Console::showMainWindow() {
  if (config_.settings.windowSize == WindowSizeSetting::Fullscreen) {
    main_->showMaximized();
  } else {
    main_->showNormal();
  }
  // Said once, so the teacher knows why every PC looks switched off.
  if (!echoProblem_.isEmpty()) {
    QTimer::singleShot(0, this, [this] {
      messages_.show(main_.get(), QStringLiteral("Saalwacht"), echoProblem_, MessageDisplay::Kind::Warning);
    });
  }
}

void Console::requestClose() {
  wholeClass_->close([this] {
    closed_ = true;
    main_->closeForGood();
    QCoreApplication::quit();
  });
}

bool Console::closing() const { return lock_->closing(); }

void Console::seatClicked(int seat) { actions_->clicked(seat); }
void Console::seatMenuAction(int seat, int action) { actions_->menuAction(seat, action); }
void Console::resetAll() { wholeClass_->resetAll(); }
void Console::blankAll() { wholeClass_->blankAll(); }
void Console::teacherToAll() { wholeClass_->teacherToAll(); }
void Console::messageToAll() { wholeClass_->messageToAll(); }
void Console::shutdownAllAsked() { wholeClass_->askShutdownAll(); }
void Console::beginEditing() { editing_->begin(); }
void Console::addSeat() { editing_->addSeat(); }
void Console::savePlan() { editing_->save(); }
void Console::cancelEditing() { editing_->cancel(); }
void Console::deleteSeat(int seat) { editing_->deleteSeat(seat); }
bool Console::editing() const { return editing_->editing(); }
void Console::checkInternetButtons() { internet_->check(); }

void Console::openHelp() {
  // The folder is the menu item's caption, so a translation names its own.
  const QString caption = main_->action("Hilfe2")->text();
  starter_->start(q((paths_.programFolder / caption.toStdString() / "index.htm").string()), QStringLiteral("0"));
}

void Console::showAbout() {
  about_->setVersionText(q(platform::fileVersionText(paths_.executable)));
  about_->show();
  about_->raise();
  about_->activateWindow();
}

bool Console::thumbnailsShown() const { return thumbnails_->shown(); }
bool Console::actionLocked() const { return lock_->engaged(); }
bool Console::serverMarked() const { return sharing_->serverMarked(); }
const QByteArray& Console::screenshotBytes() const { return screenshots_->bytes(); }
const QString& Console::viewParameters() const { return sharing_->viewParameters(); }
const QString& Console::controlParameters() const { return sharing_->controlParameters(); }
const QString& Console::remotePassword() const { return password_->password(); }
int Console::seatCursor() const { return walk_->cursor(); }
bool Console::monitoring() const { return walk_->monitoring(); }
const QString& Console::currentComputerName() const { return walk_->currentName(); }
SeatNames Console::seatNames() const { return seats_->names(); }
ThumbnailViewer* Console::viewer(int seat) const { return thumbnails_->viewer(seat); }
ReachabilityMonitor& Console::monitor() { return walk_->monitor(); }

}  // namespace saalwacht::console

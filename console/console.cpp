#include "console/console.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QMenu>
#include <QTimer>

#include "console/jpeg_image.h"
#include "console/message_display.h"
#include "platform/echo.h"
#include "platform/launcher.h"
#include "platform/version.h"

namespace saalwacht::console {
namespace {

QString q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
QString q(const std::string& text) { return QString::fromStdString(text); }

// Controls that only hold a text for a message shown later; the console
// reads those texts from InterfaceTexts when it needs them.
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
  };
  for (const auto& [w, c] : kHolders) {
    if (w == window && c == control) return true;
  }
  return false;
}

}  // namespace

Console::Console(ConsolePaths paths, ConsoleServices services)
    : paths_(std::move(paths)),
      launcher_(services.launcher),
      processes_(services.processes),
      messages_(services.messages),
      vncWaitBound_(services.vncWaitBound),
      client_(4000, services.commandTimeouts),
      monitor_(services.echo) {
  echoProblem_ = q(services.echo.missingPermission());
  // Every window exists from the start, in this order, for the whole run.
  main_ = std::make_unique<MainWindow>();
  about_ = std::make_unique<AboutBox>();
  exitWait_ = std::make_unique<ExitWaitWindow>();
  seatName_ = std::make_unique<SeatNameDialog>();
  settings_ = std::make_unique<SettingsDialog>();
  shutdownSeat_ = std::make_unique<ShutdownSeatDialog>();
  shutdownAll_ = std::make_unique<ShutdownAllDialog>();
  message_ = std::make_unique<MessageDialog>();
  security_ = std::make_unique<SecurityDialog>(messages_, [this](const QString& pw) { return storePassword(pw); });
  screenshot_ = std::make_unique<ScreenshotWindow>();
  wireMenus();
  wireActions();
  wireEditing();
}

Console::~Console() {
  // The viewers go with the main window; their workers then end within a
  // moment (a connect under way within its time-out).
  main_.reset();
  waitForThumbnailWorkers();
}

void Console::wireMenus() {
  auto& w = *main_;
  connect(&w, &MainWindow::closeRequested, this, &Console::requestClose);
  connect(w.action("Beenden1"), &QAction::triggered, this, &Console::requestClose);
  connect(w.action("Hilfe2"), &QAction::triggered, this, &Console::openHelp);
  connect(w.action("Info1"), &QAction::triggered, this, &Console::showAbout);
  connect(w.action("Einstellungen1"), &QAction::triggered, this, [this] {
    settings_->show();
    settings_->raise();
  });
  connect(w.action("Sicherheit1"), &QAction::triggered, this, [this] {
    security_->show();
    security_->raise();
  });
  connect(about_.get(), &AboutBox::webLinkClicked, this,
          [this](const QString& address) { launch(address, QStringLiteral("0"), about_.get()); });
  connect(about_.get(), &QDialog::finished, main_.get(), [this] { main_->repaint(); });
}

QWidget* Console::windowNamed(std::string_view name) const {
  for (QWidget* window : std::initializer_list<QWidget*>{main_.get(), about_.get(), exitWait_.get(), seatName_.get(),
                                                         settings_.get(), shutdownSeat_.get(), shutdownAll_.get(),
                                                         message_.get(), security_.get(), screenshot_.get()}) {
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
  // Made from the picture's design size at start-up.
  settings_->makeSizeSuggestion(q(texts_.text("Options_ChooseClassroomBackgroundpictureLabel2")), 965, 590);
  // The message dialog's target lies right after the (translated) "Nachricht an ".
  message_->setTarget(message_->target());
}

void Console::applyRoomPlan(const RoomPlan& plan) {
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    SeatButton* button = main_->seatButton(seat);
    QWidget* panel = main_->seatPanel(seat);
    const QString name = q(plan.names[seat - 1]);
    button->setText(name);
    if (name.isEmpty()) {
      button->hide();
      panel->hide();
    } else {
      const auto& at = plan.positions[seat - 1];
      panel->move(at.left, at.top);
      panel->show();
      button->show();
    }
    // Seats wait for their PC's first answer; their state stays as it was.
    button->setEnabled(false);
  }
}

void Console::applySettings() {
  const auto& s = config_.settings;
  if (s.windowSize == WindowSizeSetting::Normal) settings_->radio("Fenstergroesse_normal")->setChecked(true);
  if (s.windowSize == WindowSizeSetting::Fullscreen) settings_->radio("Fenstergroesse_Vollbild")->setChecked(true);
  const char* preset[] = {"Bildgroesse_klein_Button", "Bildgroesse_mittel_Button", "Bildgroesse_gross_Button"};
  settings_->radio(preset[s.picturePreset - 1])->setChecked(true);
  settings_->zoomControl()->setValue(s.thumbnailZoom);
  main_->roomPlan()->setTitle(q(s.roomName));

  settings_->pictureField()->clear();
  main_->background()->setPicture({});
  if (!s.backgroundPicture.empty()) {
    const QString path = q(s.backgroundPicture);
    QString error;
    // A picture that is gone is dropped silently; one that cannot be decoded
    // is dropped too, so a damaged file never blocks the start.
    if (QFileInfo::exists(path)) {
      const QImage picture = loadJpegFile(path, error);
      if (!picture.isNull()) {
        settings_->pictureField()->setText(path);
        main_->background()->setPicture(picture);
      }
    }
  }

  settings_->radio(s.thumbnails ? "Miniaturbilder_anzeigen" : "Miniaturbilder_ausblenden")->setChecked(true);
  settings_->radio(s.thumbnailMenu ? "Miniaturbilder_einausblenden_Button_anzeigen"
                                   : "Miniaturbilder_einausblenden_Button_ausblenden")
      ->setChecked(true);
  main_->submenu("Ansicht1")->menuAction()->setVisible(s.thumbnailMenu);
  main_->action("Miniaturbildereinblenden1")->setVisible(!s.thumbnails);
  main_->action("Miniaturbilderausblenden1")->setVisible(s.thumbnails);

  settings_->radio(s.internetButton ? "Internetfreigabebutton_anzeigen" : "Internetfreigabebutton_ausblenden")
      ->setChecked(true);
  main_->findChild<QWidget*>(QStringLiteral("Internetfreigebenbutton"))->setVisible(s.internetButton);
  main_->findChild<QWidget*>(QStringLiteral("Internetsperrenbutton"))->setVisible(false);
}

std::optional<QString> Console::start() {
  const auto configPath = paths_.home / kConfigurationFileName;
  auto loaded = ProfileFile::load(configPath);
  if (auto* error = std::get_if<ProfileLoadError>(&loaded)) return q(error->message);
  const ProfileFile& profile = std::get<ProfileFile>(loaded);

  if (!planReload_) {
    auto result = loadConfiguration(profile);
    if (auto* error = std::get_if<ConversionError>(&result)) return q(error->message());
    config_ = std::get<Configuration>(std::move(result));
    texts_ = loadInterfaceTexts(profile);
    applyTexts();
    applyRoomPlan(config_.room);
    applySettings();

    std::string error;
    const auto store = readPictureStore(paths_.home / kPictureStoreFileName, error);
    if (!store) return q(error);
    store_ = *store;
    security_->setRemotePassword(q(store_.remotePassword));
    // Quoted as the launcher splits words, so a blank in a password stays in it.
    const QString suffix = QStringLiteral(" -password ") + q(platform::quoteParameter(store_.remotePassword));
    viewParameters_ = q(config_.commands.viewParameters) + suffix;
    controlParameters_ = q(config_.commands.controlParameters) + suffix;
  } else {
    auto result = loadRoomPlan(profile);
    if (auto* error = std::get_if<ConversionError>(&result)) return q(error->message());
    config_.room = std::get<RoomPlan>(std::move(result));
    applyRoomPlan(config_.room);
  }

  // Once per run: a room plan reload keeps the title and the rest.
  if (firstShow_ && !planReload_) {
    if (!viewers_[0]) createThumbnails();
    main_->setWindowTitle(q(config_.windowTitle));
    thumbnails_ = config_.settings.thumbnails;
    if (config_.settings.internetButton) checkInternetButtons();
  }
  startMonitoring();

  if (security_->remotePassword() == QStringLiteral("0")) security_->exec();
  return std::nullopt;
}

void Console::startMonitoring() {
  const auto names = seatNames();
  monitoring_ = true;
  ++walk_;
  const auto seat = findNamedSeat(names, seatCursor_);
  // An empty plan leaves the walk idle instead of searching for ever.
  if (!seat) {
    currentComputerName_.clear();
    return;
  }
  seatCursor_ = *seat;
  currentComputerName_ = q(names[*seat - 1]);
  monitor_.stop();
  monitor_.check(currentComputerName_);
}

SeatNames Console::seatNames() const {
  SeatNames names;
  for (int seat = 1; seat <= kSeatCount; ++seat) names[seat - 1] = main_->seatButton(seat)->text().toStdString();
  return names;
}

void Console::showMainWindow() {
  if (config_.settings.windowSize == WindowSizeSetting::Fullscreen) {
    main_->showMaximized();
  } else {
    main_->showNormal();
  }
  firstShow_ = false;
  // Said once, so the teacher knows why every PC looks switched off.
  if (!echoProblem_.isEmpty()) {
    QTimer::singleShot(0, this, [this] {
      messages_.show(main_.get(), QStringLiteral("Saalwacht"), echoProblem_, MessageDisplay::Kind::Warning);
    });
  }
}

QString Console::storePassword(const QString& password) {
  PictureStoreContent content = store_;
  content.remotePassword = password.toStdString();
  std::string error;
  if (!writePictureStore(paths_.home / kPictureStoreFileName, content, error)) return q(error);
  store_ = content;
  // The newest password's option stands last, so it is the one that counts.
  const QString suffix = QStringLiteral(" -password ") + q(platform::quoteParameter(password.toStdString()));
  viewParameters_ += suffix;
  controlParameters_ += suffix;
  return {};
}

void Console::openHelp() {
  // The folder is the menu item's caption, so a translation names its own.
  const QString caption = main_->action("Hilfe2")->text();
  launch(q((paths_.programFolder / caption.toStdString() / "index.htm").string()), QStringLiteral("0"));
}

void Console::showAbout() {
  about_->setVersionText(q(platform::fileVersionText(paths_.executable)));
  about_->show();
  about_->raise();
  about_->activateWindow();
}

}  // namespace saalwacht::console

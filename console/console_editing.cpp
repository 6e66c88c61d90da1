// Room plan editing, the settings dialog's choices and the internet buttons.

#include <QAbstractButton>
#include <QFileInfo>
#include <QMouseEvent>
#include <QRadioButton>
#include <QSpinBox>

#include "console/console.h"
#include "console/jpeg_image.h"
#include "console/message_display.h"
#include "platform/processes.h"

namespace saalwacht::console {
namespace {

QString q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

void Console::wireEditing() {
  auto& w = *main_;
  connect(w.action("Raumplan_bearbeiten"), &QAction::triggered, this, &Console::beginEditing);
  auto bar = [&w](const char* name) { return w.findChild<QAbstractButton*>(QString::fromLatin1(name)); };
  connect(bar("Neuer_Rechner"), &QAbstractButton::clicked, this, &Console::addSeat);
  connect(bar("Raumplanspeichern"), &QAbstractButton::clicked, this, &Console::savePlan);
  connect(bar("Raumplanabbrechen_Button"), &QAbstractButton::clicked, this, &Console::cancelEditing);
  connect(w.action("Rechnerdeaktivieren1"), &QAction::triggered, this, [this] { deleteSeat(popupSeat_); });
  connect(w.action("Rechneraktivieren1"), &QAction::triggered, this, [this] {
    seatName_->nameField()->clear();
    seatName_->show();
    seatName_->raise();
  });
  connect(w.action("Rechnernamenaendern1"), &QAction::triggered, this, [this] {
    seatName_->nameField()->setText(nameOf(popupSeat_));
    seatName_->show();
    seatName_->raise();
  });
  // "OK" names whichever seat the edit menu was last opened on.
  connect(seatName_.get(), &QDialog::accepted, this, [this] { nameSeat(popupSeat_); });
  for (int seat = 1; seat <= kSeatCount; ++seat) w.seatButton(seat)->installEventFilter(this);

  connect(w.action("Miniaturbildereinblenden1"), &QAction::triggered, this, &Console::showThumbnails);
  connect(w.action("Miniaturbilderausblenden1"), &QAction::triggered, this, &Console::hideThumbnails);

  // Settings dialog: the choices that act at once, and "OK".
  auto& s = *settings_;
  connect(s.radio("Fenstergroesse_Vollbild"), &QRadioButton::clicked, this, [this] {
    main_->showMaximized();
    makeSizeSuggestion();
  });
  connect(s.radio("Fenstergroesse_normal"), &QRadioButton::clicked, this, [this] {
    main_->showNormal();
    makeSizeSuggestion();
  });
  connect(s.findChild<QAbstractButton*>(QStringLiteral("Raumplanhintergrundbilddatei_Dialog_aufrufen_Button")),
          &QAbstractButton::clicked, this, [this] {
            const QString file = messages_.askOpenFileName(settings_.get(), QStringLiteral("JPEG-Grafikdatei (*.jpg)"));
            if (file.isEmpty()) return;
            QString error;
            const QImage picture = loadJpegFile(file, error);
            if (picture.isNull()) {
              // The old picture stays; the teacher learns why.
              messages_.show(settings_.get(), settings_->windowTitle(), error, MessageDisplay::Kind::Error);
              return;
            }
            settings_->pictureField()->setText(file);
            main_->background()->setPicture(picture);
            main_->grid()->hide();
          });
  connect(s.findChild<QAbstractButton*>(QStringLiteral("Hintergrundbild_loeschen_Button")), &QAbstractButton::clicked,
          this, [this] {
            settings_->pictureField()->clear();
            main_->background()->setPicture({});
            if (editing()) main_->grid()->show();
          });
  connect(s.radio("Miniaturbilder_einausblenden_Button_anzeigen"), &QRadioButton::clicked, this, [this] {
    const bool shown = settings_->radio("Miniaturbilder_anzeigen")->isChecked();
    main_->action("Miniaturbildereinblenden1")->setVisible(!shown);
    main_->action("Miniaturbilderausblenden1")->setVisible(shown);
  });
  connect(s.radio("Miniaturbilder_einausblenden_Button_ausblenden"), &QRadioButton::clicked, this, [this] {
    main_->action("Miniaturbildereinblenden1")->setVisible(false);
    main_->action("Miniaturbilderausblenden1")->setVisible(false);
  });
  connect(s.radio("Internetfreigabebutton_anzeigen"), &QRadioButton::clicked, this, &Console::checkInternetButtons);
  connect(s.radio("Internetfreigabebutton_ausblenden"), &QRadioButton::clicked, this, [this] {
    main_->findChild<QWidget*>(QStringLiteral("Internetfreigebenbutton"))->hide();
    main_->findChild<QWidget*>(QStringLiteral("Internetsperrenbutton"))->hide();
  });
  connect(s.zoomControl(), &QSpinBox::valueChanged, this, [this] { zoomTouched_ = true; });
  connect(s.findChild<QAbstractButton*>(QStringLiteral("Button1")), &QAbstractButton::clicked, this,
          &Console::applySettingsDialog);
  s.installEventFilter(this);

  // Internet buttons and their poll.
  connect(main_->findChild<QAbstractButton*>(QStringLiteral("Internetfreigebenbutton")), &QAbstractButton::clicked,
          this, &Console::releaseInternet);
  connect(main_->findChild<QAbstractButton*>(QStringLiteral("Internetsperrenbutton")), &QAbstractButton::clicked,
          this, &Console::lockInternet);
  internetTimer_ = new QTimer(this);
  internetTimer_->setObjectName(QStringLiteral("internetfreigabeprozessabfragetimer"));
  internetTimer_->setInterval(10000);
  connect(internetTimer_, &QTimer::timeout, this, [this] {
    if (settings_->radio("Internetfreigabebutton_anzeigen")->isChecked()) checkInternetButtons();
  });
  internetTimer_->start();
}

bool Console::eventFilter(QObject* watched, QEvent* event) {
  if (watched == settings_.get() && event->type() == QEvent::Show) {
    settings_->roomNameField()->setText(main_->roomPlan()->title());
    zoomTouched_ = false;
    return false;
  }
  auto* button = qobject_cast<SeatButton*>(watched);
  if (!button) return false;
  switch (event->type()) {
    case QEvent::MouseButtonPress:
      if (editing()) dragging_ = true;
      grab_ = static_cast<QMouseEvent*>(event)->position().toPoint();
      break;
    case QEvent::MouseMove:
      if (dragging_) {
        const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
        QWidget* panel = main_->seatPanel(button->seat());
        panel->move(draggedPosition(panel->x(), at.x(), grab_.x(), main_->roomPlan()->width()),
                    draggedPosition(panel->y(), at.y(), grab_.y(), main_->roomPlan()->height()));
      }
      break;
    case QEvent::MouseButtonRelease:
      dragging_ = false;
      break;
    default:
      break;
  }
  return false;
}

// ---------------------------------------------------------------- room plan

bool Console::editing() const { return !main_->action("Raumplan_bearbeiten")->isEnabled(); }

void Console::beginEditing() {
  monitoring_ = false;
  monitor_.stop();
  ++walk_;
  main_->editBar_->show();
  main_->editBar_->raise();
  main_->action("Raumplan_bearbeiten")->setEnabled(false);
  main_->grid()->setVisible(settings_->pictureField()->text().isEmpty());
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    SeatButton* button = main_->seatButton(seat);
    button->setCursor(Qt::PointingHandCursor);
    disconnectThumbnail(seat);
    if (button->isVisibleTo(main_.get())) button->setEnabled(true);
  }
}

void Console::addSeat() {
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    SeatButton* button = main_->seatButton(seat);
    if (button->isVisibleTo(main_.get())) continue;
    QWidget* panel = main_->seatPanel(seat);
    panel->move(kNewSeatPosition.left, kNewSeatPosition.top);
    panel->show();
    button->setEnabled(true);
    button->show();
    popupSeat_ = seat;
    seatName_->nameField()->clear();
    seatName_->show();
    seatName_->raise();
    return;
  }
}

void Console::deleteSeat(int seat) {
  if (seat < 1 || seat > kSeatCount) return;
  SeatButton* button = main_->seatButton(seat);
  button->setText(QString());
  button->setEnabled(false);
  button->hide();
  main_->seatPanel(seat)->hide();
}

void Console::nameSeat(int seat) {
  if (seat < 1 || seat > kSeatCount) return;
  main_->seatButton(seat)->setText(seatName_->nameField()->text());
}

void Console::savePlan() {
  planReload_ = false;
  main_->editBar_->hide();
  main_->action("Raumplan_bearbeiten")->setEnabled(true);
  main_->grid()->hide();
  RoomPlan plan;
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    SeatButton* button = main_->seatButton(seat);
    if (button->text().isEmpty()) {
      button->hide();
      main_->seatPanel(seat)->hide();
    }
    button->setEnabled(false);
    plan.names[seat - 1] = button->text().toStdString();
    plan.positions[seat - 1] = {main_->seatPanel(seat)->x(), main_->seatPanel(seat)->y()};
  }
  const auto failed = updateConfiguration(paths_.home / kConfigurationFileName,
                                          [&](ProfileFile& profile) { storeRoomPlan(profile, plan); });
  if (failed) {
    // The rest of the save is skipped; monitoring waits for the next save or cancel.
    messages_.show(main_.get(), QStringLiteral("Saalwacht"), q(*failed), MessageDisplay::Kind::Error);
    return;
  }
  config_.room = plan;
  std::string error;
  if (!writePictureStore(paths_.home / kPictureStoreFileName, store_, error)) {
    messages_.show(main_.get(), QStringLiteral("Saalwacht"), q(error), MessageDisplay::Kind::Error);
    return;
  }
  if (auto first = findNamedSeat(seatNames(), 1)) seatCursor_ = *first;
  startMonitoring();
}

void Console::cancelEditing() {
  planReload_ = true;
  main_->editBar_->hide();
  main_->action("Raumplan_bearbeiten")->setEnabled(true);
  main_->grid()->hide();
  // Only [Raum] is read again: names, places and visibility; states stay.
  if (auto error = start()) {
    messages_.show(main_.get(), QStringLiteral("Saalwacht"), *error, MessageDisplay::Kind::Error);
  }
}

// ---------------------------------------------------------------- thumbnails

void Console::createThumbnails() {
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    auto* viewer = new ThumbnailViewer(seat, main_->seatPanel(seat));
    viewer->resize(thumbnailSize(settings_->zoomControl()->value()));
    viewer->move(0, 20);
    viewers_[seat - 1] = viewer;
    // A connection that ends, or a refused password, hides the miniature.
    connect(viewer, &ThumbnailViewer::ended, this, [this, seat] { setViewerVisible(seat, false); });
  }
}

void Console::setViewerVisible(int seat, bool visible) {
  ThumbnailViewer* viewer = viewers_[seat - 1];
  if (!viewer) return;
  viewer->setVisible(visible);
  // The seat grows with a miniature larger than its button.
  QWidget* panel = main_->seatPanel(seat);
  panel->resize(visible ? std::max(72, viewer->width()) : 72, visible ? std::max(67, 20 + viewer->height()) : 67);
  if (visible) viewer->raise();
}

void Console::connectThumbnail(int seat, const QString& name) {
  ThumbnailViewer* viewer = viewers_[seat - 1];
  if (!viewer) return;
  viewer->resize(thumbnailSize(settings_->zoomControl()->value()));
  setViewerVisible(seat, true);
  if (viewer->connectionUp()) return;
  bool numeric = false;
  const int port = q(config_.commands.viewerPort).toInt(&numeric);
  if (!numeric || port <= 0 || port > 65535) {
    setViewerVisible(seat, false);
    return;
  }
  viewer->connectTo(name, port, security_->remotePassword());
}

void Console::disconnectThumbnail(int seat) {
  if (ThumbnailViewer* viewer = viewers_[seat - 1]) viewer->disconnectFromServer();
}

void Console::showThumbnails() {
  main_->action("Miniaturbildereinblenden1")->setVisible(false);
  main_->action("Miniaturbilderausblenden1")->setVisible(true);
  thumbnails_ = true;
}

void Console::hideThumbnails() {
  main_->action("Miniaturbildereinblenden1")->setVisible(true);
  main_->action("Miniaturbilderausblenden1")->setVisible(false);
  thumbnails_ = false;
  for (int seat = 1; seat <= kSeatCount; ++seat) disconnectThumbnail(seat);
}

// ---------------------------------------------------------------- settings

void Console::makeSizeSuggestion() {
  settings_->makeSizeSuggestion(q(texts_.text("Options_ChooseClassroomBackgroundpictureLabel2")),
                                main_->background()->width(), main_->background()->height());
}

void Console::applySettingsDialog() {
  auto& s = *settings_;
  if (zoomTouched_) {
    zoomTouched_ = false;
    if (s.radio("Miniaturbilder_anzeigen")->isChecked()) {
      messages_.show(settings_.get(), settings_->windowTitle(), q(texts_.text("Options_ResolutionChangedMessage")),
                     MessageDisplay::Kind::Plain);
    }
  }
  Settings next = config_.settings;
  next.windowSize = main_->isMinimized()    ? WindowSizeSetting::Neither
                    : main_->isMaximized() ? WindowSizeSetting::Fullscreen
                                           : WindowSizeSetting::Normal;
  next.picturePreset = s.radio("Bildgroesse_klein_Button")->isChecked()   ? 1
                       : s.radio("Bildgroesse_gross_Button")->isChecked() ? 3
                                                                          : 2;
  next.roomName = s.roomNameField()->text().toStdString();
  next.backgroundPicture = s.pictureField()->text().toStdString();
  next.thumbnailZoom = s.zoomControl()->value();
  next.thumbnails = s.radio("Miniaturbilder_anzeigen")->isChecked();
  next.thumbnailMenu = s.radio("Miniaturbilder_einausblenden_Button_anzeigen")->isChecked();
  next.internetButton = s.radio("Internetfreigabebutton_anzeigen")->isChecked();

  const auto failed = updateConfiguration(paths_.home / kConfigurationFileName,
                                          [&](ProfileFile& profile) { storeSettings(profile, next); });
  if (failed) {
    messages_.show(settings_.get(), settings_->windowTitle(), q(*failed), MessageDisplay::Kind::Error);
    return;
  }
  config_.settings = next;
  main_->roomPlan()->setTitle(q(next.roomName));
  main_->action("Miniaturbilderausblenden1")->setVisible(next.thumbnails);
  main_->action("Miniaturbildereinblenden1")->setVisible(!next.thumbnails);
  thumbnails_ = next.thumbnails;
  main_->submenu("Ansicht1")->menuAction()->setVisible(next.thumbnailMenu);
  settings_->hide();
}

// ---------------------------------------------------------------- internet

QString Console::internetProcessName() const { return QFileInfo(q(config_.internet.lockProgram)).fileName(); }

void Console::releaseInternet() {
  main_->findChild<QWidget*>(QStringLiteral("Internetfreigebenbutton"))->hide();
  main_->findChild<QWidget*>(QStringLiteral("Internetsperrenbutton"))->show();
  const QString parameters =
      config_.internet.releaseParameters.empty() ? QStringLiteral("0") : q(config_.internet.releaseParameters);
  launch(q(config_.internet.releaseProgram), parameters);
}

void Console::lockInternet() {
  main_->findChild<QWidget*>(QStringLiteral("Internetsperrenbutton"))->hide();
  main_->findChild<QWidget*>(QStringLiteral("Internetfreigebenbutton"))->show();
  if (config_.internet.lockParameters.empty()) {
    const std::string name = internetProcessName().toStdString();
    if (!name.empty()) processes_.terminateFirst(name);
  } else {
    launch(q(config_.internet.lockProgram), q(config_.internet.lockParameters));
  }
}

void Console::checkInternetButtons() {
  const std::string name = internetProcessName().toStdString();
  const bool released = !name.empty() && processes_.count(name) >= 1;
  main_->findChild<QWidget*>(QStringLiteral("Internetsperrenbutton"))->setVisible(released);
  main_->findChild<QWidget*>(QStringLiteral("Internetfreigebenbutton"))->setVisible(!released);
}

}  // namespace saalwacht::console

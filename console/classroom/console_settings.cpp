#include "console/classroom/console_settings.h"

#include <QEvent>
#include <QFileInfo>

#include "console/classroom/action_lock.h"
#include "console/classroom/internet_access.h"
#include "console/classroom/thumbnails.h"
#include "console/message_display.h"
#include "console/windows/dialogs.h"
#include "console/windows/jpeg_image.h"
#include "console/windows/main_window.h"

namespace saalwacht::console {
namespace {

QString q(const std::string& text) { return QString::fromStdString(text); }

constexpr const char* kPresets[] = {"Bildgroesse_klein_Button", "Bildgroesse_mittel_Button",
                                    "Bildgroesse_gross_Button"};

}  // namespace

ConsoleSettings::ConsoleSettings(Parts parts, QObject* parent) : QObject(parent), p_(std::move(parts)) { wire(); }

void ConsoleSettings::setTexts(const Texts& texts) {
  texts_ = texts;
  // Made from the picture's design size at start-up.
  makeSuggestion(965, 590);
}

void ConsoleSettings::makeSuggestion(int width, int height) { p_.dialog.makeSizeSuggestion(texts_.suggestion, width, height); }

void ConsoleSettings::apply(const Settings& s) {
  current_ = s;
  auto& d = p_.dialog;
  auto& w = p_.window;
  if (s.windowSize == WindowSizeSetting::Normal) d.radio("Fenstergroesse_normal")->setChecked(true);
  if (s.windowSize == WindowSizeSetting::Fullscreen) d.radio("Fenstergroesse_Vollbild")->setChecked(true);
  d.radio(kPresets[s.picturePreset - 1])->setChecked(true);
  d.zoomControl()->setValue(s.thumbnailZoom);
  w.roomPlan()->setTitle(q(s.roomName));

  d.pictureField()->clear();
  w.background()->setPicture({});
  if (!s.backgroundPicture.empty()) {
    const QString path = q(s.backgroundPicture);
    QString error;
    // A picture that is gone is dropped silently; one that cannot be decoded
    // is dropped too, so a damaged file never blocks the start.
    if (QFileInfo::exists(path)) {
      const QImage picture = loadJpegFile(path, error);
      if (!picture.isNull()) {
        d.pictureField()->setText(path);
        w.background()->setPicture(picture);
      }
    }
  }

  d.radio(s.thumbnails ? "Miniaturbilder_anzeigen" : "Miniaturbilder_ausblenden")->setChecked(true);
  d.radio(s.thumbnailMenu ? "Miniaturbilder_einausblenden_Button_anzeigen"
                          : "Miniaturbilder_einausblenden_Button_ausblenden")
      ->setChecked(true);
  w.submenu("Ansicht1")->menuAction()->setVisible(s.thumbnailMenu);
  w.action("Miniaturbildereinblenden1")->setVisible(!s.thumbnails);
  w.action("Miniaturbilderausblenden1")->setVisible(s.thumbnails);

  d.radio(s.internetButton ? "Internetfreigabebutton_anzeigen" : "Internetfreigabebutton_ausblenden")
      ->setChecked(true);
  p_.internet.showAtStart(s.internetButton);
}

int ConsoleSettings::picturePreset() const {
  for (int preset = 1; preset <= 3; ++preset) {
    if (p_.dialog.radio(kPresets[preset - 1])->isChecked()) return preset;
  }
  return 2;
}

int ConsoleSettings::zoom() const { return p_.dialog.zoomControl()->value(); }

bool ConsoleSettings::backgroundSet() const { return !p_.dialog.pictureField()->text().isEmpty(); }

void ConsoleSettings::chooseWindowSize(bool fullscreen) {
  if (fullscreen) {
    p_.window.showMaximized();
  } else {
    p_.window.showNormal();
  }
  suggestionFollows_ = true;
  makeSuggestion(p_.window.background()->width(), p_.window.background()->height());
}

void ConsoleSettings::wire() {
  auto& d = p_.dialog;
  auto& w = p_.window;
  connect(d.radio("Fenstergroesse_Vollbild"), &QRadioButton::clicked, this, [this] { chooseWindowSize(true); });
  connect(d.radio("Fenstergroesse_normal"), &QRadioButton::clicked, this, [this] { chooseWindowSize(false); });
  connect(&w, &MainWindow::layoutApplied, this, [this] {
    if (suggestionFollows_) makeSuggestion(p_.window.background()->width(), p_.window.background()->height());
  });
  connect(d.findChild<QAbstractButton*>(QStringLiteral("Raumplanhintergrundbilddatei_Dialog_aufrufen_Button")),
          &QAbstractButton::clicked, this, [this] {
            const QString file =
                p_.messages.askOpenFileName(&p_.dialog, QStringLiteral("JPEG-Grafikdatei (*.jpg)"));
            if (file.isEmpty() || p_.lock.closing()) return;
            QString error;
            const QImage picture = loadJpegFile(file, error);
            if (picture.isNull()) {
              // The old picture stays; the teacher learns why.
              p_.messages.show(&p_.dialog, p_.dialog.windowTitle(), error, MessageDisplay::Kind::Error);
              return;
            }
            p_.dialog.pictureField()->setText(file);
            p_.window.background()->setPicture(picture);
            p_.window.grid()->hide();
          });
  connect(d.findChild<QAbstractButton*>(QStringLiteral("Hintergrundbild_loeschen_Button")), &QAbstractButton::clicked,
          this, [this] {
            p_.dialog.pictureField()->clear();
            p_.window.background()->setPicture({});
            if (p_.window.planEdited()) p_.window.grid()->show();
          });
  connect(d.radio("Miniaturbilder_einausblenden_Button_anzeigen"), &QRadioButton::clicked, this, [this] {
    const bool shown = p_.dialog.radio("Miniaturbilder_anzeigen")->isChecked();
    p_.window.action("Miniaturbildereinblenden1")->setVisible(!shown);
    p_.window.action("Miniaturbilderausblenden1")->setVisible(shown);
  });
  connect(d.radio("Miniaturbilder_einausblenden_Button_ausblenden"), &QRadioButton::clicked, this, [this] {
    p_.window.action("Miniaturbildereinblenden1")->setVisible(false);
    p_.window.action("Miniaturbilderausblenden1")->setVisible(false);
  });
  connect(d.radio("Internetfreigabebutton_anzeigen"), &QRadioButton::clicked, this, [this] { p_.internet.check(); });
  connect(d.radio("Internetfreigabebutton_ausblenden"), &QRadioButton::clicked, this,
          [this] { p_.internet.hideButtons(); });
  connect(d.zoomControl(), &QSpinBox::valueChanged, this, [this] { zoomTouched_ = true; });
  connect(d.findChild<QAbstractButton*>(QStringLiteral("Button1")), &QAbstractButton::clicked, this,
          &ConsoleSettings::ok);
  d.installEventFilter(this);
}

bool ConsoleSettings::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &p_.dialog && event->type() == QEvent::Show) {
    p_.dialog.roomNameField()->setText(p_.window.roomPlan()->title());
    zoomTouched_ = false;
  }
  return false;
}

void ConsoleSettings::ok() {
  if (p_.lock.closing()) return;
  auto& d = p_.dialog;
  if (zoomTouched_) {
    zoomTouched_ = false;
    if (d.radio("Miniaturbilder_anzeigen")->isChecked()) {
      p_.messages.show(&d, d.windowTitle(), texts_.resolutionChanged, MessageDisplay::Kind::Plain);
    }
  }
  Settings next = current_;
  next.windowSize = p_.window.isMinimized()   ? WindowSizeSetting::Neither
                    : p_.window.isMaximized() ? WindowSizeSetting::Fullscreen
                                              : WindowSizeSetting::Normal;
  next.picturePreset = picturePreset();
  next.roomName = d.roomNameField()->text().toStdString();
  next.backgroundPicture = d.pictureField()->text().toStdString();
  next.thumbnailZoom = d.zoomControl()->value();
  next.thumbnails = d.radio("Miniaturbilder_anzeigen")->isChecked();
  next.thumbnailMenu = d.radio("Miniaturbilder_einausblenden_Button_anzeigen")->isChecked();
  next.internetButton = d.radio("Internetfreigabebutton_anzeigen")->isChecked();

  const auto failed =
      updateConfiguration(p_.configuration, [&](ProfileFile& profile) { storeSettings(profile, next); });
  if (failed) {
    p_.messages.show(&d, d.windowTitle(), q(*failed), MessageDisplay::Kind::Error);
    return;
  }
  current_ = next;
  p_.window.roomPlan()->setTitle(q(next.roomName));
  p_.window.action("Miniaturbilderausblenden1")->setVisible(next.thumbnails);
  p_.window.action("Miniaturbildereinblenden1")->setVisible(!next.thumbnails);
  p_.thumbnails.setShown(next.thumbnails);
  p_.window.submenu("Ansicht1")->menuAction()->setVisible(next.thumbnailMenu);
  d.hide();
}

}  // namespace saalwacht::console

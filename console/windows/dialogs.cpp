#include "console/windows/dialogs.h"

#include <QKeyEvent>
#include <QPainter>
#include <QToolButton>

#include "console/message_display.h"
#include "console/windows/pictures.h"
#include "console/windows/widgets.h"

namespace saalwacht::console {
namespace {

void whiteBackground(QWidget* w) {
  w->setAutoFillBackground(true);
  QPalette pal = w->palette();
  pal.setColor(QPalette::Window, Qt::white);
  w->setPalette(pal);
}

void colour(QWidget* w, const QColor& c) {
  QPalette pal = w->palette();
  pal.setColor(QPalette::WindowText, c);
  w->setPalette(pal);
}

void bold(QWidget* w, int pixelSize = 0) {
  QFont f = w->font();
  f.setBold(true);
  if (pixelSize > 0) f.setPixelSize(pixelSize);
  w->setFont(f);
}

QPushButton* pushButton(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(geometry);
  return button;
}

QRadioButton* radioButton(QWidget* parent, QButtonGroup* group, const char* name, const QString& text, int x,
                          int y) {
  auto* radio = new QRadioButton(text, parent);
  radio->setObjectName(QString::fromLatin1(name));
  radio->move(x, y);
  radio->setProperty("autoSize", true);
  radio->adjustSize();
  group->addButton(radio);
  return radio;
}

QLineEdit* lineEdit(QWidget* parent, const char* name, const QRect& geometry) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setGeometry(geometry);
  return edit;
}

constexpr Qt::WindowFlags kDialogFlags = Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;

}  // namespace

// ---------------------------------------------------------------- TForm6

AboutBox::AboutBox() {
  setObjectName(QStringLiteral("TForm6"));
  setWindowTitle(QStringLiteral("Info über Saalwacht"));
  setWindowFlags(kDialogFlags | Qt::WindowStaysOnTopHint);
  setFixedSize(486, 337);
  whiteBackground(this);

  auto* lettering = new QLabel(this);
  lettering->setObjectName(QStringLiteral("SaalwachtSchriftzug"));
  lettering->setGeometry(8, 25, 418, 65);
  lettering->setAlignment(Qt::AlignCenter);
  lettering->setPixmap(productLettering(418, 65));

  versionLine_ = boxLabel(this, QStringLiteral("Label2"), QStringLiteral("Version X.X.X.X"), QRect(232, 96, 228, 20),
                          Qt::AlignRight | Qt::AlignVCenter);
  QFont f = versionLine_->font();
  f.setPixelSize(16);
  versionLine_->setFont(f);

  auto* blurb = boxLabel(this, QStringLiteral("Beschreibung"),
                         QStringLiteral("Die Klassenraumsteuerung für Lehrerinnen und Lehrer:\n"
                                        "Bildschirme dunkelschalten, Nachrichten senden, Bildschirme zeigen\n"
                                        "und fernsteuern, Screenshots und Internetsperre."),
                         QRect(24, 136, 438, 70), Qt::AlignCenter);
  colour(blurb, QColor(0x44, 0x4c, 0x58));

  webLink_ = boxLabel(this, QStringLiteral("Label1"),
                      QStringLiteral("<a href=\"%1\" style=\"color:#0000ff\">%1</a>").arg(webAddress()),
                      QRect(88, 224, 273, 24), Qt::AlignCenter);
  QFont link = webLink_->font();
  link.setPixelSize(19);
  webLink_->setFont(link);
  webLink_->setCursor(Qt::PointingHandCursor);
  webLink_->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
  webLink_->setOpenExternalLinks(false);
  connect(webLink_, &QLabel::linkActivated, this, &AboutBox::webLinkClicked);

  auto* ok = pushButton(this, "Button1", QStringLiteral("OK"), QRect(104, 272, 161, 41));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

QString AboutBox::webAddress() { return QStringLiteral("https://saalwacht.example.org"); }

void AboutBox::setVersionText(const QString& version) { versionLine_->setText(QStringLiteral("Version: ") + version); }

// ---------------------------------------------------------------- TForm11

ExitWaitWindow::ExitWaitWindow() {
  setObjectName(QStringLiteral("TForm11"));
  setWindowTitle(QStringLiteral("Beenden"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
  setFixedSize(221, 124);
  whiteBackground(this);
  auto* wait = boxLabel(this, QStringLiteral("Label1"), QStringLiteral("Bitte warten ..."), QRect(8, 10, 205, 44),
                        Qt::AlignCenter);
  QFont big = wait->font();
  big.setPixelSize(26);
  wait->setFont(big);
  auto* picture = new QLabel(this);
  picture->setObjectName(QStringLiteral("Image1"));
  picture->setGeometry(16, 66, 32, 32);
  picture->setPixmap(glyph(Glyph::Waiting, 32));
  auto* closing =
      boxLabel(this, QStringLiteral("Label2"), QStringLiteral("Saalwacht wird beendet."), QRect(54, 66, 160, 32));
  bold(closing);
}

// ---------------------------------------------------------------- TForm12

SeatNameDialog::SeatNameDialog() {
  setObjectName(QStringLiteral("TForm12"));
  setWindowTitle(QStringLiteral("Rechnername eintragen/ändern"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFixedSize(396, 234);
  auto* line1 = boxLabel(this, QStringLiteral("Label1"), QStringLiteral("Geben Sie den Namen (Computername im Netzwerk)"),
                         QRect(8, 24, 380, 24), Qt::AlignCenter);
  auto* line2 = boxLabel(this, QStringLiteral("Label2"), QStringLiteral("oder die IP-Adresse des Rechners ein:"),
                         QRect(8, 52, 380, 24), Qt::AlignCenter);
  for (auto* l : {line1, line2}) {
    QFont f = l->font();
    f.setPixelSize(16);
    l->setFont(f);
  }
  field_ = lineEdit(this, "Edit1", QRect(120, 112, 153, 24));
  field_->installEventFilter(this);
  ok_ = pushButton(this, "Button1", QStringLiteral("OK"), QRect(64, 176, 121, 33));
  auto* cancel = pushButton(this, "Button2", QStringLiteral("Abbrechen"), QRect(224, 176, 121, 33));
  // Enter in the field only moves on to "OK" (the field's filter below); a
  // second Enter presses it, as the dialog's default button.
  ok_->setDefault(true);
  cancel->setAutoDefault(false);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void SeatNameDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  field_->setFocus();
}

bool SeatNameDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == field_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      ok_->setFocus();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------- TForm4

SettingsDialog::SettingsDialog() {
  setObjectName(QStringLiteral("TForm4"));
  setWindowTitle(QStringLiteral("Einstellungen"));
  setWindowFlags(kDialogFlags | Qt::WindowStaysOnTopHint);
  setFixedSize(484, 411);

  placeLabel(this, QStringLiteral("Fenstergroessenlabel"), QStringLiteral("Anwendungsfenstergröße:"), 16, 16);
  auto* sizeGroup = new QButtonGroup(this);
  radioButton(this, sizeGroup, "Fenstergroesse_normal", QStringLiteral("Normal (1024x768)"), 208, 14)->setChecked(true);
  radioButton(this, sizeGroup, "Fenstergroesse_Vollbild", QStringLiteral("Vollbild"), 368, 14);

  placeLabel(this, QStringLiteral("Label4"), QStringLiteral("Raumbezeichnung (z.B. 'Raum 234'):"), 16, 51);
  roomName_ = lineEdit(this, "Raumbezeichnung", QRect(288, 48, 169, 22));

  placeLabel(this, QStringLiteral("Raumplanhintergrundauswahl_Label1"), QStringLiteral("Raumplan-Hintergrundbild:"), 16, 91);
  picturePath_ = lineEdit(this, "Raumplanhintergrund_dateiname", QRect(152, 88, 241, 22));
  picturePath_->setReadOnly(true);
  auto smallButton = [this](const char* name, Glyph g, int x) {
    auto* b = new QToolButton(this);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(x, 88, 25, 21);
    b->setIcon(glyph(g, 16));
    return b;
  };
  smallButton("Hintergrundbild_loeschen_Button", Glyph::Delete, 400);
  smallButton("Raumplanhintergrundbilddatei_Dialog_aufrufen_Button", Glyph::Folder, 432);
  suggestion_ = placeLabel(this, QStringLiteral("Bildgroessenvorschlag_Label"), QString(), 16, 112);

  placeLabel(this, QStringLiteral("Label5"), QStringLiteral("Größe der Miniaturbilder:"), 17, 152);
  zoom_ = new QSpinBox(this);
  zoom_->setObjectName(QStringLiteral("UpDown_Zoomfaktor"));
  zoom_->setGeometry(288, 147, 60, 22);
  zoom_->setRange(7, 35);
  zoom_->setSingleStep(1);
  zoom_->setValue(7);

  placeLabel(this, QStringLiteral("Miniaturbilder"), QStringLiteral("Miniaturbilder im Raumplan:"), 18, 184);
  auto* thumbs = new QButtonGroup(this);
  radioButton(this, thumbs, "Miniaturbilder_anzeigen", QStringLiteral("anzeigen"), 290, 182)->setChecked(true);
  radioButton(this, thumbs, "Miniaturbilder_ausblenden", QStringLiteral("ausblenden"), 380, 182);

  placeLabel(this, QStringLiteral("Miniaturbilder_einausblenden"),
             QStringLiteral("Menüpunkt 'Miniaturbilder ein-/ausblenden':"), 19, 212);
  auto* menu = new QButtonGroup(this);
  radioButton(this, menu, "Miniaturbilder_einausblenden_Button_anzeigen", QStringLiteral("anzeigen"), 290, 210)
      ->setChecked(true);
  radioButton(this, menu, "Miniaturbilder_einausblenden_Button_ausblenden", QStringLiteral("ausblenden"), 380, 210);

  placeLabel(this, QStringLiteral("Internetfreigabebuttonausblenden_Label"), QStringLiteral("Internetfreigabeschaltflaeche:"),
             19, 243);
  auto* internet = new QButtonGroup(this);
  radioButton(this, internet, "Internetfreigabebutton_anzeigen", QStringLiteral("anzeigen"), 290, 241)->setChecked(true);
  radioButton(this, internet, "Internetfreigabebutton_ausblenden", QStringLiteral("ausblenden"), 380, 241);

  auto* presetLabel = boxLabel(this, QStringLiteral("Label1"),
                               QStringLiteral("Bildgrößenvoreinstellung für die Einzelplatz-Aktion 'Schülermonitor holen':"),
                               QRect(19, 277, 350, 34), Qt::AlignLeft | Qt::AlignTop);
  (void)presetLabel;
  auto* presets = new QButtonGroup(this);
  const struct {
    const char* name;
    int y;
    int picture;
  } sizes[] = {{"Bildgroesse_klein_Button", 276, 15}, {"Bildgroesse_mittel_Button", 298, 20}, {"Bildgroesse_gross_Button", 324, 30}};
  for (const auto& s : sizes) {
    auto* radio = radioButton(this, presets, s.name, QString(), 386, s.y);
    auto* picture = new QLabel(this);
    picture->setGeometry(410, s.y + 10 - s.picture / 2, s.picture, s.picture);
    picture->setPixmap(QPixmap::fromImage(seatPictureStrip(SeatState::Normal).copy(0, 0, 48, 48))
                           .scaled(s.picture, s.picture, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    if (s.picture == 20) radio->setChecked(true);
  }

  auto* ok = pushButton(this, "Button1", QStringLiteral("OK"), QRect(184, 365, 129, 33));
  ok->setDefault(true);
}

QRadioButton* SettingsDialog::radio(const char* objectName) const {
  return findChild<QRadioButton*>(QString::fromLatin1(objectName));
}

void SettingsDialog::makeSizeSuggestion(const QString& firstPart, int width, int height) {
  suggestion_->setText(QStringLiteral("(%1 %2x%3)").arg(firstPart).arg(width).arg(height));
  suggestion_->adjustSize();
}

// ---------------------------------------------------------------- TForm5, TForm7

ShutdownSeatDialog::ShutdownSeatDialog() {
  setObjectName(QStringLiteral("TForm5"));
  setWindowTitle(QStringLiteral("Schülerrechner herunterfahren"));
  setWindowFlags(kDialogFlags | Qt::WindowStaysOnTopHint);
  setFixedSize(330, 190);
  boxLabel(this, QStringLiteral("Label1"), QStringLiteral("Schülerrechner"), QRect(10, 20, 310, 22), Qt::AlignCenter);
  auto* name = boxLabel(this, QStringLiteral("Label3"), QStringLiteral("RECHNERNAME"), QRect(10, 48, 310, 26),
                        Qt::AlignCenter);
  bold(name, 18);
  boxLabel(this, QStringLiteral("Label2"), QStringLiteral("herunterfahren ?"), QRect(10, 80, 310, 22), Qt::AlignCenter);
  pushButton(this, "Button1", QStringLiteral("JA"), QRect(40, 128, 110, 36));
  auto* no = pushButton(this, "Button2", QStringLiteral("NEIN"), QRect(180, 128, 110, 36));
  no->setDefault(true);
  setFocusProxy(no);
  connect(no, &QPushButton::clicked, this, &QDialog::hide);
}

void ShutdownSeatDialog::setComputerName(const QString& name) {
  findChild<QLabel*>(QStringLiteral("Label3"))->setText(name);
}

ShutdownAllDialog::ShutdownAllDialog() {
  setObjectName(QStringLiteral("TForm7"));
  setWindowTitle(QStringLiteral("Alle Schülerrechner herunterfahren"));
  setWindowFlags(kDialogFlags | Qt::WindowStaysOnTopHint);
  setFixedSize(330, 150);
  auto* text = boxLabel(this, QStringLiteral("Label1"), QStringLiteral("ALLE Schülerrechner herunterfahren ?"),
                        QRect(10, 24, 310, 40), Qt::AlignCenter);
  bold(text, 15);
  pushButton(this, "Button1", QStringLiteral("JA"), QRect(40, 90, 110, 36));
  auto* no = pushButton(this, "Button2", QStringLiteral("NEIN"), QRect(180, 90, 110, 36));
  no->setDefault(true);
  setFocusProxy(no);
  connect(no, &QPushButton::clicked, this, &QDialog::hide);
}

// ---------------------------------------------------------------- TForm2

MessageDialog::MessageDialog() {
  setObjectName(QStringLiteral("TForm2"));
  setWindowTitle(QStringLiteral("Nachricht senden"));
  setWindowFlags(kDialogFlags | Qt::WindowStaysOnTopHint);
  setFixedSize(460, 330);
  auto* to = placeLabel(this, QStringLiteral("Label1"), QStringLiteral("Nachricht an "), 16, 16);
  bold(to);
  target_ = placeLabel(this, QStringLiteral("Label2"), QStringLiteral("rechnername"), 16 + to->width(), 16);
  bold(target_);
  colour(target_, QColor(0x17, 0x3f, 0x6e));
  text_ = new QPlainTextEdit(this);
  text_->setObjectName(QStringLiteral("Nachrichtentext"));
  text_->setGeometry(16, 44, 392, 220);
  setFocusProxy(text_);
  auto* clear = new QToolButton(this);
  clear->setObjectName(QStringLiteral("loeschen_button"));
  clear->setGeometry(416, 44, 28, 28);
  clear->setIcon(glyph(Glyph::Delete, 18));
  clear->setToolTip(QStringLiteral("Text löschen"));
  connect(clear, &QToolButton::clicked, text_, &QPlainTextEdit::clear);
  pushButton(this, "Button1", QStringLiteral("Senden"), QRect(96, 280, 121, 33));
  auto* cancel = pushButton(this, "Button2", QStringLiteral("Abbrechen"), QRect(244, 280, 121, 33));
  connect(cancel, &QPushButton::clicked, this, &QDialog::hide);
}

void MessageDialog::setTarget(const QString& target) {
  auto* to = findChild<QLabel*>(QStringLiteral("Label1"));
  target_->setText(target);
  target_->move(to->x() + to->width(), to->y());
  target_->adjustSize();
}

QString MessageDialog::target() const { return target_->text(); }

// ---------------------------------------------------------------- TForm_Screenshot

ScreenshotWindow::ScreenshotWindow() {
  setObjectName(QStringLiteral("TForm_Screenshot"));
  setWindowFlags(kDialogFlags | Qt::WindowStaysOnTopHint | Qt::WindowMaximizeButtonHint);
  resize(820, 560);
  picture_ = new QLabel(this);
  picture_->setObjectName(QStringLiteral("Screenshot"));
  picture_->setAlignment(Qt::AlignCenter);
  picture_->setStyleSheet(QStringLiteral("background: #20262e;"));
  hourglass_ = new QLabel(picture_);
  hourglass_->setObjectName(QStringLiteral("Image1"));
  hourglass_->setPixmap(glyph(Glyph::Waiting, 32));
  hourglass_->resize(32, 32);
  pushButton(this, "Druck_Button", QStringLiteral("Drucken + Schließen"), QRect(0, 0, 170, 33))->setEnabled(false);
  pushButton(this, "Save_Button", QStringLiteral("Speichern + Schließen"), QRect(0, 0, 170, 33))->setEnabled(false);
  pushButton(this, "Cancel_Button", QStringLiteral("Abbrechen"), QRect(0, 0, 130, 33));
}

void ScreenshotWindow::showWaiting(const QString& caption) {
  setWindowTitle(caption);
  image_ = QImage();
  picture_->clear();
  hourglass_->show();
  findChild<QPushButton*>(QStringLiteral("Druck_Button"))->setEnabled(false);
  findChild<QPushButton*>(QStringLiteral("Save_Button"))->setEnabled(false);
}

void ScreenshotWindow::showPicture(const QImage& picture) {
  image_ = picture;
  hourglass_->hide();
  picture_->setPixmap(QPixmap::fromImage(image_.scaled(picture_->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
  findChild<QPushButton*>(QStringLiteral("Druck_Button"))->setEnabled(true);
  findChild<QPushButton*>(QStringLiteral("Save_Button"))->setEnabled(true);
}

void ScreenshotWindow::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  picture_->setGeometry(8, 8, width() - 16, height() - 60);
  hourglass_->move((picture_->width() - 32) / 2, (picture_->height() - 32) / 2);
  const int y = height() - 44;
  findChild<QPushButton*>(QStringLiteral("Druck_Button"))->move(width() / 2 - 245, y);
  findChild<QPushButton*>(QStringLiteral("Save_Button"))->move(width() / 2 - 65, y);
  findChild<QPushButton*>(QStringLiteral("Cancel_Button"))->move(width() / 2 + 115, y);
  if (!image_.isNull()) {
    picture_->setPixmap(
        QPixmap::fromImage(image_.scaled(picture_->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
  }
}

// ---------------------------------------------------------------- TForm13

SecurityDialog::SecurityDialog(MessageDisplay& messages) : messages_(messages) {
  setObjectName(QStringLiteral("TForm13"));
  setWindowTitle(QStringLiteral("Sicherheit"));
  setWindowFlags(kDialogFlags | Qt::WindowStaysOnTopHint);
  setFixedSize(560, 330);
  const struct {
    const char* name;
    const char* text;
    int y;
    QColor colour;
    bool bold;
  } lines[] = {
      {"Label1", "Für die Verbindung zwischen Lehrer- und Schüler-PCs ist ein Remote-Passwort festzulegen.", 14,
       Qt::black, false},
      {"Label2", "Bitte geben Sie ein 4- bis 8-stelliges Remote-Passwort (OHNE SONDERZEICHEN) unten ein.", 34,
       Qt::black, false},
      {"Label3", "WICHTIG: Das gleiche Passwort muss bei der Saalwacht-Installation", 64, QColor(0xc6, 0x28, 0x28), true},
      {"Label4", "an den Schüler-PCs eingetragen werden !!!", 82, QColor(0xc6, 0x28, 0x28), true},
      {"Label8", "Bei Verlust des gespeicherten Passwortes ist zum Ändern eine Neuinstallation nötig !!!", 108,
       QColor(0xc6, 0x28, 0x28), false},
  };
  for (const auto& l : lines) {
    auto* label = boxLabel(this, QString::fromLatin1(l.name), QString::fromUtf8(l.text), QRect(12, l.y, 536, 18),
                           Qt::AlignCenter);
    colour(label, l.colour);
    if (l.bold) bold(label);
  }
  auto field = [this](const char* labelName, const char* text, const char* editName, int y) {
    auto* label = boxLabel(this, QString::fromLatin1(labelName), QString::fromUtf8(text), QRect(40, y, 260, 24),
                           Qt::AlignRight | Qt::AlignVCenter);
    auto* edit = lineEdit(this, editName, QRect(312, y, 150, 24));
    edit->setMaxLength(8);
    edit->setEchoMode(QLineEdit::Normal);
    return std::pair{label, edit};
  };
  std::tie(oldLabel_, old_) = field("Label5", "altes Remote-Passwort eingeben:", "RemotePasswort_alt", 150);
  new_ = field("Label6", "neues Remote-Passwort eingeben:", "RemotePasswort_neu", 186).second;
  repeat_ = field("Label7", "neues Remote-Passwort wiederholen:", "RemotePasswort_wiederholung", 222).second;
  auto* ok = pushButton(this, "Button1", QStringLiteral("OK"), QRect(140, 276, 121, 33));
  auto* cancel = pushButton(this, "Button2", QStringLiteral("Abbrechen"), QRect(300, 276, 121, 33));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &SecurityDialog::ok);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  texts_ = {QStringLiteral("Falsches altes Passwort. Bitte noch einmal eingeben!"),
            QStringLiteral("Bitte wählen Sie ein Passwort mit mindestens 4 Zeichen!"),
            QStringLiteral("Remote-Passwort wurde gespeichert!"),
            QStringLiteral("Bitte wiederholen Sie noch einmal korrekt das Remote-Passwort!"), QString()};
}

void SecurityDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  const bool first = password_ == QStringLiteral("0");
  oldLabel_->setVisible(!first);
  old_->setVisible(!first);
  (first ? new_ : old_)->setFocus();
}

void SecurityDialog::refuse(const QString& message, QLineEdit* focus) {
  messages_.show(this, windowTitle(), message, MessageDisplay::Kind::Plain);
  focus->setFocus();
}

void SecurityDialog::ok() {
  if (old_->isVisible() && old_->text() != password_) {
    old_->clear();
    refuse(texts_.wrongOldPassword, old_);
    return;
  }
  if (new_->text().size() < 4) {
    new_->clear();
    repeat_->clear();
    refuse(texts_.wrongLength, new_);
    return;
  }
  if (repeat_->text() != new_->text()) {
    repeat_->clear();
    refuse(texts_.repeat, repeat_);
    return;
  }
  // The password is only taken once it is safely stored: a password the
  // picture store cannot hold, or a failed write, leaves the old one in force.
  const QString candidate = new_->text();
  const QString failed = store_ ? store_(candidate) : QString();
  if (!failed.isEmpty()) {
    new_->clear();
    repeat_->clear();
    messages_.show(this, windowTitle(), failed, MessageDisplay::Kind::Error);
    new_->setFocus();
    return;
  }
  password_ = candidate;
  old_->clear();
  new_->clear();
  repeat_->clear();
  messages_.show(this, windowTitle(), texts_.saved, MessageDisplay::Kind::Plain);
  accept();
}

void SecurityDialog::done(int result) {
  old_->clear();
  new_->clear();
  repeat_->clear();
  QDialog::done(result);
}

// ---------------------------------------------------------------- TForm14

ConsoleKeyDialog::ConsoleKeyDialog() {
  setObjectName(QStringLiteral("TForm14"));
  setWindowTitle(QStringLiteral("Schlüssel dieser Lehrerkonsole"));
  setWindowFlags(kDialogFlags | Qt::WindowStaysOnTopHint);
  setFixedSize(560, 250);
  whiteBackground(this);
  auto* about = boxLabel(this, QStringLiteral("Label1"),
                         QStringLiteral("Schüler-PCs, denen dieser öffentliche Schlüssel vertraut ist, nehmen nur noch "
                                        "Befehle dieser Konsole an. Exportieren Sie ihn und legen Sie die Datei auf "
                                        "jedem Schüler-PC zu den vertrauten Schlüsseln (Linux: "
                                        "/etc/kursdienst/trusted-keys, Windows: bei der Installation)."),
                         QRect(16, 12, 528, 84), Qt::AlignLeft | Qt::AlignTop);
  about->setWordWrap(true);
  boxLabel(this, QStringLiteral("Label2"), QStringLiteral("Fingerabdruck:"), QRect(16, 104, 130, 24),
           Qt::AlignLeft | Qt::AlignVCenter);
  fingerprint_ = boxLabel(this, QStringLiteral("Fingerabdruck"), QString(), QRect(150, 104, 394, 24),
                          Qt::AlignLeft | Qt::AlignVCenter);
  bold(fingerprint_, 16);
  fingerprint_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  publicLine_ = lineEdit(this, "Schluesselzeile", QRect(16, 140, 528, 26));
  publicLine_->setReadOnly(true);
  auto* exportButton =
      pushButton(this, "Exportieren_Button", QStringLiteral("Öffentlichen Schlüssel exportieren ..."),
                 QRect(16, 190, 330, 40));
  connect(exportButton, &QPushButton::clicked, this, &ConsoleKeyDialog::exportRequested);
  auto* close = pushButton(this, "Schliessen_Button", QStringLiteral("Schließen"), QRect(394, 190, 150, 40));
  close->setDefault(true);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

void ConsoleKeyDialog::showKey(const QString& fingerprint, const QString& publicLine) {
  fingerprint_->setText(fingerprint);
  publicLine_->setText(publicLine);
  publicLine_->setCursorPosition(0);
}

}  // namespace saalwacht::console

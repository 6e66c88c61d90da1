#include "console/windows/main_window.h"

#include <QCloseEvent>
#include <QPainter>
#include <QToolButton>
#include <QWindow>

#include "console/windows/pictures.h"

namespace saalwacht::console {

PlacementGrid::PlacementGrid(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("DrawGrid"));
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void PlacementGrid::paintEvent(QPaintEvent*) {
  // Cells of 71 x 87 with 1-pixel lines: the pitch of the default seat places.
  QPainter p(this);
  p.setPen(QColor(0xc8, 0xd3, 0xe0));
  for (int x = 0; x < width(); x += 72) p.drawLine(x, 0, x, height());
  for (int y = 0; y < height(); y += 88) p.drawLine(0, y, width(), y);
}

BackgroundPicture::BackgroundPicture(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Raumplanhintergrundbild"));
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void BackgroundPicture::setPicture(const QImage& picture) {
  picture_ = picture;
  update();
}

void BackgroundPicture::paintEvent(QPaintEvent*) {
  if (picture_.isNull()) return;
  QPainter p(this);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.drawImage(rect(), picture_);
}

MainWindow::MainWindow() {
  setObjectName(QStringLiteral("TForm1"));
  setWindowTitle(QStringLiteral("Saalwacht"));
  resize(kDesignClientSize.width, kDesignClientSize.height);
  setMinimumSize(kDesignClientSize.width, kDesignClientSize.height);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(0xf3, 0xf5, 0xf8));
  setPalette(pal);
  buildRoomPlan();
  buildButtonBar();
  buildEditBar();
  buildMenus();
  applyLayout();
}

QAction* MainWindow::action(const char* objectName) const {
  return findChild<QAction*>(QString::fromLatin1(objectName));
}

QMenu* MainWindow::submenu(const char* objectName) const {
  return findChild<QMenu*>(QString::fromLatin1(objectName));
}

QAbstractButton* MainWindow::barButton(const char* objectName) const {
  return findChild<QAbstractButton*>(QString::fromLatin1(objectName));
}

bool MainWindow::planEdited() const { return !action("Raumplan_bearbeiten")->isEnabled(); }

void MainWindow::showEditBar(bool shown) {
  editBar_->setVisible(shown);
  if (shown) editBar_->raise();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == menuButton_ && event->type() == QEvent::MouseButtonPress) {
    mainMenu_->popup(menuButton_->mapToGlobal(QPoint(0, menuButton_->height())));
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void MainWindow::buildButtonBar() {
  buttonBar_ = new QWidget(this);
  buttonBar_->setObjectName(QStringLiteral("Buttonhauptleiste"));
  buttonBar_->setGeometry(0, 0, 1007, 80);
  buttonBar_->setAutoFillBackground(true);
  QPalette pal = buttonBar_->palette();
  pal.setColor(QPalette::Window, QColor(0xdf, 0xe7, 0xf0));
  buttonBar_->setPalette(pal);

  auto* menuButton = new QToolButton(buttonBar_);
  menuButton->setObjectName(QStringLiteral("menuebutton"));
  menuButton->setGeometry(8, 18, 35, 35);
  menuButton->setIcon(glyph(Glyph::Menu, 28));
  menuButton->setIconSize(QSize(28, 28));
  menuButton->setFocusPolicy(Qt::NoFocus);
  menuButton->setCursor(Qt::PointingHandCursor);
  // A press of any mouse button opens the main menu right below the button.
  menuButton->installEventFilter(this);
  menuButton_ = menuButton;

  struct BarButton {
    const char* name;
    Glyph glyph;
    const char* text;
    int left;
  };
  const BarButton buttons[] = {
      {"alle_zuruecksetzen_button", Glyph::ResetAll, "Alle zurücksetzen", 78},
      {"alle_dunkelschalten_button", Glyph::BlankAll, "Alle dunkelschalten", 194},
      {"lehrer_an_alle_button", Glyph::TeacherToAll, "Lehrermonitor an Alle", 310},
      {"nachricht_an_alle_button", Glyph::MessageToAll, "Nachricht an Alle", 426},
      {"alle_herunterfahren_button", Glyph::ShutdownAll, "Alle herunterfahren", 542},
      {"Internetfreigebenbutton", Glyph::InternetOpen, "Internet freigeben", 658},
      {"Internetsperrenbutton", Glyph::InternetLock, "Internet sperren", 658},
  };
  for (const auto& b : buttons) {
    auto* button = new GlyphButton(QString::fromLatin1(b.name), glyph(b.glyph, 60), buttonBar_);
    button->setText(QString::fromUtf8(b.text));
    button->setGeometry(b.left, 5, 110, 70);
  }
  findChild<QWidget*>(QStringLiteral("Internetsperrenbutton"))->hide();

  auto* title = boxLabel(buttonBar_, QStringLiteral("Actionbox_Titel"), QStringLiteral("Einzelplatz-Aktionen"),
                         QRect(784, 3, 214, 18), Qt::AlignCenter);
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  actionList_ = new QComboBox(buttonBar_);
  actionList_->setObjectName(QStringLiteral("Einzelplatzaktionsauswahlliste"));
  actionList_->setGeometry(784, 22, 214, 24);
  actionList_->setEditable(false);
  QFont listFont = actionList_->font();
  listFont.setPixelSize(11);
  actionList_->setFont(listFont);
  actionList_->setStyleSheet(QStringLiteral("QComboBox { background: #fff59d; }"));
  auto* info = boxLabel(buttonBar_, QStringLiteral("Actionbox_Infotext"),
                        QStringLiteral("Aktionen ausführen durch Klick auf einen Rechnernamen!"),
                        QRect(784, 46, 214, 30), Qt::AlignCenter);
  QPalette red = info->palette();
  red.setColor(QPalette::WindowText, QColor(0xc6, 0x28, 0x28));
  info->setPalette(red);
}

void MainWindow::buildEditBar() {
  editBar_ = new QWidget(this);
  editBar_->setObjectName(QStringLiteral("Panel_Raumplanspeichern_Schaltflaeche"));
  editBar_->setGeometry(0, 0, 1015, 80);
  editBar_->setAutoFillBackground(true);
  QPalette pal = editBar_->palette();
  pal.setColor(QPalette::Window, QColor(0xfd, 0xf3, 0xd8));
  editBar_->setPalette(pal);
  auto* info = boxLabel(editBar_, QStringLiteral("Raumplanbearbeitungsinfotext"),
                        QStringLiteral("Ziehen Sie die Monitore im Raumplan an die gewünschte Position. Über "
                                       "Rechtsklick auf einen Monitor können Sie diesen löschen oder den "
                                       "Rechnername ändern!"),
                        QRect(2, 7, 264, 70), Qt::AlignCenter);
  info->setFrameStyle(QFrame::Panel | QFrame::Raised);
  QPalette red = info->palette();
  red.setColor(QPalette::WindowText, QColor(0xc6, 0x28, 0x28));
  info->setPalette(red);
  struct EditButton {
    const char* name;
    Glyph glyph;
    const char* text;
    int left;
  };
  const EditButton buttons[] = {
      {"Neuer_Rechner", Glyph::NewSeat, "Neuer Rechner", 287},
      {"Raumplanspeichern", Glyph::SavePlan, "Speichern", 474},
      {"Raumplanabbrechen_Button", Glyph::CancelEdit, "Abbrechen", 658},
  };
  for (const auto& b : buttons) {
    auto* button = new GlyphButton(QString::fromLatin1(b.name), glyph(b.glyph, 60), editBar_);
    button->setText(QString::fromUtf8(b.text));
    button->setGeometry(b.left, 5, 110, 70);
  }
  editBar_->hide();
}

void MainWindow::buildRoomPlan() {
  roomPlan_ = new QGroupBox(QStringLiteral("Raum ???"), this);
  roomPlan_->setObjectName(QStringLiteral("Raumplan"));
  roomPlan_->setGeometry(8, 80, 990, 620);
  QFont bold = roomPlan_->font();
  bold.setBold(true);
  bold.setPixelSize(13);
  roomPlan_->setFont(bold);
  roomPlan_->setStyleSheet(QStringLiteral(
      "QGroupBox#Raumplan { background: white; border: 1px solid #b4bec9; border-radius: 4px; margin-top: 9px; }"
      "QGroupBox#Raumplan::title { subcontrol-origin: margin; left: 12px; padding: 0 4px; color: #173f6e; }"));
  background_ = new BackgroundPicture(roomPlan_);
  background_->setGeometry(12, 16, 965, 590);
  grid_ = new PlacementGrid(roomPlan_);
  grid_->setGeometry(20, 27, 941, 565);
  grid_->setEnabled(false);
  grid_->hide();
  const QFont seatFont = font();
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    auto* panel = new QWidget(roomPlan_);
    panel->setObjectName(QStringLiteral("Panel%1").arg(seat));
    panel->resize(72, 67);
    auto* button = new SeatButton(seat, panel);
    button->setFont(seatFont);
    button->move(0, 0);
    button->setEnabled(false);
    const auto place = defaultSeatPosition(seat);
    panel->move(place.left, place.top);
    panel->hide();
    panels_[seat - 1] = panel;
    seats_[seat - 1] = button;
  }
}

void MainWindow::buildMenus() {
  auto item = [](QMenu* menu, const char* name, const char* text) {
    auto* action = menu->addAction(QString::fromUtf8(text));
    action->setObjectName(QString::fromLatin1(name));
    return action;
  };
  auto sub = [](QMenu* menu, const char* name, const char* text) {
    auto* child = menu->addMenu(QString::fromUtf8(text));
    child->setObjectName(QString::fromLatin1(name));
    child->menuAction()->setObjectName(QString::fromLatin1(name) + QStringLiteral("Action"));
    return child;
  };
  mainMenu_ = new QMenu(this);
  mainMenu_->setObjectName(QStringLiteral("Popup_Hauptmenue"));
  auto* file = sub(mainMenu_, "Datei1", "Datei");
  item(file, "Beenden1", "Beenden");
  auto* edit = sub(mainMenu_, "Bearbeiten1", "Bearbeiten");
  item(edit, "Einstellungen1", "Einstellungen");
  item(edit, "Raumplan_bearbeiten", "Raumplan");
  item(edit, "Sicherheit1", "Sicherheit");
  item(edit, "Konsolenschluessel1", "Konsolenschlüssel");
  auto* view = sub(mainMenu_, "Ansicht1", "Ansicht");
  item(view, "Miniaturbildereinblenden1", "Miniaturbilder einblenden");
  item(view, "Miniaturbilderausblenden1", "Miniaturbilder ausblenden")->setVisible(false);
  auto* help = sub(mainMenu_, "Hilfe1", "Hilfe");
  item(help, "Hilfe2", "Hilfe");
  item(help, "Info1", "Info ...");

  seatMenu_ = new QMenu(this);
  seatMenu_->setObjectName(QStringLiteral("PopupMenu_Einzelplatzaktionen"));
  const char* const seatActions[][2] = {
      {"Schuelermonitorholen", "Schülermonitor holen"},
      {"Schuelermonitorfernsteuern", "Schülermonitor holen und fernsteuern"},
      {"Schuelermonitoranalleundfernsteuern", "Schülermonitor an Alle und fernsteuern"},
      {"Lehrermonitoruebertragen", "Lehrermonitor übertragen"},
      {"Monitordunkelschalten", "Monitor dunkelschalten"},
      {"Nachrichtsenden", "Nachricht senden"},
      {"Rechnerherunterfahren", "Rechner herunterfahren"},
      {"Screenshoterstellen", "Screenshot erstellen"},
  };
  for (const auto& a : seatActions) item(seatMenu_, a[0], a[1]);

  editMenu_ = new QMenu(this);
  editMenu_->setObjectName(QStringLiteral("PopupMenu1"));
  item(editMenu_, "Rechnerdeaktivieren1", "Rechner löschen");
  item(editMenu_, "Rechneraktivieren1", "Rechnername eintragen");
  item(editMenu_, "Rechnernamenaendern1", "Rechnername ändern");
}

void MainWindow::applyLayout() {
  const auto layout = layoutForClientSize({width(), height()});
  buttonBar_->resize(layout.barWidth, 80);
  editBar_->resize(layout.barWidth, 80);
  roomPlan_->resize(layout.roomPlan.width, layout.roomPlan.height);
  background_->resize(layout.background.width, layout.background.height);
  grid_->resize(layout.grid.width, layout.grid.height);
  emit layoutApplied();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // A window in normal state keeps its design size; any other gives all
  // extra room to the room plan.
  if (windowState() == Qt::WindowNoState &&
      (width() != kDesignClientSize.width || height() != kDesignClientSize.height)) {
    resize(kDesignClientSize.width, kDesignClientSize.height);
    return;
  }
  applyLayout();
}

void MainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && windowState() == Qt::WindowNoState) {
    resize(kDesignClientSize.width, kDesignClientSize.height);
    applyLayout();
  }
}

void MainWindow::closeForGood() {
  closing_ = true;
  close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (closing_) {
    event->accept();
    return;
  }
  event->ignore();
  emit closeRequested();
}

}  // namespace saalwacht::console

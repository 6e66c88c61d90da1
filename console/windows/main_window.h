#pragma once
// The main window TForm1: button bar, action list, room plan with its 48
// seats, main menu and seat menus. It shows state and reports the teacher's
// clicks; the classroom capabilities (console/classroom/) own the logic.
// Window thread only.

#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QWidget>
#include <array>

#include "console/windows/seat_button.h"
#include "console/seat_plan.h"
#include "console/windows/widgets.h"
#include "console/core/window_geometry.h"

namespace saalwacht::console {

// The placement grid shown while the room plan is edited.
class PlacementGrid : public QWidget {
  Q_OBJECT
 public:
  explicit PlacementGrid(QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// The room plan's background picture, stretched to its area.
class BackgroundPicture : public QWidget {
  Q_OBJECT
 public:
  explicit BackgroundPicture(QWidget* parent);
  void setPicture(const QImage& picture);
  const QImage& picture() const { return picture_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage picture_;
};

class MainWindow : public QWidget {
  Q_OBJECT
 public:
  MainWindow();

  SeatButton* seatButton(int seat) const { return seats_.at(seat - 1); }
  QWidget* seatPanel(int seat) const { return panels_.at(seat - 1); }

  QMenu* mainMenu() const { return mainMenu_; }
  QMenu* seatMenu() const { return seatMenu_; }
  QMenu* editMenu() const { return editMenu_; }
  QComboBox* actionList() const { return actionList_; }
  QGroupBox* roomPlan() const { return roomPlan_; }
  BackgroundPicture* background() const { return background_; }
  PlacementGrid* grid() const { return grid_; }
  QAction* action(const char* objectName) const;
  QMenu* submenu(const char* objectName) const;
  // A button of the button bar or of the edit bar, by its name.
  QAbstractButton* barButton(const char* objectName) const;

  // The editing marker: "Raumplan" is disabled exactly while the plan is edited.
  bool planEdited() const;
  // Shows the edit bar over the button bar (editing) or hides it.
  void showEditBar(bool shown);

  // Lays the room plan out for the current inner size (see window_geometry.h).
  void applyLayout();

  // Closes the window for good, at the end of the close sequence.
  void closeForGood();

 signals:
  // The teacher asked to close the window (close box, window manager,
  // "Beenden"). The console decides; the window stays open until told.
  void closeRequested();
  // The room plan has been laid out anew, after the window changed its size.
  void layoutApplied();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildButtonBar();
  void buildEditBar();
  void buildRoomPlan();
  void buildMenus();

  QWidget* buttonBar_ = nullptr;
  QWidget* editBar_ = nullptr;
  QComboBox* actionList_ = nullptr;
  QGroupBox* roomPlan_ = nullptr;
  BackgroundPicture* background_ = nullptr;
  PlacementGrid* grid_ = nullptr;
  QMenu* mainMenu_ = nullptr;
  QMenu* seatMenu_ = nullptr;
  QMenu* editMenu_ = nullptr;
  QWidget* menuButton_ = nullptr;
  std::array<QWidget*, kSeatCount> panels_{};
  std::array<SeatButton*, kSeatCount> seats_{};
  bool closing_ = false;
};

}  // namespace saalwacht::console

#pragma once
// One seat of the room plan as the teacher sees and clicks it: the computer
// name above a monitor picture that shows the seat's state, greyed while the
// PC does not answer. Window thread only.

#include <QAbstractButton>

#include "console/seat_plan.h"

namespace saalwacht::console {

class SeatButton : public QAbstractButton {
  Q_OBJECT
 public:
  SeatButton(int seat, QWidget* parent);

  int seat() const { return seat_; }
  // The computer name; empty when the seat is not in use.
  QString computerName() const { return text(); }

  SeatState state() const { return state_; }
  // The state's name, the seat's hint ("monitor.bmp", ...).
  QString stateName() const;
  // Changes picture and hint together.
  void setState(SeatState state);

  QSize sizeHint() const override { return {72, 67}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  int seat_;
  SeatState state_ = SeatState::Normal;
  bool hovered_ = false;
};

}  // namespace saalwacht::console

#include "console/windows/seat_button.h"

#include <QPainter>

#include "console/windows/pictures.h"

namespace saalwacht::console {

SeatButton::SeatButton(int seat, QWidget* parent) : QAbstractButton(parent), seat_(seat) {
  setObjectName(QStringLiteral("RechnerButton%1").arg(seat));
  setFixedSize(72, 67);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
  setContextMenuPolicy(Qt::CustomContextMenu);
}

QString SeatButton::stateName() const { return QString::fromUtf8(seatStateName(state_).data()); }

void SeatButton::setState(SeatState state) {
  state_ = state;
  setAccessibleDescription(stateName());
  update();
}

void SeatButton::enterEvent(QEnterEvent* event) {
  hovered_ = true;
  update();
  QAbstractButton::enterEvent(event);
}

void SeatButton::leaveEvent(QEvent* event) {
  hovered_ = false;
  update();
  QAbstractButton::leaveEvent(event);
}

void SeatButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  if (isEnabled() && (hovered_ || isDown())) {
    p.setPen(QColor(0x2f, 0x7d, 0xd1));
    p.setBrush(isDown() ? QColor(0xcf, 0xe4, 0xfa) : QColor(0xe8, 0xf2, 0xfd));
    p.drawRoundedRect(frame, 4, 4);
  }
  // The name on top, the picture below it.
  // Bold when it fits; a long name (an IP address) gets a lighter, then a
  // smaller face before anything is cut from it.
  const QRect textRect(1, 2, width() - 2, 16);
  QFont f = font();
  f.setBold(true);
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (QFontMetrics(f).horizontalAdvance(text()) <= textRect.width()) break;
    if (f.bold()) {
      f.setBold(false);
    } else if (f.pixelSize() > 9 || f.pointSizeF() > 6.5) {
      if (f.pixelSize() > 0) f.setPixelSize(f.pixelSize() - 1);
      else f.setPointSizeF(f.pointSizeF() - 0.75);
    }
  }
  p.setFont(f);
  p.setPen(isEnabled() ? QColor(0x14, 0x1e, 0x2b) : QColor(0x80, 0x80, 0x80));
  p.drawText(textRect, Qt::AlignHCenter | Qt::AlignVCenter,
             p.fontMetrics().elidedText(text(), Qt::ElideMiddle, textRect.width()));
  p.drawImage(QPoint((width() - 48) / 2, 18), seatPicture(state_, isEnabled()));
}

}  // namespace saalwacht::console

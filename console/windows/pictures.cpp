#include "console/windows/pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace saalwacht::console {
namespace {

const QColor kBezel(0x2b, 0x30, 0x3a);
const QColor kStand(0x55, 0x5c, 0x68);

// Screen colours chosen to differ in hue and in brightness, so the states
// stay apart for colour-blind teachers and in the greyed look.
struct ScreenLook {
  QColor top;
  QColor bottom;
};

ScreenLook screenLook(SeatState state) {
  switch (state) {
    case SeatState::Normal: return {QColor(0x9f, 0xd4, 0xff), QColor(0x3a, 0x8d, 0xde)};
    case SeatState::Dark: return {QColor(0x10, 0x10, 0x14), QColor(0x00, 0x00, 0x00)};
    case SeatState::Teacher: return {QColor(0xff, 0xe0, 0x8a), QColor(0xf0, 0x9a, 0x1a)};
    case SeatState::Green: return {QColor(0xa8, 0xf0, 0xa0), QColor(0x2e, 0xa8, 0x3c)};
    case SeatState::Red: return {QColor(0xff, 0xa0, 0x98), QColor(0xd8, 0x2a, 0x22)};
  }
  return {Qt::gray, Qt::darkGray};
}

void drawMonitor(QPainter& p, SeatState state) {
  p.setRenderHint(QPainter::Antialiasing);
  // Stand and foot.
  p.setPen(Qt::NoPen);
  p.setBrush(kStand);
  p.drawRect(QRectF(20, 35, 8, 6));
  p.drawRoundedRect(QRectF(11, 40, 26, 5), 2, 2);
  // Bezel and screen.
  p.setBrush(kBezel);
  p.drawRoundedRect(QRectF(2, 4, 44, 32), 3, 3);
  const QRectF screen(5, 7, 38, 26);
  const auto look = screenLook(state);
  QLinearGradient fill(screen.topLeft(), screen.bottomLeft());
  fill.setColorAt(0, look.top);
  fill.setColorAt(1, look.bottom);
  p.setBrush(fill);
  p.drawRect(screen);

  const QPointF c = screen.center();
  switch (state) {
    case SeatState::Normal: {
      // A small desktop: a window with a title bar.
      p.setBrush(QColor(255, 255, 255, 230));
      p.drawRect(QRectF(c.x() - 11, c.y() - 7, 22, 14));
      p.setBrush(QColor(0x1f, 0x5f, 0xa8));
      p.drawRect(QRectF(c.x() - 11, c.y() - 7, 22, 4));
      break;
    }
    case SeatState::Dark: {
      // A crescent: the screen sleeps.
      QPainterPath moon;
      moon.addEllipse(QPointF(c.x(), c.y()), 8, 8);
      QPainterPath bite;
      bite.addEllipse(QPointF(c.x() + 4.5, c.y() - 3), 7, 7);
      p.setBrush(QColor(0xe8, 0xe8, 0xf0));
      p.drawPath(moon.subtracted(bite));
      break;
    }
    case SeatState::Teacher: {
      // The teacher's silhouette in front of a board.
      p.setBrush(QColor(0x4a, 0x2a, 0x00));
      p.drawEllipse(QPointF(c.x(), c.y() - 4), 4, 4);
      p.drawRoundedRect(QRectF(c.x() - 8, c.y() + 1, 16, 10), 4, 4);
      break;
    }
    case SeatState::Green: {
      // An eye: this screen shows another student's screen.
      QPainterPath eye;
      eye.moveTo(c.x() - 12, c.y());
      eye.quadTo(c.x(), c.y() - 10, c.x() + 12, c.y());
      eye.quadTo(c.x(), c.y() + 10, c.x() - 12, c.y());
      p.setBrush(Qt::white);
      p.drawPath(eye);
      p.setBrush(QColor(0x0b, 0x4a, 0x14));
      p.drawEllipse(c, 4, 4);
      break;
    }
    case SeatState::Red: {
      // Broadcast waves: this screen is shown to everyone.
      p.setBrush(Qt::white);
      p.drawEllipse(c, 3, 3);
      QPen wave(Qt::white, 2);
      p.setPen(wave);
      p.setBrush(Qt::NoBrush);
      for (int r : {7, 11}) {
        p.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), -45 * 16, 90 * 16);
        p.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 135 * 16, 90 * 16);
      }
      p.setPen(Qt::NoPen);
      break;
    }
  }
  // Screen glare.
  p.setBrush(QColor(255, 255, 255, 40));
  QPainterPath glare;
  glare.moveTo(screen.topLeft());
  glare.lineTo(screen.left() + 16, screen.top());
  glare.lineTo(screen.left(), screen.top() + 12);
  glare.closeSubpath();
  p.drawPath(glare);
}

QImage greyed(const QImage& image) {
  QImage out = image.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < out.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x) {
      const QRgb px = line[x];
      // Lighter grey with the brightness kept, so states still differ.
      const int grey = qGray(px);
      const int light = 110 + grey * 120 / 255;
      line[x] = qRgba(light, light, light, qAlpha(px) * 3 / 4);
    }
  }
  return out;
}

}  // namespace

QImage seatPictureStrip(SeatState state) {
  QImage half(48, 48, QImage::Format_ARGB32_Premultiplied);
  half.fill(Qt::transparent);
  {
    QPainter p(&half);
    drawMonitor(p, state);
  }
  QImage strip(96, 48, QImage::Format_ARGB32_Premultiplied);
  strip.fill(Qt::transparent);
  QPainter p(&strip);
  p.drawImage(0, 0, half);
  p.drawImage(48, 0, greyed(half));
  return strip;
}

QImage seatPicture(SeatState state, bool enabled) {
  static const auto strips = [] {
    std::array<QImage, kSeatStateCount> all;
    for (int i = 0; i < kSeatStateCount; ++i) all[i] = seatPictureStrip(static_cast<SeatState>(i));
    return all;
  }();
  return strips[seatImageIndex(state)].copy(enabled ? 0 : 48, 0, 48, 48);
}

QPixmap glyph(Glyph which, int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);
  const QColor ink(0x26, 0x3b, 0x55);
  auto pen = [&](const QColor& colour, qreal width) {
    QPen pn(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pn);
  };
  auto smallMonitor = [&](QRectF frame, const QColor& screen) {
    p.setPen(Qt::NoPen);
    p.setBrush(kBezel);
    p.drawRoundedRect(frame, 2, 2);
    p.setBrush(screen);
    p.drawRect(frame.adjusted(2, 2, -2, -2));
    p.setBrush(kStand);
    p.drawRect(QRectF(frame.center().x() - 2, frame.bottom(), 4, 3));
    p.drawRect(QRectF(frame.center().x() - 6, frame.bottom() + 3, 12, 2));
  };
  switch (which) {
    case Glyph::Menu:
      pen(ink, 3);
      for (int y : {9, 16, 23}) p.drawLine(QPointF(7, y), QPointF(25, y));
      break;
    case Glyph::ResetAll: {
      smallMonitor(QRectF(3, 5, 26, 18), QColor(0x6f, 0xb6, 0xf2));
      pen(Qt::white, 2.5);
      p.setBrush(Qt::NoBrush);
      p.drawArc(QRectF(10, 8, 12, 12), 60 * 16, 280 * 16);
      p.setPen(Qt::NoPen);
      p.setBrush(Qt::white);
      p.drawPolygon(QPolygonF({QPointF(18, 6), QPointF(23, 9.5), QPointF(17.5, 12)}));
      break;
    }
    case Glyph::BlankAll:
      smallMonitor(QRectF(1, 3, 20, 14), Qt::black);
      smallMonitor(QRectF(11, 11, 20, 14), Qt::black);
      break;
    case Glyph::TeacherToAll: {
      smallMonitor(QRectF(1, 2, 18, 13), QColor(0xf0, 0x9a, 0x1a));
      pen(QColor(0xd0, 0x6a, 0x00), 2.5);
      p.drawLine(QPointF(18, 18), QPointF(27, 25));
      p.drawLine(QPointF(10, 20), QPointF(10, 29));
      p.drawLine(QPointF(21, 11), QPointF(30, 11));
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0xd0, 0x6a, 0x00));
      p.drawPolygon(QPolygonF({QPointF(29, 27), QPointF(23, 26), QPointF(28, 21)}));
      p.drawPolygon(QPolygonF({QPointF(10, 31), QPointF(6.5, 26), QPointF(13.5, 26)}));
      p.drawPolygon(QPolygonF({QPointF(31.5, 11), QPointF(27, 7.5), QPointF(27, 14.5)}));
      break;
    }
    case Glyph::MessageToAll: {
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0x2f, 0x7d, 0xd1));
      QPainterPath bubble;
      bubble.addRoundedRect(QRectF(2, 4, 28, 19), 5, 5);
      bubble.moveTo(8, 22);
      bubble.lineTo(6, 29);
      bubble.lineTo(14, 22);
      p.drawPath(bubble.simplified());
      pen(Qt::white, 2);
      for (int y : {10, 15}) p.drawLine(QPointF(8, y), QPointF(24, y));
      break;
    }
    case Glyph::ShutdownAll: {
      pen(QColor(0xc6, 0x28, 0x28), 3.5);
      p.setBrush(Qt::NoBrush);
      p.drawArc(QRectF(5, 6, 22, 22), 120 * 16, 300 * 16);
      p.drawLine(QPointF(16, 3), QPointF(16, 15));
      break;
    }
    case Glyph::InternetOpen:
    case Glyph::InternetLock: {
      const QColor globe = which == Glyph::InternetOpen ? QColor(0x1f, 0x8a, 0x3b) : QColor(0x8a, 0x8a, 0x8a);
      pen(globe, 2);
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(QRectF(3, 3, 24, 24));
      p.drawEllipse(QRectF(10, 3, 10, 24));
      p.drawLine(QPointF(3, 15), QPointF(27, 15));
      p.drawLine(QPointF(5, 9), QPointF(25, 9));
      p.drawLine(QPointF(5, 21), QPointF(25, 21));
      if (which == Glyph::InternetLock) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xc6, 0x28, 0x28));
        p.drawRoundedRect(QRectF(17, 17, 14, 12), 2, 2);
        pen(QColor(0xc6, 0x28, 0x28), 2.2);
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(19.5, 11, 9, 11), 0, 180 * 16);
      }
      break;
    }
    case Glyph::NewSeat:
      smallMonitor(QRectF(1, 4, 22, 16), QColor(0x6f, 0xb6, 0xf2));
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0x1f, 0x8a, 0x3b));
      p.drawEllipse(QRectF(17, 15, 14, 14));
      pen(Qt::white, 2.2);
      p.drawLine(QPointF(24, 18), QPointF(24, 26));
      p.drawLine(QPointF(20, 22), QPointF(28, 22));
      break;
    case Glyph::SavePlan:
      pen(QColor(0x1f, 0x8a, 0x3b), 4);
      p.drawLine(QPointF(5, 17), QPointF(13, 25));
      p.drawLine(QPointF(13, 25), QPointF(28, 7));
      break;
    case Glyph::CancelEdit:
    case Glyph::Delete:
      pen(QColor(0xc6, 0x28, 0x28), which == Glyph::Delete ? 3 : 4);
      p.drawLine(QPointF(7, 7), QPointF(25, 25));
      p.drawLine(QPointF(25, 7), QPointF(7, 25));
      break;
    case Glyph::Waiting: {
      // An hourglass.
      pen(ink, 2);
      p.drawLine(QPointF(8, 3), QPointF(24, 3));
      p.drawLine(QPointF(8, 29), QPointF(24, 29));
      p.setBrush(QColor(0xf2, 0xd3, 0x8a));
      p.drawPolygon(QPolygonF({QPointF(10, 4), QPointF(22, 4), QPointF(16, 16), QPointF(22, 28), QPointF(10, 28),
                               QPointF(16, 16)}));
      break;
    }
    case Glyph::Folder:
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0xe5, 0xb0, 0x3a));
      p.drawRoundedRect(QRectF(2, 6, 12, 6), 2, 2);
      p.drawRoundedRect(QRectF(2, 9, 28, 18), 2, 2);
      break;
  }
  return pixmap;
}

QPixmap productLettering(int width, int height) {
  QPixmap pixmap(width, height);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  // A seat monitor as the logo mark, then the name.
  QImage mark = seatPictureStrip(SeatState::Normal).copy(0, 0, 48, 48);
  const int markSize = height - 4;
  p.drawImage(QRect(4, 2, markSize, markSize), mark);
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(height * 6 / 10);
  font.setBold(true);
  p.setFont(font);
  QLinearGradient ink(0, 0, 0, height);
  ink.setColorAt(0, QColor(0x2f, 0x7d, 0xd1));
  ink.setColorAt(1, QColor(0x17, 0x3f, 0x6e));
  p.setPen(QPen(QBrush(ink), 1));
  p.drawText(QRect(markSize + 16, 0, width - markSize - 16, height), Qt::AlignVCenter | Qt::AlignLeft,
             QStringLiteral("Saalwacht"));
  return pixmap;
}

}  // namespace saalwacht::console

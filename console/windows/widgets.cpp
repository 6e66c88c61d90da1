#include "console/windows/widgets.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPainter>
#include <QStyleOptionButton>

#include "console/message_display.h"

namespace saalwacht::console {

void MessageBoxDisplay::show(QWidget* parent, const QString& caption, const QString& text, Kind kind) {
  const auto icon = kind == Kind::Error     ? QMessageBox::Critical
                    : kind == Kind::Warning ? QMessageBox::Warning
                                            : QMessageBox::NoIcon;
  QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  box.exec();
}

QString MessageBoxDisplay::askSaveFileName(QWidget* parent, const QString& proposed, const QString& filter) {
  return QFileDialog::getSaveFileName(parent, QString(), proposed, filter);
}

QString MessageBoxDisplay::askOpenFileName(QWidget* parent, const QString& filter) {
  QFileDialog dialog(parent, QString(), QString(), filter);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::ReadOnly, false);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

bool MessageBoxDisplay::choosePrinter(QWidget* parent, QPrinter& printer) {
  QPrintDialog dialog(&printer, parent);
  return dialog.exec() == QDialog::Accepted;
}

GlyphButton::GlyphButton(const QString& objectName, const QPixmap& glyph, QWidget* parent)
    : QAbstractButton(parent), glyph_(glyph) {
  setObjectName(objectName);
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::PointingHandCursor);
  setAttribute(Qt::WA_Hover);
}

void GlyphButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF frame = QRectF(rect()).adjusted(1, 1, -1, -1);
  const bool hot = isEnabled() && underMouse();
  QLinearGradient fill(frame.topLeft(), frame.bottomLeft());
  fill.setColorAt(0, isDown() ? QColor(0xd6, 0xe6, 0xf7) : hot ? QColor(0xff, 0xff, 0xff) : QColor(0xfb, 0xfc, 0xfe));
  fill.setColorAt(1, isDown() ? QColor(0xc3, 0xd9, 0xf2) : hot ? QColor(0xe3, 0xef, 0xfc) : QColor(0xe9, 0xee, 0xf4));
  p.setPen(hot ? QColor(0x2f, 0x7d, 0xd1) : QColor(0xb4, 0xbe, 0xca));
  p.setBrush(fill);
  p.drawRoundedRect(frame, 5, 5);
  const int glyphSize = 30;
  if (isEnabled()) {
    p.drawPixmap(QRect((width() - glyphSize) / 2, 6, glyphSize, glyphSize), glyph_);
  } else {
    p.setOpacity(0.35);
    p.drawPixmap(QRect((width() - glyphSize) / 2, 6, glyphSize, glyphSize), glyph_);
    p.setOpacity(1);
  }
  p.setPen(isEnabled() ? QColor(0x14, 0x1e, 0x2b) : QColor(0x9a, 0x9a, 0x9a));
  p.drawText(QRect(3, 37, width() - 6, height() - 39), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, text());
}

QLabel* placeLabel(QWidget* parent, const QString& objectName, const QString& text, int x, int y) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(objectName);
  label->setProperty("autoSize", true);
  label->move(x, y);
  label->adjustSize();
  return label;
}

QLabel* boxLabel(QWidget* parent, const QString& objectName, const QString& text, const QRect& geometry,
                 Qt::Alignment alignment) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(objectName);
  label->setGeometry(geometry);
  label->setAlignment(alignment);
  label->setWordWrap(true);
  return label;
}

}  // namespace saalwacht::console

#pragma once
// Small building blocks shared by the console's windows. Window thread only.

#include <QAbstractButton>
#include <QLabel>
#include <QPixmap>

namespace saalwacht::console {

// A big bar button: glyph above a caption that wraps onto two lines.
class GlyphButton : public QAbstractButton {
  Q_OBJECT
 public:
  GlyphButton(const QString& objectName, const QPixmap& glyph, QWidget* parent);
  QSize sizeHint() const override { return {110, 70}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap glyph_;
};

// A label placed at (x, y) that sizes itself to its text, as the designer's
// auto-sizing labels do.
QLabel* placeLabel(QWidget* parent, const QString& objectName, const QString& text, int x, int y);

// A label with a fixed rectangle.
QLabel* boxLabel(QWidget* parent, const QString& objectName, const QString& text, const QRect& geometry,
                 Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter);

}  // namespace saalwacht::console

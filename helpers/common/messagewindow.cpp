#include "messagewindow.h"

#include "topmost.h"

#include <QDialogButtonBox>
#include <QFont>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace saalwacht::helpers {

MessageWindow::MessageWindow(const QString& title, const QString& text, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(title);
  makeAlwaysOnTop(this);

  text_ = new QPlainTextEdit(this);
  text_->setReadOnly(true);
  text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  text_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  text_->setFocusPolicy(Qt::ClickFocus);
  QFont font = text_->font();
  font.setPointSizeF(font.pointSizeF() * 1.5);
  text_->setFont(font);

  // Without a window manager there is no title bar, so the window names itself.
  auto* heading = new QLabel(title, this);
  QFont headingFont = font;
  headingFont.setBold(true);
  headingFont.setPointSizeF(font.pointSizeF() * 1.2);
  heading->setFont(headingFont);
  text_->setPlainText(normaliseLineBreaks(text));

  auto* buttons = new QDialogButtonBox(this);
  ok_ = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  ok_->setDefault(true);
  ok_->setFocus();
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(heading);
  layout->addWidget(text_, 1);
  layout->addWidget(buttons);

  resize(640, 400);
}

QString MessageWindow::shownText() const { return text_->toPlainText(); }

QString MessageWindow::normaliseLineBreaks(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

std::optional<QString> messageFromArguments(int argc, const char* const* argv) {
  if (argc != 2 || argv[1] == nullptr) return std::nullopt;
  return QString::fromUtf8(argv[1]);
}

}  // namespace saalwacht::helpers

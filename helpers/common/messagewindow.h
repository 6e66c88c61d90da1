#pragma once

#include <QDialog>
#include <QString>

#include <optional>

class QPlainTextEdit;
class QPushButton;

namespace saalwacht::helpers {

// A plain-text notice for the student with one "OK" button, kept above other
// windows. The text is shown literally (no HTML), wrapped, selectable and
// scrollable, so any message the teacher types can be displayed as is.
class MessageWindow : public QDialog {
  Q_OBJECT

 public:
  MessageWindow(const QString& title, const QString& text, QWidget* parent = nullptr);

  QString shownText() const;
  QPlainTextEdit* textView() const { return text_; }
  QPushButton* okButton() const { return ok_; }

  // CR LF and lone CR become LF, so Windows-style line breaks do not show
  // up as stray characters.
  static QString normaliseLineBreaks(QString text);

 private:
  QPlainTextEdit* text_;
  QPushButton* ok_;
};

// The message a helper got on its command line: exactly one argument,
// decoded as UTF-8 whatever the locale. Empty optional for any other count.
std::optional<QString> messageFromArguments(int argc, const char* const* argv);

}  // namespace saalwacht::helpers

#pragma once
// How the console asks and tells the teacher things in modal windows: message
// boxes, the file save dialog and the print dialog. The real one opens them;
// tests hand in one that records and answers.

#include <QString>

class QPrinter;
class QWidget;

namespace saalwacht::console {

class MessageDisplay {
 public:
  enum class Kind { Plain, Warning, Error };
  virtual ~MessageDisplay() = default;
  // Shows the text and returns when the teacher has closed it.
  virtual void show(QWidget* parent, const QString& caption, const QString& text, Kind kind) = 0;
  // The file to save to, proposing `proposed`; empty when the teacher cancels.
  virtual QString askSaveFileName(QWidget* parent, const QString& proposed, const QString& filter) = 0;
  // An existing file to open; empty when the teacher cancels.
  virtual QString askOpenFileName(QWidget* parent, const QString& filter) = 0;
  // Lets the teacher choose and set up the printer; false when cancelled.
  virtual bool choosePrinter(QWidget* parent, QPrinter& printer) = 0;
};

class MessageBoxDisplay : public MessageDisplay {
 public:
  void show(QWidget* parent, const QString& caption, const QString& text, Kind kind) override;
  QString askSaveFileName(QWidget* parent, const QString& proposed, const QString& filter) override;
  QString askOpenFileName(QWidget* parent, const QString& filter) override;
  bool choosePrinter(QWidget* parent, QPrinter& printer) override;
};

}  // namespace saalwacht::console

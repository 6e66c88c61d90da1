#pragma once
// How the console shows a message to the teacher. The real one opens a modal
// message box; tests hand in one that records what would have been shown.

#include <QString>

class QWidget;

namespace saalwacht::console {

class MessageDisplay {
 public:
  enum class Kind { Plain, Warning, Error };
  virtual ~MessageDisplay() = default;
  // Shows the text and returns when the teacher has closed it.
  virtual void show(QWidget* parent, const QString& caption, const QString& text, Kind kind) = 0;
};

class MessageBoxDisplay : public MessageDisplay {
 public:
  void show(QWidget* parent, const QString& caption, const QString& text, Kind kind) override;
};

}  // namespace saalwacht::console

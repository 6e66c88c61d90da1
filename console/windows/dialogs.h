#pragma once
// The console's secondary windows. Each exists for the whole run and is
// shown and hidden as needed; its object name is the window's class name
// (TForm6, ...) and its controls carry their names. Window thread only.

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <functional>

namespace saalwacht::console {

class MessageDisplay;

// TForm6: product lettering, version line, web link, OK.
class AboutBox : public QDialog {
  Q_OBJECT
 public:
  AboutBox();
  void setVersionText(const QString& version);  // shows "Version: " + version
  QLabel* webLink() const { return webLink_; }
  static QString webAddress();

 signals:
  void webLinkClicked(const QString& address);

 private:
  QLabel* versionLine_;
  QLabel* webLink_;
};

// TForm11: "Bitte warten ..." while the console closes.
class ExitWaitWindow : public QDialog {
  Q_OBJECT
 public:
  ExitWaitWindow();
};

// TForm12: a seat's computer name.
class SeatNameDialog : public QDialog {
  Q_OBJECT
 public:
  SeatNameDialog();
  QLineEdit* nameField() const { return field_; }

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLineEdit* field_;
  QPushButton* ok_;
};

// TForm4: window size, room name, background, thumbnails, presets.
class SettingsDialog : public QDialog {
  Q_OBJECT
 public:
  SettingsDialog();
  QRadioButton* radio(const char* objectName) const;
  QLineEdit* roomNameField() const { return roomName_; }
  QLineEdit* pictureField() const { return picturePath_; }
  QSpinBox* zoomControl() const { return zoom_; }
  QLabel* sizeSuggestion() const { return suggestion_; }
  // "(" + first part + " " + width + "x" + height + ")".
  void makeSizeSuggestion(const QString& firstPart, int width, int height);

 private:
  QLineEdit* roomName_;
  QLineEdit* picturePath_;
  QSpinBox* zoom_;
  QLabel* suggestion_;
};

// TForm5: shut one student PC down?
class ShutdownSeatDialog : public QDialog {
  Q_OBJECT
 public:
  ShutdownSeatDialog();
  void setComputerName(const QString& name);
};

// TForm7: shut all student PCs down?
class ShutdownAllDialog : public QDialog {
  Q_OBJECT
 public:
  ShutdownAllDialog();
};

// TForm2: a text message to one seat or to all.
class MessageDialog : public QDialog {
  Q_OBJECT
 public:
  MessageDialog();
  QPlainTextEdit* textField() const { return text_; }
  void setTarget(const QString& target);
  QString target() const;

 private:
  QLabel* target_;
  QPlainTextEdit* text_;
};

// TForm_Screenshot: a received screenshot, to print or save.
class ScreenshotWindow : public QDialog {
  Q_OBJECT
 public:
  ScreenshotWindow();
  // Waiting: hourglass, print and save disabled.
  void showWaiting(const QString& caption);
  void showPicture(const QImage& picture);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QLabel* picture_;
  QLabel* hourglass_;
  QImage image_;
};

// TForm13: sets or changes the remote password.
class SecurityDialog : public QDialog {
  Q_OBJECT
 public:
  struct Texts {
    QString wrongOldPassword, wrongLength, saved, repeat, cannotStore;
  };
  // Keeps a new password (picture store, parameter texts); it returns an
  // error text, or an empty text on success.
  using Store = std::function<QString(const QString& password)>;

  explicit SecurityDialog(MessageDisplay& messages);
  void setStore(Store store) { store_ = std::move(store); }

  void setTexts(const Texts& texts) { texts_ = texts; }
  void setRemotePassword(const QString& password) { password_ = password; }
  // "0" while none has been set.
  const QString& remotePassword() const { return password_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;

 private:
  void ok();
  void refuse(const QString& message, QLineEdit* focus);

  MessageDisplay& messages_;
  Store store_;
  Texts texts_;
  QString password_ = QStringLiteral("0");
  QLineEdit* old_;
  QLineEdit* new_;
  QLineEdit* repeat_;
  QLabel* oldLabel_;
};

// TForm14: the console's key, its fingerprint and its export, so that an
// admin can make the student PCs trust this console.
class ConsoleKeyDialog : public QDialog {
  Q_OBJECT
 public:
  ConsoleKeyDialog();
  // The fingerprint and the public key line.
  void showKey(const QString& fingerprint, const QString& publicLine);

 signals:
  void exportRequested();

 private:
  QLabel* fingerprint_;
  QLineEdit* publicLine_;
};

}  // namespace saalwacht::console

#pragma once
// The settings dialog's logic (TForm4): the settings from [Einstellungen]
// shown at start-up, the choices that act at once (window size, background
// picture, thumbnail menu, internet buttons) and "OK", which writes them all.
// The dialog's controls are the settings' run-time home; this object reads
// them. Window thread only.

#include <QObject>
#include <QString>
#include <filesystem>

#include "console/core/configuration.h"

namespace saalwacht::console {

class ActionLock;
class InternetAccess;
class MainWindow;
class MessageDisplay;
class SettingsDialog;
class Thumbnails;

class ConsoleSettings : public QObject {
  Q_OBJECT
 public:
  struct Parts {
    SettingsDialog& dialog;
    MainWindow& window;
    MessageDisplay& messages;
    Thumbnails& thumbnails;
    InternetAccess& internet;
    ActionLock& lock;
    std::filesystem::path configuration;  // saalwacht.ini
  };
  struct Texts {
    QString suggestion;         // "Bildgröße möglichst"
    QString resolutionChanged;  // "Bitte blenden Sie die Miniaturbilder aus ..."
  };
  explicit ConsoleSettings(Parts parts, QObject* parent = nullptr);

  // The texts, and the size suggestion made from the picture's design size.
  void setTexts(const Texts& texts);
  // The settings read at start-up into the dialog and the windows.
  void apply(const Settings& settings);
  const Settings& current() const { return current_; }

  // The checked picture-size preset, 1..3.
  int picturePreset() const;
  int zoom() const;
  bool backgroundSet() const;

  // "OK".
  void ok();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void wire();
  void makeSuggestion(int width, int height);
  void chooseWindowSize(bool fullscreen);

  Parts p_;
  Texts texts_;
  Settings current_;
  bool zoomTouched_ = false;
  // After a window-size choice the suggestion follows the picture's size,
  // which the window manager sets only after the choice.
  bool suggestionFollows_ = false;
};

}  // namespace saalwacht::console

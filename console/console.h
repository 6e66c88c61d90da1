#pragma once
// The teacher console as one object: it creates every window at start, runs
// the start-up routine, keeps the run-time state the windows show and reacts
// to the teacher's menu choices. Made in main() and handed its platform
// services; tests hand in fakes. Window thread only.

#include <QObject>
#include <QString>
#include <filesystem>
#include <memory>
#include <optional>

#include "console/configuration.h"
#include "console/dialogs.h"
#include "console/interface_texts.h"
#include "console/main_window.h"
#include "console/picture_store.h"

namespace saalwacht::platform {
class ProgramLauncher;
}

namespace saalwacht::console {

class MessageDisplay;

struct ConsolePaths {
  std::filesystem::path executable;     // the running program
  std::filesystem::path programFolder;  // its folder: help pages live here
  std::filesystem::path home;           // saalwacht.ini and saalwacht.bmp
};

class Console : public QObject {
  Q_OBJECT
 public:
  Console(ConsolePaths paths, platform::ProgramLauncher& launcher, MessageDisplay& messages);
  ~Console() override;

  // The start-up routine: reads the configuration and the picture store,
  // fills every text, lays out the seats and starts the seat walk. While no
  // remote password is set it asks for one (modal) before it returns.
  // Returns the error that must end the program, or nothing.
  std::optional<QString> start();

  // Shows the main window normal or maximized as configured.
  void showMainWindow();

  // Closing: the teacher (close box, "Beenden") or the system (SIGTERM)
  // asked to end. Ends the event loop.
  void requestClose();

  // Help and about box, as the menu items do.
  void openHelp();
  void showAbout();

  MainWindow& mainWindow() { return *main_; }
  AboutBox& aboutBox() { return *about_; }
  ExitWaitWindow& exitWaitWindow() { return *exitWait_; }
  SeatNameDialog& seatNameDialog() { return *seatName_; }
  SettingsDialog& settingsDialog() { return *settings_; }
  ShutdownSeatDialog& shutdownSeatDialog() { return *shutdownSeat_; }
  ShutdownAllDialog& shutdownAllDialog() { return *shutdownAll_; }
  MessageDialog& messageDialog() { return *message_; }
  SecurityDialog& securityDialog() { return *security_; }
  ScreenshotWindow& screenshotWindow() { return *screenshot_; }

  const Configuration& configuration() const { return config_; }
  const InterfaceTexts& texts() const { return texts_; }
  // Viewer parameter texts with the " -password ..." suffixes appended.
  const QString& viewParameters() const { return viewParameters_; }
  const QString& controlParameters() const { return controlParameters_; }
  const QString& remotePassword() const { return security_->remotePassword(); }

  // The seat walk of the reachability monitor.
  int seatCursor() const { return seatCursor_; }
  bool monitoring() const { return monitoring_; }
  // Computer name at the seat cursor; empty while no seat has a name.
  const QString& currentComputerName() const { return currentComputerName_; }

  SeatNames seatNames() const;

 private:
  void wireMenus();
  void applyTexts();
  void applyRoomPlan(const RoomPlan& plan);
  void applySettings();
  void startMonitoring();
  QString storePassword(const QString& password);
  QWidget* windowNamed(std::string_view name) const;

  ConsolePaths paths_;
  platform::ProgramLauncher& launcher_;
  MessageDisplay& messages_;

  std::unique_ptr<MainWindow> main_;
  std::unique_ptr<AboutBox> about_;
  std::unique_ptr<ExitWaitWindow> exitWait_;
  std::unique_ptr<SeatNameDialog> seatName_;
  std::unique_ptr<SettingsDialog> settings_;
  std::unique_ptr<ShutdownSeatDialog> shutdownSeat_;
  std::unique_ptr<ShutdownAllDialog> shutdownAll_;
  std::unique_ptr<MessageDialog> message_;
  std::unique_ptr<SecurityDialog> security_;
  std::unique_ptr<ScreenshotWindow> screenshot_;

  Configuration config_;
  InterfaceTexts texts_;
  PictureStoreContent store_;
  QString viewParameters_;
  QString controlParameters_;

  int seatCursor_ = 1;
  bool monitoring_ = true;
  bool firstShow_ = true;
  bool planReload_ = false;
  bool closing_ = false;
  QString currentComputerName_;
};

}  // namespace saalwacht::console

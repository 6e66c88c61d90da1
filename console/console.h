#pragma once
// The teacher console as one object: it creates every window at start, runs
// the start-up routine, keeps the run-time state the windows show and reacts
// to the teacher's menu choices. Made in main() and handed its platform
// services; tests hand in fakes. Window thread only.

#include <QObject>
#include <QPoint>
#include <QTimer>
#include <chrono>
#include <functional>
#include <QString>
#include <filesystem>
#include <memory>
#include <optional>

#include "console/command_client.h"
#include "console/configuration.h"
#include "console/dialogs.h"
#include "console/interface_texts.h"
#include "console/main_window.h"
#include "console/picture_store.h"
#include "console/reachability_monitor.h"
#include "console/thumbnail_viewer.h"

namespace saalwacht::platform {
class EchoTest;
class ProcessControl;
class ProgramLauncher;
}

namespace saalwacht::console {

class MessageDisplay;

struct ConsolePaths {
  std::filesystem::path executable;     // the running program
  std::filesystem::path programFolder;  // its folder: help pages live here
  std::filesystem::path home;           // saalwacht.ini and saalwacht.bmp
};

// What the console needs from the system; main() hands in the real ones.
struct ConsoleServices {
  platform::ProgramLauncher& launcher;
  platform::ProcessControl& processes;
  platform::EchoTest& echo;
  MessageDisplay& messages;
  CommandTimeouts commandTimeouts{};
  // Longest wait for the teacher's VNC server to appear or to hand over.
  std::chrono::milliseconds vncWaitBound{10000};
};

class Console : public QObject {
  Q_OBJECT
 public:
  Console(ConsolePaths paths, ConsoleServices services);
  ~Console() override;

  // The start-up routine: reads the configuration and the picture store,
  // fills every text, lays out the seats and starts the seat walk. While no
  // remote password is set it asks for one (modal) before it returns.
  // Returns the error that must end the program, or nothing.
  std::optional<QString> start();

  // Shows the main window normal or maximized as configured.
  void showMainWindow();

  // Closing: the teacher (close box, "Beenden") or the system (SIGTERM)
  // asked to end. Runs the close sequence (every reachable PC reset, at most
  // 15 s for the deliveries, then 1 s), then ends the event loop.
  void requestClose();

  // A left click on a seat, with the action chosen in the action list.
  void seatClicked(int seat);
  // An item of the seat menu (action index 0..7) for a seat.
  void seatMenuAction(int seat, int action);
  // The whole-class buttons.
  void resetAll();
  void blankAll();
  void teacherToAll();
  void messageToAll();
  void shutdownAllAsked();
  // Dialog buttons.
  void sendMessage();         // "Senden"
  void confirmShutdownSeat(); // "JA" of TForm5
  void confirmShutdownAll();  // "JA" of TForm7
  void cancelScreenshot();    // "Abbrechen" of the screenshot window
  void saveScreenshot();      // "Speichern + Schließen"
  void printScreenshot();     // "Drucken + Schließen"

  // Room plan editing.
  void beginEditing();         // menu "Raumplan"
  void addSeat();              // "Neuer Rechner"
  void savePlan();             // "Speichern"
  void cancelEditing();        // "Abbrechen"
  void deleteSeat(int seat);   // edit menu "Rechner löschen"
  void nameSeat(int seat);     // edit menu "Rechnername eintragen" / "ändern"
  bool editing() const;
  // Settings dialog "OK".
  void applySettingsDialog();
  // Internet buttons.
  void releaseInternet();
  void lockInternet();
  void checkInternetButtons();
  // Thumbnails on or off (menu "Ansicht").
  void showThumbnails();
  void hideThumbnails();
  bool thumbnailsShown() const { return thumbnails_; }

  bool actionLocked() const { return actionLocked_; }
  bool serverMarked() const { return serverMarked_; }
  CommandClient& commandClient() { return client_; }
  ReachabilityMonitor& monitor() { return monitor_; }
  // The JPEG bytes of the screenshot shown, as received.
  const QByteArray& screenshotBytes() const { return screenshotBytes_; }
  bool closing() const { return closing_; }

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
  void seatUpdate(const QString& name, bool reachable);
  void runAction(int seat, int action);
  void setState(int seat, SeatState state);
  SeatState state(int seat) const;
  bool seatEnabled(int seat) const;
  QString nameOf(int seat) const;
  void engageLock();
  void releaseLock();
  bool allNormal() const;
  void refuse();
  void send(int seat, const QString& host, CommandKind kind, const QString& text = {});
  // VNC programs.
  // Starts a program through the launcher; a failure is shown over `parent`
  // (the main window when none is given).
  void launch(const QString& program, const QString& parameters, QWidget* parent = nullptr);
  bool serverStart();
  void serverStop();
  void handOverWait();
  void viewCommand(const QString& name);
  void controlCommand(const QString& name);
  void teacherScreenCommand(const QString& name);
  void studentScreenToAll(int seat);
  QString serverProcessName() const;
  // Keeps the event loop running until `done` or `timeout`; true if done.
  bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  void pause(std::chrono::milliseconds duration);
  void requestScreenshot(int seat);
  void closeScreenshotWindow();
  void onScreenshot(int seat, quint64 request, const QByteArray& jpeg);
  void onScreenshotCancelled(int seat, quint64 request);
  void wireActions();
  void wireEditing();
  void createThumbnails();
  void connectThumbnail(int seat, const QString& name);
  void disconnectThumbnail(int seat);
  void setViewerVisible(int seat, bool visible);
  void makeSizeSuggestion();
  bool eventFilter(QObject* watched, QEvent* event) override;
  QString internetProcessName() const;
  QString storePassword(const QString& password);
  QWidget* windowNamed(std::string_view name) const;

  ConsolePaths paths_;
  platform::ProgramLauncher& launcher_;
  platform::ProcessControl& processes_;
  MessageDisplay& messages_;
  std::chrono::milliseconds vncWaitBound_;
  CommandClient client_;
  ReachabilityMonitor monitor_;
  QString echoProblem_;

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

  bool actionLocked_ = false;
  bool serverMarked_ = false;   // WinVNC_Server_gestartet
  bool thumbnails_ = true;
  int popupSeat_ = 0;           // the seat the seat menu was opened on
  int screenshotSeat_ = 0;
  quint64 screenshotRequest_ = 0;  // the one request whose picture is awaited
  bool screenshotWaiting_ = false;
  bool screenshotCancelled_ = false;
  QByteArray screenshotBytes_;

  unsigned walk_ = 0;  // which seat walk is the current one
  bool dragging_ = false;
  QPoint grab_;
  bool zoomTouched_ = false;
  QTimer* internetTimer_ = nullptr;
  std::array<ThumbnailViewer*, kSeatCount> viewers_{};

 public:
  ThumbnailViewer* viewer(int seat) const { return viewers_.at(seat - 1); }
};

}  // namespace saalwacht::console

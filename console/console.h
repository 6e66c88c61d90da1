#pragma once
// The teacher console's composition root: it creates every window at start,
// the platform-facing services and one object per classroom capability
// (console/classroom/), wires the windows' clicks to them, and runs the
// start-up routine. The capabilities own their state and their waits; the
// windows show state and forward clicks. Made in main() and handed its
// platform services; tests hand in fakes. Window thread only.

#include <QObject>
#include <QString>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>

#include "console/classroom/reachability_monitor.h"
#include "console/command_client.h"
#include "console/core/configuration.h"
#include "console/core/interface_texts.h"
#include "console/core/picture_store.h"
#include "console/thumbnail_viewer.h"
#include "console/windows/dialogs.h"
#include "console/windows/main_window.h"

namespace saalwacht::platform {
class EchoTest;
class ProcessControl;
class ProgramLauncher;
}

namespace saalwacht::console {

class ActionLock;
class CommandLink;
class ConsoleKey;
class ConsoleSettings;
class InternetAccess;
class MessageDisplay;
class Messaging;
class ProgramStarter;
class RemotePassword;
class RoomPlanEditing;
class ScreenSharing;
class Screenshots;
class SeatActions;
class SeatWalk;
class Seats;
class Thumbnails;
class WholeClass;

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
  // asked to end. Starts the close sequence (every reachable PC reset, at
  // most 15 s for the deliveries, then 1 s) and returns; at its end the main
  // window closes and the event loop ends.
  void requestClose();
  bool closing() const;
  // The close sequence has run to its end.
  bool closed() const { return closed_; }

  // What the teacher's clicks do, for tests and benchmarks.
  void seatClicked(int seat);
  void seatMenuAction(int seat, int action);  // item 0..7 of the seat menu
  void resetAll();
  void blankAll();
  void teacherToAll();
  void messageToAll();
  void shutdownAllAsked();
  void beginEditing();
  void addSeat();
  void savePlan();
  void cancelEditing();
  void deleteSeat(int seat);
  bool editing() const;
  void checkInternetButtons();
  void openHelp();
  void showAbout();

  // Run-time state, as the windows show it.
  bool thumbnailsShown() const;
  bool actionLocked() const;
  bool serverMarked() const;
  const QByteArray& screenshotBytes() const;
  const QString& viewParameters() const;
  const QString& controlParameters() const;
  const QString& remotePassword() const;
  int seatCursor() const;
  bool monitoring() const;
  // Computer name at the seat cursor; empty while no seat has a name.
  const QString& currentComputerName() const;
  SeatNames seatNames() const;
  ThumbnailViewer* viewer(int seat) const;
  CommandClient& commandClient() { return client_; }
  ReachabilityMonitor& monitor();
  const Configuration& configuration() const { return config_; }
  const InterfaceTexts& texts() const { return texts_; }

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
  ConsoleKeyDialog& consoleKeyDialog() { return *consoleKey_; }
  ConsoleKey& consoleKey() { return *key_; }

 private:
  void createCapabilities(const ConsoleServices& services);
  void wire();
  void applyTexts();
  QWidget* windowNamed(std::string_view name) const;

  ConsolePaths paths_;
  MessageDisplay& messages_;
  QString echoProblem_;
  CommandClient client_;

  // Every window exists from the start, in this order, for the whole run.
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
  std::unique_ptr<ConsoleKeyDialog> consoleKey_;

  // The classroom capabilities and what they share.
  std::unique_ptr<Seats> seats_;
  std::unique_ptr<ProgramStarter> starter_;
  std::unique_ptr<ActionLock> lock_;
  std::unique_ptr<CommandLink> link_;
  std::unique_ptr<Thumbnails> thumbnails_;
  std::unique_ptr<RemotePassword> password_;
  std::unique_ptr<ConsoleKey> key_;
  std::unique_ptr<InternetAccess> internet_;
  std::unique_ptr<ConsoleSettings> settingsLogic_;
  std::unique_ptr<ScreenSharing> sharing_;
  std::unique_ptr<SeatWalk> walk_;
  std::unique_ptr<Screenshots> screenshots_;
  std::unique_ptr<Messaging> messaging_;
  std::unique_ptr<SeatActions> actions_;
  std::unique_ptr<WholeClass> wholeClass_;
  std::unique_ptr<RoomPlanEditing> editing_;

  Configuration config_;
  InterfaceTexts texts_;
  int popupSeat_ = 0;  // the seat the seat menu was opened on
  bool closed_ = false;
};

}  // namespace saalwacht::console

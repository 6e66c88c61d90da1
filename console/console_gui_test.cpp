// The console's windows, started for real on the offscreen platform.

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QThread>
#include <QTimer>
#include <QtTest/QTest>
#include <csignal>
#include <sys/wait.h>
#include <QToolButton>
#include <QPrinter>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <regex>
#include <optional>
#include <map>
#include <condition_variable>
#include <mutex>
#include <set>

#include "console/console.h"
#include "console/core/console_home.h"
#include "console/message_display.h"
#include "console/windows/pictures.h"
#include "console/thumbnail_viewer.h"
#include "platform/echo.h"
#include "platform/launcher.h"
#include "platform/processes.h"
#include "platform/posix/spawn_posix.h"
#include "platform/system.h"
#include "console_fakes.h"
#include "temp_dir.h"
#include "vnc_test_server.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace saalwacht::console {
namespace {

namespace fs = std::filesystem;

using testing::FakeEcho;
using testing::RecordingMessages;
using testing::within;

struct FakeProcesses : platform::ProcessControl {
  int count(std::string_view name) override { return running.count(std::string(name)) ? running[std::string(name)] : 0; }
  bool terminateFirst(std::string_view name) override {
    terminated.push_back(std::string(name));
    if (running[std::string(name)] > 0) --running[std::string(name)];
    return true;
  }
  int terminateProgram(const std::filesystem::path&) override { return 0; }  // the console never asks
  std::map<std::string, int> running;
  std::vector<std::string> terminated;
};

struct FakeLauncher : platform::ProgramLauncher {
  int open(const std::string& file, const std::string& parameters) override {
    opened.push_back({file, parameters});
    if (whenOpened) whenOpened(file, parameters);
    return result;
  }
  // How often `file` was started with `parameters`.
  int count(const std::string& file, const std::string& parameters) const {
    return static_cast<int>(std::count(opened.begin(), opened.end(), std::pair(file, parameters)));
  }
  std::vector<std::pair<std::string, std::string>> opened;
  int result = platform::kLaunchStarted;
  std::function<void(const std::string&, const std::string&)> whenOpened;
};

class ConsoleTest : public ::testing::Test {
 protected:
  ConsoleTest() {
    fs::create_directories(program_);
    fs::create_directories(home_);
  }

  void writeIni(const std::string& text) { std::ofstream(home_ / "saalwacht.ini", std::ios::binary) << text; }

  // A picture store holding `password` ("0": none set yet).
  void writeStore(const std::string& password) {
    fs::copy_file(SAALWACHT_DEFAULT_PICTURE_STORE, home_ / "saalwacht.bmp", fs::copy_options::overwrite_existing);
    std::string error;
    if (password != "0") {
      ASSERT_TRUE(writeRemotePassword(home_ / "saalwacht.bmp", password, error)) << error;
    }
  }

  std::string storedPassword() {
    std::string error;
    return readRemotePassword(home_ / "saalwacht.bmp", error).value_or("<" + error + ">");
  }

  Console& make() {
    console_.reset();
    console_ = std::make_unique<Console>(
        ConsolePaths{program_ / "saalwacht", program_, home_},
        ConsoleServices{launcher_, processes_, echo_, messages_, commandTimeouts_, vncWaitBound_});
    return *console_;
  }

  // Starts the console; fails the test on a start-up error.
  Console& started() {
    auto& c = make();
    const auto error = c.start();
    EXPECT_FALSE(error) << error->toStdString();
    return c;
  }

  template <typename T>
  static T* child(QWidget& window, const char* name) {
    auto* found = window.findChild<T*>(QString::fromLatin1(name));
    EXPECT_TRUE(found) << name;
    return found;
  }

  // Runs `step` as soon as the next modal dialog is open.
  static void whenModal(std::function<void(QWidget*)> step) {
    QTimer::singleShot(0, [step = std::move(step)] {
      QWidget* modal = QApplication::activeModalWidget();
      ASSERT_TRUE(modal);
      step(modal);
    });
  }

  // The teacher's VNC server of the [Befehle] below: it shows up in the
  // process list `delay` after its start; a hand-over runs as a second
  // process of its name for a moment.
  static constexpr const char* kServer = "/opt/vnc/tvncserver";
  static std::string vncCommands(int handOverPauseMs = 100) {
    return std::string("[Befehle]\nServer_starten_befehl=") + kServer + "\nServer_starten_parameter=-forever\n" +
           "Lehrermonitor_an_Schuelermonitor_schicken_befehl=" + kServer +
           "\nLehrermonitor_an_Schuelermonitor_schicken_parameter=-connect\n" +
           "TimeToWait_before_sending_teachermonitor_to_next_pupil=" + std::to_string(handOverPauseMs) + "\n";
  }
  void serverAppearsAfter(std::chrono::milliseconds delay) {
    launcher_.whenOpened = [this, delay](const std::string& file, const std::string& parameters) {
      if (file != kServer) return;
      if (parameters == "-forever") {
        QTimer::singleShot(delay, &timers_, [this] { ++processes_.running["tvncserver"]; });
      } else {
        ++processes_.running["tvncserver"];
        QTimer::singleShot(30, &timers_, [this] { --processes_.running["tvncserver"]; });
      }
    };
  }
  int serverStarts() const { return launcher_.count(kServer, "-forever"); }
  int handOvers(const std::string& name) const { return launcher_.count(kServer, "-connect " + name); }
  // Every named seat answers and the walk has enabled it.
  bool seatsEnabled(std::initializer_list<int> seats) {
    return within(std::chrono::seconds(5), [&] {
      for (int seat : seats) {
        if (!console_->mainWindow().seatButton(seat)->isEnabled()) return false;
      }
      return true;
    });
  }
  void choose(int action) { console_->mainWindow().actionList()->setCurrentIndex(action); }
  QAbstractButton* barButton(const char* name) {
    return console_->mainWindow().findChild<QAbstractButton*>(QString::fromLatin1(name));
  }
  SeatState stateOf(int seat) { return console_->mainWindow().seatButton(seat)->state(); }
  // The close sequence has run to its end.
  bool closed() { return console_->closed(); }

  testing::TempDir dir_{"console_gui_test"};
  fs::path program_ = dir_.path() / "bin";
  fs::path home_ = dir_.path() / "home";
  FakeLauncher launcher_;
  FakeProcesses processes_;
  FakeEcho echo_;
  RecordingMessages messages_;
  CommandTimeouts commandTimeouts_{};
  std::chrono::milliseconds vncWaitBound_{10000};
  QObject timers_;  // the stand-ins' pending steps end with the test
  std::unique_ptr<Console> console_;
};

TEST_F(ConsoleTest, StartShowsNamedSeatsAtTheirPlacesAndTheTexts) {
  writeStore("geheim");
  writeIni(
      "[Raum]\nrechnername3=pc03\nrechnername17=192.168.1.17\nrechnername20=pc20\nposition_rechner20=200,100\n"
      "[Language]\nHead=Saalwacht – Raum 12\nButton_AllReset=Reset für alle\nMenue_3_1=Nicht dieser\n"
      "PopupMenue_2_5=Schwarz\nFormular_SendMessage_ButtonDeleteText=Weg damit\nMenue_2=\n"
      "[Einstellungen]\nRaumbezeichnung=Raum 12\n");
  auto& c = started();
  auto& w = c.mainWindow();

  for (int seat = 1; seat <= kSeatCount; ++seat) {
    SeatButton* button = w.seatButton(seat);
    const bool named = seat == 3 || seat == 17 || seat == 20;
    EXPECT_EQ(w.seatPanel(seat)->isVisibleTo(&w), named) << seat;
    EXPECT_FALSE(button->isEnabled()) << seat;
    EXPECT_EQ(button->stateName(), "monitor.bmp");
    EXPECT_EQ(button->objectName(), QStringLiteral("RechnerButton%1").arg(seat));
  }
  EXPECT_EQ(w.seatPanel(3)->pos(), QPoint(156, 456));
  EXPECT_EQ(w.seatPanel(17)->pos(), QPoint(12, 280));
  EXPECT_EQ(w.seatPanel(20)->pos(), QPoint(200, 100));
  EXPECT_EQ(w.seatButton(17)->computerName(), "192.168.1.17");

  EXPECT_EQ(w.windowTitle(), QStringLiteral("Saalwacht – Raum 12"));
  EXPECT_EQ(w.roomPlan()->title(), "Raum 12");
  EXPECT_EQ(child<QAbstractButton>(w, "alle_zuruecksetzen_button")->text(), "Reset für alle");
  EXPECT_EQ(child<QAbstractButton>(w, "alle_dunkelschalten_button")->text(), "Alle dunkelschalten");
  // The later of the two keys decides the menu item.
  EXPECT_EQ(w.action("Miniaturbildereinblenden1")->text(), "Miniaturbilder einblenden");
  EXPECT_EQ(w.submenu("Bearbeiten1")->title(), "");
  EXPECT_EQ(w.action("Monitordunkelschalten")->text(), "Schwarz");
  ASSERT_EQ(w.actionList()->count(), 8);
  EXPECT_EQ(w.actionList()->itemText(4), "Schwarz");
  EXPECT_EQ(w.actionList()->itemText(0), "Schülermonitor holen");
  EXPECT_EQ(w.actionList()->currentIndex(), 1);
  auto* clear = child<QToolButton>(c.messageDialog(), "loeschen_button");
  EXPECT_EQ(clear->toolTip(), "Weg damit");
  EXPECT_EQ(clear->text(), "");

  EXPECT_EQ(c.seatCursor(), 3);
  EXPECT_EQ(c.currentComputerName(), "pc03");
  EXPECT_TRUE(c.monitoring());
  EXPECT_EQ(c.remotePassword(), "geheim");
  EXPECT_EQ(c.viewParameters(), "0 -password geheim");
  EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(ConsoleTest, EveryLanguageKeyReachesItsControl) {
  writeStore("geheim");
  // Each key gets a text of its own, so a wrong target shows.
  std::string ini = "[Language]\n";
  for (const auto& key : interfaceTextKeys()) ini += std::string(key.key) + "=<" + std::string(key.key) + ">\n";
  writeIni(ini);
  auto& c = started();
  const std::map<std::string_view, QWidget*> windows = {
      {"TForm1", &c.mainWindow()},        {"TForm4", &c.settingsDialog()},  {"TForm13", &c.securityDialog()},
      {"TForm_Screenshot", &c.screenshotWindow()}, {"TForm5", &c.shutdownSeatDialog()},
      {"TForm6", &c.aboutBox()},          {"TForm7", &c.shutdownAllDialog()}, {"TForm11", &c.exitWaitWindow()},
      {"TForm12", &c.seatNameDialog()},   {"TForm2", &c.messageDialog()},
      {"TForm14", &c.consoleKeyDialog()},
  };
  int reached = 0;
  for (const auto& key : interfaceTextKeys()) {
    SCOPED_TRACE(std::string(key.key));
    ASSERT_TRUE(windows.count(key.window));
    QWidget* window = windows.at(key.window);
    const QString expected = QString::fromUtf8(c.texts().controlText(key.window, key.control, key.property));
    QString shown;
    if (key.control.empty()) {
      shown = window->windowTitle();
    } else {
      QObject* target = window->findChild<QObject*>(QString::fromUtf8(key.control.data(), key.control.size()));
      if (!target) continue;  // a text kept for a message
      if (auto* menu = qobject_cast<QMenu*>(target)) shown = menu->title();
      else if (auto* action = qobject_cast<QAction*>(target)) shown = action->text();
      else if (auto* label = qobject_cast<QLabel*>(target)) shown = label->text();
      else if (auto* button = qobject_cast<QAbstractButton*>(target))
        shown = key.property == TextProperty::Hint ? button->toolTip() : button->text();
    }
    EXPECT_EQ(shown, expected);
    ++reached;
  }
  // All but the twelve texts that are kept for messages have a control.
  EXPECT_EQ(reached, static_cast<int>(interfaceTextKeys().size()) - 12);
}

TEST_F(ConsoleTest, SettingsFromTheFileReachTheWindows) {
  writeStore("geheim");
  const std::string picture = SAALWACHT_SOURCE_DIR "/service/fallback_picture.jpg";
  writeIni("[Einstellungen]\nWindowSize=Fullscreen\nBildgroesse_fuer_Schuelermonitor_holen=3\n"
           "Groesse_der_Miniaturbilder=12\nMiniaturbilder=ausblenden\nButton_Miniaturbilder_einausblenden=ausblenden\n"
           "Internetfreigabebutton=ausblenden\nRaumplanhintergrundbild=" + picture + "\n");
  auto& c = started();
  auto& s = c.settingsDialog();
  EXPECT_TRUE(s.radio("Fenstergroesse_Vollbild")->isChecked());
  EXPECT_TRUE(s.radio("Bildgroesse_gross_Button")->isChecked());
  EXPECT_EQ(s.zoomControl()->value(), 12);
  EXPECT_TRUE(s.radio("Miniaturbilder_ausblenden")->isChecked());
  EXPECT_TRUE(s.radio("Miniaturbilder_einausblenden_Button_ausblenden")->isChecked());
  EXPECT_TRUE(s.radio("Internetfreigabebutton_ausblenden")->isChecked());
  EXPECT_EQ(s.pictureField()->text().toStdString(), picture);
  EXPECT_FALSE(c.mainWindow().background()->picture().isNull());
  EXPECT_EQ(s.sizeSuggestion()->text(), "(Bildgröße möglichst 965x590)");
  auto& w = c.mainWindow();
  EXPECT_FALSE(w.submenu("Ansicht1")->menuAction()->isVisible());
  EXPECT_TRUE(w.action("Miniaturbildereinblenden1")->isVisible());
  EXPECT_FALSE(w.action("Miniaturbilderausblenden1")->isVisible());
  EXPECT_FALSE(child<QWidget>(w, "Internetfreigebenbutton")->isVisibleTo(&w));
  EXPECT_FALSE(child<QWidget>(w, "Internetsperrenbutton")->isVisibleTo(&w));

  // A missing picture is dropped without a word; a lower-case value is neither size.
  writeIni("[Einstellungen]\nWindowSize=fullscreen\nRaumplanhintergrundbild=/nirgends/bild.jpg\n");
  auto& again = started();
  EXPECT_TRUE(again.settingsDialog().radio("Fenstergroesse_normal")->isChecked());
  EXPECT_EQ(again.settingsDialog().pictureField()->text(), "");
  EXPECT_TRUE(again.mainWindow().background()->picture().isNull());
  EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(ConsoleTest, NormalWindowKeepsItsDesignSize) {
  writeStore("geheim");
  auto& c = started();
  c.showMainWindow();
  auto& w = c.mainWindow();
  EXPECT_EQ(w.size(), QSize(1007, 711));
  w.resize(1200, 900);
  EXPECT_EQ(w.size(), QSize(1007, 711));
  EXPECT_EQ(w.roomPlan()->size(), QSize(990, 620));
  EXPECT_EQ(w.background()->size(), QSize(965, 590));
  EXPECT_EQ(w.grid()->size(), QSize(940, 560));
}

TEST_F(ConsoleTest, EmptyRoomPlanStartsIdle) {
  writeStore("geheim");
  auto& c = started();
  EXPECT_EQ(c.currentComputerName(), "");
  for (int seat = 1; seat <= kSeatCount; ++seat) EXPECT_FALSE(c.mainWindow().seatPanel(seat)->isVisibleTo(&c.mainWindow()));
}

TEST_F(ConsoleTest, StartUpErrorsEndTheStartWithAClearMessage) {
  writeStore("geheim");
  writeIni("[Raum]\nrechnername2=pc02\nposition_rechner2=links,oben\n");
  auto error = make().start();
  ASSERT_TRUE(error);
  EXPECT_TRUE(error->contains("position_rechner2")) << error->toStdString();
  EXPECT_TRUE(error->contains("links,oben")) << error->toStdString();

  writeIni("");
  for (const char* broken : {"", "BM not really a bitmap"}) {
    if (*broken) std::ofstream(home_ / "saalwacht.bmp", std::ios::binary | std::ios::trunc) << broken;
    else fs::remove(home_ / "saalwacht.bmp");
    error = make().start();
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->contains("saalwacht.bmp")) << error->toStdString();
  }
}

TEST_F(ConsoleTest, FirstStartAsksForThePasswordBeforeTheWindowShows) {
  writeStore("0");
  bool asked = false;
  whenModal([&](QWidget* dialog) {
    asked = true;
    EXPECT_EQ(dialog->objectName(), "TForm13");
    EXPECT_FALSE(child<QLineEdit>(*dialog, "RemotePasswort_alt")->isVisible());
    EXPECT_EQ(dialog->focusWidget(), child<QLineEdit>(*dialog, "RemotePasswort_neu"));
    EXPECT_FALSE(console_->mainWindow().isVisible());
    child<QLineEdit>(*dialog, "RemotePasswort_neu")->setText("Lehr");
    child<QLineEdit>(*dialog, "RemotePasswort_wiederholung")->setText("Lehr");
    child<QPushButton>(*dialog, "Button1")->click();
  });
  auto& c = started();
  EXPECT_TRUE(asked);
  EXPECT_EQ(c.remotePassword(), "Lehr");
  EXPECT_EQ(storedPassword(), "Lehr");
  // The start-up suffix, then one for the new password, the newest last.
  EXPECT_EQ(c.viewParameters(), "0 -password 0 -password Lehr");
  EXPECT_EQ(c.controlParameters(), "0 -password 0 -password Lehr");
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0].text, "Remote-Passwort wurde gespeichert!");

  // Cancelled, the password stays unset and the next start asks again.
  writeStore("0");
  whenModal([](QWidget* dialog) { child<QPushButton>(*dialog, "Button2")->click(); });
  auto& again = started();
  EXPECT_EQ(again.remotePassword(), "0");
  EXPECT_EQ(storedPassword(), "0");
  asked = false;
  whenModal([&](QWidget* dialog) {
    asked = true;
    static_cast<QDialog*>(dialog)->reject();
  });
  started();
  EXPECT_TRUE(asked);
}

TEST_F(ConsoleTest, SecurityDialogRefusesAndKeepsTheOldPassword) {
  writeStore("alt1");
  auto& c = started();
  auto& d = c.securityDialog();
  d.show();
  auto* old = child<QLineEdit>(d, "RemotePasswort_alt");
  auto* neu = child<QLineEdit>(d, "RemotePasswort_neu");
  auto* repeat = child<QLineEdit>(d, "RemotePasswort_wiederholung");
  auto* ok = child<QPushButton>(d, "Button1");
  EXPECT_TRUE(old->isVisible());
  EXPECT_EQ(neu->maxLength(), 8);
  EXPECT_EQ(neu->echoMode(), QLineEdit::Normal);

  const struct {
    const char *old, *neu, *repeat, *message;
    bool oldCleared, neuCleared, repeatCleared;
  } refusals[] = {
      {"ALT1", "neues1", "neues1", "Falsches altes Passwort. Bitte noch einmal eingeben!", true, false, false},
      {"alt1", "abc", "abc", "Bitte wählen Sie ein Passwort mit mindestens 4 Zeichen!", false, true, true},
      {"alt1", "neues1", "neues2", "Bitte wiederholen Sie noch einmal korrekt das Remote-Passwort!", false, false, true},
      // The picture store cannot hold these; taking them would lose the password.
      {"alt1", "ab#cd", "ab#cd", "Das Zeichen # kann nicht gespeichert werden", false, true, true},
      {"alt1", "ab€cd", "ab€cd", "Zeichen außerhalb von Latin-1 (z. B. €) können nicht gespeichert werden", false,
       true, true},
  };
  for (const auto& r : refusals) {
    SCOPED_TRACE(r.message);
    messages_.shown.clear();
    old->setText(QString::fromUtf8(r.old));
    neu->setText(QString::fromUtf8(r.neu));
    repeat->setText(QString::fromUtf8(r.repeat));
    ok->click();
    ASSERT_EQ(messages_.shown.size(), 1u);
    EXPECT_EQ(messages_.shown[0].text, QString::fromUtf8(r.message));
    EXPECT_EQ(old->text().isEmpty(), r.oldCleared);
    EXPECT_EQ(neu->text().isEmpty(), r.neuCleared);
    EXPECT_EQ(repeat->text().isEmpty(), r.repeatCleared);
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(c.remotePassword(), "alt1");
    EXPECT_EQ(storedPassword(), "alt1");
  }
  EXPECT_EQ(c.viewParameters(), "0 -password alt1");

  // Nine characters do not fit; four are enough.
  neu->setText("123456789");
  EXPECT_EQ(neu->text(), "12345678");
  old->setText("alt1");
  neu->setText("Neu!");
  repeat->setText("Neu!");
  ok->click();
  EXPECT_FALSE(d.isVisible());
  EXPECT_EQ(c.remotePassword(), "Neu!");
  EXPECT_EQ(storedPassword(), "Neu!");
  EXPECT_EQ(c.viewParameters(), "0 -password alt1 -password Neu!");
  EXPECT_TRUE(old->text().isEmpty() && neu->text().isEmpty() && repeat->text().isEmpty());
}

TEST_F(ConsoleTest, HelpAndAboutBox) {
  writeStore("geheim");
  auto& c = started();
  c.openHelp();
  ASSERT_EQ(launcher_.opened.size(), 1u);
  EXPECT_EQ(launcher_.opened[0].first, (program_ / "Hilfe" / "index.htm").string());
  EXPECT_EQ(launcher_.opened[0].second, "0");

  launcher_.result = platform::kLaunchFileNotFound;
  c.mainWindow().action("Hilfe2")->trigger();
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0].caption, "Fehler");
  EXPECT_EQ(messages_.shown[0].text, "Die angegebene Datei wurde nicht gefunden !");

  // A translated menu caption names another folder.
  writeIni("[Language]\nMenue_4_1=Aide\nFormular_Info_Head=À propos\n");
  launcher_.result = platform::kLaunchStarted;
  auto& french = started();
  french.openHelp();
  EXPECT_EQ(launcher_.opened.back().first, (program_ / "Aide" / "index.htm").string());

  french.mainWindow().action("Info1")->trigger();
  auto& about = french.aboutBox();
  EXPECT_TRUE(about.isVisible());
  EXPECT_EQ(about.windowTitle(), "À propos");
  EXPECT_TRUE(about.windowFlags() & Qt::WindowStaysOnTopHint);
  // The fake executable carries no version.
  EXPECT_EQ(child<QLabel>(about, "Label2")->text(), "Version: ");
  french.showAbout();
  EXPECT_EQ(&french.aboutBox(), &about);  // the same box again
  EXPECT_TRUE(about.isVisible());
  emit about.webLinkClicked(AboutBox::webAddress());
  EXPECT_EQ(launcher_.opened.back(), std::pair(AboutBox::webAddress().toStdString(), std::string("0")));
}

bool catchesSigterm(pid_t pid) {
  const auto status = platform::readFile("/proc/" + std::to_string(pid) + "/status").value_or("");
  const auto at = status.find("SigCgt:");
  if (at == std::string::npos) return false;
  const unsigned long long mask = std::stoull(status.substr(at + 7), nullptr, 16);
  return mask & (1ULL << (SIGTERM - 1));
}

// The real program: SIGTERM ends it like closing the window, also while the
// first-start prompt is open, and while the main window is shown.
TEST_F(ConsoleTest, SigtermEndsTheProgram) {
  for (const bool withPassword : {false, true}) {
    SCOPED_TRACE(withPassword);
    // Without a password: a home folder that does not exist yet, so the
    // program makes it with the store that asks for one.
    fs::remove_all(home_);
    if (withPassword) {
      fs::create_directories(home_);
      writeStore("geheim");
    }
    auto child = platform::posix::spawn(
        {fs::path(SAALWACHT_BIN_DIR) / "saalwacht", {},
         std::vector<std::string>{"QT_QPA_PLATFORM=offscreen", "SAALWACHT_HOME=" + home_.string(),
                                  "XDG_RUNTIME_DIR=" + dir_.path().string(), "HOME=" + dir_.path().string()},
         std::nullopt});
    ASSERT_TRUE(child);
    // Signal only once the program catches SIGTERM, then let it get going.
    for (int i = 0; i < 2000 && !catchesSigterm(child->pid()); ++i) QThread::msleep(5);
    ASSERT_TRUE(catchesSigterm(child->pid()));
    QThread::msleep(300);
    ::kill(child->pid(), SIGTERM);
    ASSERT_TRUE(child->waitForExit(std::chrono::seconds(20)));
    int status = -1;
    ASSERT_EQ(::waitpid(child->pid(), &status, 0), child->pid());
    EXPECT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
}

TEST_F(ConsoleTest, MissingEchoPermissionIsSaidOnce) {
  writeStore("geheim");
  echo_.problem = "Ping ist nicht erlaubt";
  auto& c = started();
  c.showMainWindow();
  QApplication::processEvents();
  QApplication::processEvents();
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0].text, "Ping ist nicht erlaubt");
}

// Echo answers only once released, to hold a check in flight.
struct HeldEcho : platform::EchoTest {
  int averageRoundTripMs(const std::string&) override {
    std::unique_lock lock(mutex);
    released.wait(lock, [this] { return go; });
    return 0;
  }
  std::string missingPermission() override { return {}; }
  std::mutex mutex;
  std::condition_variable released;
  bool go = false;
};

TEST(ReachabilityMonitor, AResultFromBeforeAStopIsDropped) {
  HeldEcho echo;
  std::vector<QString> results;
  {
    ReachabilityMonitor monitor(echo);
    QObject::connect(&monitor, &ReachabilityMonitor::checked, [&](const QString& name, bool) { results.push_back(name); });
    monitor.check("alt");
    monitor.stop();
    monitor.check("neu");
    {
      std::lock_guard lock(echo.mutex);
      echo.go = true;
    }
    echo.released.notify_all();
    for (int i = 0; i < 200 && results.empty(); ++i) {
      QApplication::processEvents(QEventLoop::AllEvents, 10);
      QThread::msleep(5);
    }
    QThread::msleep(50);
    QApplication::processEvents();
  }
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0], "neu");
}

TEST(Thumbnails, SizeFollowsTheZoom) {
  const struct {
    int zoom;
    QSize size;
  } cases[] = {{7, {72, 52}}, {8, {82, 59}}, {14, {144, 104}}, {21, {216, 156}}, {28, {288, 208}}, {35, {360, 260}}};
  for (const auto& c : cases) EXPECT_EQ(thumbnailSize(c.zoom), c.size) << c.zoom;
}

TEST(Thumbnails, ShowTheScaledScreenWithTheRightPassword) {
  testing::VncTestServer server("127.0.4.1", 5911, 640, 480, "geheim");
  ASSERT_TRUE(server.running());
  for (const bool serverScaling : {true, false}) {
    SCOPED_TRACE(serverScaling);
    QWidget parent;
    ThumbnailViewer viewer(1, &parent);
    viewer.resize(144, 104);
    viewer.setServerSideScaling(serverScaling);
    std::optional<bool> ended;
    QObject::connect(&viewer, &ThumbnailViewer::ended, [&](bool auth) { ended = auth; });
    viewer.connectTo("127.0.4.1", 5911, "geheim");
    EXPECT_TRUE(viewer.connectionUp());
    ASSERT_TRUE(within(std::chrono::milliseconds(10000), [&] { return !viewer.frame().isNull(); }));
    const QImage frame = viewer.frame();
    EXPECT_EQ(frame.size(), QSize(144, 104));
    // 4:3 in 144 x 104: the picture is 138 wide, centred; red left, blue right.
    const QColor left = frame.pixelColor(30, 52), right = frame.pixelColor(114, 52);
    EXPECT_GT(left.red(), 180) << left.name().toStdString();
    EXPECT_LT(left.blue(), 80) << left.name().toStdString();
    EXPECT_GT(right.blue(), 180) << right.name().toStdString();
    EXPECT_LT(right.red(), 80) << right.name().toStdString();
    viewer.disconnectFromServer();
    ASSERT_TRUE(within(std::chrono::milliseconds(5000), [&] { return ended.has_value(); }));
    EXPECT_FALSE(*ended);
    EXPECT_FALSE(viewer.connectionUp());
  }
}

TEST(Thumbnails, AWrongPasswordAndARefusedConnectionEndTheViewer) {
  testing::VncTestServer server("127.0.4.2", 5912, 320, 240, "richtig");
  ASSERT_TRUE(server.running());
  const struct {
    const char* host;
    const char* password;
    bool authFailed;
  } cases[] = {{"127.0.4.2", "falsch", true}, {"127.0.4.3", "richtig", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    QWidget parent;
    ThumbnailViewer viewer(2, &parent);
    viewer.resize(72, 52);
    std::optional<bool> ended;
    QObject::connect(&viewer, &ThumbnailViewer::ended, [&](bool auth) { ended = auth; });
    viewer.connectTo(c.host, 5912, c.password);
    // "connect" is drawn while it tries.
    EXPECT_TRUE(viewer.grab().toImage().pixelColor(0, 0).isValid());
    ASSERT_TRUE(within(std::chrono::milliseconds(15000), [&] { return ended.has_value(); }));
    EXPECT_EQ(*ended, c.authFailed);
    EXPECT_TRUE(viewer.frame().isNull());
  }
}

TEST_F(ConsoleTest, TheSeatWalkConnectsThumbnailsAndHidesThoseThatEnd) {
  testing::VncTestServer good("127.0.4.11", 5913, 640, 480, "geheim");
  testing::VncTestServer other("127.0.4.12", 5913, 640, 480, "anderes");
  ASSERT_TRUE(good.running() && other.running());
  writeStore("geheim");
  writeIni("[Raum]\nrechnername1=127.0.4.11\nrechnername2=127.0.4.12\n[Befehle]\nSchuelermonitor_holen_port=5913\n"
           "[Einstellungen]\nGroesse_der_Miniaturbilder=14\n");
  echo_.answering = {"127.0.4.11", "127.0.4.12"};
  auto& c = started();
  ThumbnailViewer* first = c.viewer(1);
  ThumbnailViewer* second = c.viewer(2);
  EXPECT_EQ(first->objectName(), "ViewerX1");
  ASSERT_TRUE(within(std::chrono::milliseconds(10000), [&] { return !first->frame().isNull(); }));
  EXPECT_TRUE(first->isVisibleTo(&c.mainWindow()));
  EXPECT_EQ(first->size(), QSize(144, 104));
  EXPECT_EQ(first->pos(), QPoint(0, 20));
  // The seat grows with its miniature.
  EXPECT_EQ(c.mainWindow().seatPanel(1)->size(), QSize(144, 124));
  // The refused password hides the miniature again. The walk retries at every
  // visit, so the state is looked at right when a refusal ends a connection.
  std::optional<bool> hiddenAfterRefusal;
  QObject::connect(second, &ThumbnailViewer::ended, [&](bool authenticationFailed) {
    if (authenticationFailed && !hiddenAfterRefusal) {
      hiddenAfterRefusal = !second->connectionUp() && !second->isVisibleTo(&c.mainWindow());
    }
  });
  ASSERT_TRUE(within(std::chrono::milliseconds(10000), [&] { return hiddenAfterRefusal.has_value(); }));
  EXPECT_TRUE(*hiddenAfterRefusal);

  // Hidden through the menu: every viewer ends and hides.
  c.mainWindow().action("Miniaturbilderausblenden1")->trigger();
  EXPECT_FALSE(c.thumbnailsShown());
  EXPECT_TRUE(c.mainWindow().action("Miniaturbildereinblenden1")->isVisible());
  ASSERT_TRUE(within(std::chrono::milliseconds(5000), [&] { return !first->connectionUp() && !first->isVisibleTo(&c.mainWindow()); }));
  c.monitor().stop();
}

TEST_F(ConsoleTest, RoomPlanEditingAddRenameDeleteSaveAndCancel) {
  writeStore("geheim");
  std::string ini = "; eigene Zeile\n[Raum]\n";
  for (int seat = 1; seat <= 10; ++seat) ini += "rechnername" + std::to_string(seat) + "=pc" + std::to_string(seat) + "\n";
  ini += "[Language]\nHead=Mein Titel\n";
  writeIni(ini);
  auto& c = started();
  auto& w = c.mainWindow();
  c.mainWindow().seatButton(2)->setState(SeatState::Dark);

  w.action("Raumplan_bearbeiten")->trigger();
  EXPECT_TRUE(c.editing());
  EXPECT_FALSE(c.monitoring());
  EXPECT_TRUE(w.grid()->isVisibleTo(&w));
  EXPECT_TRUE(w.seatButton(1)->isEnabled());  // every seat in the plan can be dragged
  EXPECT_FALSE(w.seatButton(11)->isEnabled());

  // A seat click drags instead of acting.
  QTest::mousePress(w.seatButton(1), Qt::LeftButton, {}, QPoint(10, 10));
  QTest::mouseMove(w.seatButton(1), QPoint(27, 1));
  QTest::mouseRelease(w.seatButton(1), Qt::LeftButton, {}, QPoint(27, 1));
  EXPECT_EQ(w.seatPanel(1)->pos(), QPoint(12 + 16, 456 - 8));
  EXPECT_TRUE(launcher_.opened.empty());

  c.addSeat();
  EXPECT_TRUE(w.seatPanel(11)->isVisibleTo(&w));
  EXPECT_EQ(w.seatPanel(11)->pos(), QPoint(320, 10));
  EXPECT_TRUE(c.seatNameDialog().isVisible());
  EXPECT_EQ(c.seatNameDialog().nameField()->text(), "");
  c.seatNameDialog().nameField()->setText("neu-pc");
  c.seatNameDialog().findChild<QPushButton*>("Button1")->click();
  EXPECT_EQ(w.seatButton(11)->computerName(), "neu-pc");

  // The dialog opened for seat 5, then the menu on seat 9: "OK" renames seat 9.
  emit w.seatButton(5)->customContextMenuRequested(QPoint(5, 5));
  w.action("Rechnernamenaendern1")->trigger();
  EXPECT_EQ(c.seatNameDialog().nameField()->text(), "pc5");
  emit w.seatButton(9)->customContextMenuRequested(QPoint(5, 5));
  EXPECT_FALSE(w.action("Rechneraktivieren1")->isEnabled());
  EXPECT_TRUE(w.action("Rechnernamenaendern1")->isEnabled());
  c.seatNameDialog().nameField()->setText("umbenannt");
  c.seatNameDialog().findChild<QPushButton*>("Button1")->click();
  EXPECT_EQ(w.seatButton(9)->computerName(), "umbenannt");
  EXPECT_EQ(w.seatButton(5)->computerName(), "pc5");
  emit w.seatButton(3)->customContextMenuRequested(QPoint(5, 5));
  w.action("Rechnerdeaktivieren1")->trigger();
  EXPECT_FALSE(w.seatPanel(3)->isVisibleTo(&w));

  // Cancel: only [Raum] comes back; the title and the states stay.
  w.setWindowTitle("geändert");
  c.cancelEditing();
  EXPECT_FALSE(c.editing());
  EXPECT_EQ(w.windowTitle(), "geändert");
  EXPECT_TRUE(w.seatPanel(3)->isVisibleTo(&w));
  EXPECT_EQ(w.seatButton(9)->computerName(), "pc9");
  EXPECT_FALSE(w.seatPanel(11)->isVisibleTo(&w));
  EXPECT_EQ(w.seatPanel(1)->pos(), QPoint(12, 456));
  EXPECT_EQ(w.seatButton(2)->stateName(), "monitordunkel.bmp");

  // Save: all 48 seats are written, the rest of the file stays.
  w.action("Raumplan_bearbeiten")->trigger();
  c.deleteSeat(10);
  c.addSeat();
  c.seatNameDialog().findChild<QPushButton*>("Button1")->click();  // left without a name
  c.savePlan();
  EXPECT_FALSE(c.editing());
  EXPECT_TRUE(c.monitoring());
  EXPECT_FALSE(w.seatPanel(10)->isVisibleTo(&w));
  EXPECT_EQ(w.seatButton(2)->stateName(), "monitordunkel.bmp");
  auto saved = std::get<ProfileFile>(ProfileFile::load(home_ / "saalwacht.ini"));
  EXPECT_EQ(saved.keys("Raum").size(), 96u);
  EXPECT_EQ(saved.value("Raum", "rechnername10"), "");
  EXPECT_EQ(saved.value("Raum", "position_rechner1"), "12,456");
  EXPECT_EQ(saved.value("Language", "Head"), "Mein Titel");
  EXPECT_EQ(platform::readFile(home_ / "saalwacht.ini")->rfind("; eigene Zeile\n", 0), 0u);
  EXPECT_EQ(storedPassword(), "geheim");
}

TEST_F(ConsoleTest, SettingsActAtOnceAndOkWritesThem) {
  writeStore("geheim");
  writeIni("[Einstellungen]\nRaumbezeichnung=Raum 1\n");
  auto& c = started();
  c.showMainWindow();
  auto& s = c.settingsDialog();
  auto& w = c.mainWindow();
  w.action("Einstellungen1")->trigger();
  EXPECT_EQ(s.roomNameField()->text(), "Raum 1");

  s.radio("Miniaturbilder_einausblenden_Button_ausblenden")->click();
  EXPECT_FALSE(w.action("Miniaturbildereinblenden1")->isVisible());
  EXPECT_FALSE(w.action("Miniaturbilderausblenden1")->isVisible());
  EXPECT_TRUE(w.submenu("Ansicht1")->menuAction()->isVisible());  // only after "OK"

  // A typed name without "OK" changes nothing; the next showing refills it.
  s.roomNameField()->setText("Entwurf");
  s.hide();
  EXPECT_EQ(w.roomPlan()->title(), "Raum 1");
  s.show();
  EXPECT_EQ(s.roomNameField()->text(), "Raum 1");

  s.roomNameField()->setText("Raum 234");
  s.zoomControl()->setValue(21);
  s.radio("Bildgroesse_gross_Button")->setChecked(true);
  s.findChild<QPushButton*>("Button1")->click();
  EXPECT_FALSE(s.isVisible());
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0].text,
            "Bitte blenden Sie die Miniaturbilder aus und wieder erneut ein, damit die Änderung aktiviert wird!");
  EXPECT_EQ(w.roomPlan()->title(), "Raum 234");
  EXPECT_FALSE(w.submenu("Ansicht1")->menuAction()->isVisible());
  auto saved = std::get<ProfileFile>(ProfileFile::load(home_ / "saalwacht.ini"));
  EXPECT_EQ(saved.value("Einstellungen", "Raumbezeichnung"), "Raum 234");
  EXPECT_EQ(saved.value("Einstellungen", "Groesse_der_Miniaturbilder"), "21");
  EXPECT_EQ(saved.value("Einstellungen", "Bildgroesse_fuer_Schuelermonitor_holen"), "3");
  EXPECT_EQ(saved.value("Einstellungen", "WindowSize"), "Normal");
  EXPECT_EQ(saved.value("Einstellungen", "Button_Miniaturbilder_einausblenden"), "ausblenden");

  // The message comes once; thumbnails hidden, no message at all.
  s.show();
  s.findChild<QPushButton*>("Button1")->click();
  EXPECT_EQ(messages_.shown.size(), 1u);
  s.show();
  s.radio("Miniaturbilder_ausblenden")->setChecked(true);
  s.zoomControl()->setValue(8);
  s.findChild<QPushButton*>("Button1")->click();
  EXPECT_EQ(messages_.shown.size(), 1u);

  // A background picture: chosen, it hides the grid; removed while editing, the grid shows.
  messages_.openFile = SAALWACHT_SOURCE_DIR "/service/fallback_picture.jpg";
  w.action("Raumplan_bearbeiten")->trigger();
  s.findChild<QAbstractButton*>("Raumplanhintergrundbilddatei_Dialog_aufrufen_Button")->click();
  EXPECT_EQ(s.pictureField()->text(), messages_.openFile);
  EXPECT_FALSE(w.background()->picture().isNull());
  EXPECT_FALSE(w.grid()->isVisibleTo(&w));
  s.findChild<QAbstractButton*>("Hintergrundbild_loeschen_Button")->click();
  EXPECT_TRUE(w.background()->picture().isNull());
  EXPECT_TRUE(w.grid()->isVisibleTo(&w));
}

TEST_F(ConsoleTest, InternetButtonsFollowTheReleaseProcess) {
  writeStore("geheim");
  writeIni("[Internetfreigabe]\nInternetfreigabebefehl=/opt/netz/freigabe\nInternetsperrbefehl=/opt/netz/freigabe\n");
  auto& c = started();
  auto& w = c.mainWindow();
  auto* release = w.findChild<QAbstractButton*>("Internetfreigebenbutton");
  auto* lock = w.findChild<QAbstractButton*>("Internetsperrenbutton");
  EXPECT_TRUE(release->isVisibleTo(&w));
  EXPECT_FALSE(lock->isVisibleTo(&w));

  release->click();
  ASSERT_EQ(launcher_.opened.size(), 1u);
  EXPECT_EQ(launcher_.opened[0], std::pair(std::string("/opt/netz/freigabe"), std::string("0")));
  EXPECT_TRUE(lock->isVisibleTo(&w));
  processes_.running["freigabe"] = 1;
  c.checkInternetButtons();
  EXPECT_TRUE(lock->isVisibleTo(&w));

  // Without lock parameters, locking ends the release process.
  lock->click();
  EXPECT_EQ(processes_.terminated, std::vector<std::string>{"freigabe"});
  EXPECT_TRUE(release->isVisibleTo(&w));
  c.checkInternetButtons();
  EXPECT_TRUE(release->isVisibleTo(&w));

  // Hidden by the settings, both stay hidden.
  c.settingsDialog().radio("Internetfreigabebutton_ausblenden")->click();
  EXPECT_FALSE(release->isVisibleTo(&w));
  EXPECT_FALSE(lock->isVisibleTo(&w));
  c.settingsDialog().radio("Internetfreigabebutton_anzeigen")->click();
  EXPECT_TRUE(release->isVisibleTo(&w));
}

// ---------------------------------------------------------------- waits and the world around them

TEST_F(ConsoleTest, TeacherScreenToOneSeatStartsOneServerWhateverIsClickedDuringItsStart) {
  writeStore("geheim");
  writeIni("[Raum]\nrechnername1=pc1\nrechnername2=pc2\n" + vncCommands());
  echo_.everyone = true;
  serverAppearsAfter(std::chrono::milliseconds(300));
  auto& c = started();
  ASSERT_TRUE(seatsEnabled({1, 2}));
  choose(3);
  // A second seat asked for while the server starts waits for the same server.
  QTimer::singleShot(50, &timers_, [&] { c.mainWindow().seatButton(2)->click(); });
  c.mainWindow().seatButton(1)->click();
  ASSERT_TRUE(within(std::chrono::seconds(5), [&] { return handOvers("pc1") == 1 && handOvers("pc2") == 1; }));
  EXPECT_EQ(serverStarts(), 1);
  // The hand-overs end by themselves; one server stays.
  EXPECT_TRUE(within(std::chrono::seconds(2), [&] { return processes_.running["tvncserver"] == 1; }));
  EXPECT_TRUE(c.serverMarked());
  EXPECT_EQ(stateOf(1), SeatState::Teacher);
  EXPECT_EQ(stateOf(2), SeatState::Teacher);
}

TEST_F(ConsoleTest, AStopDuringTheServerStartLeavesNoServerAndNoMark) {
  writeStore("geheim");
  writeIni("[Raum]\nrechnername1=pc1\nrechnername2=pc2\n" + vncCommands());
  echo_.everyone = true;
  const struct {
    const char* what;
    std::function<void()> interfere;
  } cases[] = {
      {"the same seat again", [this] { console_->mainWindow().seatButton(1)->click(); }},
      {"Alle zurücksetzen", [this] { barButton("alle_zuruecksetzen_button")->click(); }},
      {"Alle herunterfahren",
       [this] {
         console_->shutdownAllAsked();
         console_->shutdownAllDialog().findChild<QPushButton*>("Button1")->click();
       }},
  };
  // Late in the start (the server is up, its pause runs) and early (it is not up yet).
  for (const int at : {400, 100}) {
    for (const auto& interference : cases) {
      SCOPED_TRACE(std::string(interference.what) + " at " + std::to_string(at) + " ms");
      processes_.running.clear();
      launcher_.opened.clear();
      serverAppearsAfter(std::chrono::milliseconds(200));
      auto& c = started();
      ASSERT_TRUE(seatsEnabled({1, 2}));
      choose(3);
      QTimer::singleShot(at, &timers_, [&] { interference.interfere(); });
      c.mainWindow().seatButton(1)->click();
      // The server that was asked for and then stopped does not outlive the stop.
      EXPECT_TRUE(within(std::chrono::seconds(5), [&] {
        return processes_.running["tvncserver"] == 0 && serverStarts() == 1 && !c.serverMarked();
      }));
      within(std::chrono::milliseconds(800), [] { return false; });
      EXPECT_EQ(processes_.running["tvncserver"], 0);
      EXPECT_FALSE(c.serverMarked());
      EXPECT_EQ(handOvers("pc1"), 0);
      EXPECT_EQ(stateOf(1), SeatState::Normal);
    }
  }
}

TEST_F(ConsoleTest, AFailedServerStartPutsTheSeatBackAndSendsNothing) {
  writeStore("geheim");
  writeIni("[Raum]\nrechnername1=pc1\n" + vncCommands());
  echo_.everyone = true;
  vncWaitBound_ = std::chrono::milliseconds(300);
  auto& c = started();
  ASSERT_TRUE(seatsEnabled({1}));
  choose(3);
  c.mainWindow().seatButton(1)->click();
  ASSERT_TRUE(within(std::chrono::seconds(3), [&] { return messages_.shown.size() == 1; }));
  EXPECT_TRUE(messages_.shown[0].text.contains(QString::fromLatin1(kServer))) << messages_.shown[0].text.toStdString();
  within(std::chrono::milliseconds(200), [] { return false; });
  EXPECT_EQ(stateOf(1), SeatState::Normal);
  EXPECT_EQ(handOvers("pc1"), 0);
  EXPECT_FALSE(c.serverMarked());
  EXPECT_TRUE(barButton("lehrer_an_alle_button")->isEnabled());
  EXPECT_TRUE(barButton("alle_dunkelschalten_button")->isEnabled());
}

TEST_F(ConsoleTest, TheCloseSequenceEndsLockedResetAndWithoutServerWhateverIsClicked) {
  testing::FakeService pc1("127.0.6.1"), pc2("127.0.6.2");
  ASSERT_TRUE(pc1.listening() && pc2.listening());
  writeStore("geheim");
  writeIni("[Raum]\nrechnername1=127.0.6.1\nrechnername2=127.0.6.2\n" + vncCommands() +
           "[Internetfreigabe]\nInternetfreigabebefehl=/opt/netz/freigabe\nInternetsperrbefehl=/opt/netz/freigabe\n");
  echo_.everyone = true;
  serverAppearsAfter(std::chrono::milliseconds(100));
  auto previous = launcher_.whenOpened;
  launcher_.whenOpened = [&](const std::string& file, const std::string& parameters) {
    previous(file, parameters);
    if (file == "/opt/netz/freigabe") ++processes_.running["freigabe"];
  };
  auto& c = started();
  c.showMainWindow();
  ASSERT_TRUE(seatsEnabled({1, 2}));
  barButton("Internetfreigebenbutton")->click();
  ASSERT_EQ(processes_.running["freigabe"], 1);

  const std::size_t launchesBefore = launcher_.opened.size();
  QTimer::singleShot(100, &timers_, [&] {
    barButton("Internetfreigebenbutton")->click();
    choose(3);
    c.mainWindow().seatButton(1)->click();
    barButton("alle_dunkelschalten_button")->click();
    barButton("lehrer_an_alle_button")->click();
  });
  c.requestClose();
  ASSERT_TRUE(within(std::chrono::seconds(20), [&] { return closed(); }));
  within(std::chrono::milliseconds(300), [] { return false; });
  // Nothing was started after the close began, and the release process is gone.
  EXPECT_EQ(launcher_.opened.size(), launchesBefore);
  EXPECT_EQ(processes_.running["freigabe"], 0);
  EXPECT_EQ(processes_.running["tvncserver"], 0);
  for (const auto* pc : {&pc1, &pc2}) {
    ASSERT_FALSE(pc->commands().empty());
    EXPECT_EQ(pc->commands().back(), "00");
  }
  EXPECT_EQ(stateOf(1), SeatState::Normal);
  EXPECT_EQ(stateOf(2), SeatState::Normal);
}

TEST_F(ConsoleTest, ANegativeHandOverPauseIsHeldAtZero) {
  writeStore("geheim");
  writeIni("[Raum]\nrechnername1=pc1\nrechnername2=pc2\nrechnername3=pc3\n" + vncCommands(-5));
  echo_.everyone = true;
  serverAppearsAfter(std::chrono::milliseconds(50));
  started();
  ASSERT_TRUE(seatsEnabled({1, 2, 3}));
  barButton("lehrer_an_alle_button")->click();
  EXPECT_TRUE(within(std::chrono::seconds(5), [&] {
    return stateOf(1) == SeatState::Teacher && stateOf(2) == SeatState::Teacher && stateOf(3) == SeatState::Teacher;
  }));
  EXPECT_TRUE(barButton("alle_zuruecksetzen_button")->isEnabled());
}

TEST_F(ConsoleTest, RoomPlanEditingWaitsForAWholeClassLoop) {
  writeStore("geheim");
  writeIni("[Raum]\nrechnername1=pc1\nrechnername2=pc2\nrechnername3=aus\n" + vncCommands());
  echo_.answering = {"pc1", "pc2"};
  serverAppearsAfter(std::chrono::milliseconds(300));
  auto& c = started();
  ASSERT_TRUE(seatsEnabled({1, 2}));
  ASSERT_FALSE(c.mainWindow().seatButton(3)->isEnabled());
  QTimer::singleShot(100, &timers_, [&] { c.mainWindow().action("Raumplan_bearbeiten")->trigger(); });
  barButton("lehrer_an_alle_button")->click();
  ASSERT_TRUE(within(std::chrono::seconds(5), [&] { return barButton("alle_zuruecksetzen_button")->isEnabled(); }));
  // The loop went over the seats that answered, and only then did editing begin.
  EXPECT_EQ(handOvers("pc1"), 1);
  EXPECT_EQ(handOvers("pc2"), 1);
  EXPECT_EQ(handOvers("aus"), 0);
  EXPECT_EQ(stateOf(3), SeatState::Normal);
  EXPECT_TRUE(within(std::chrono::seconds(2), [&] { return c.editing(); }));
}

TEST_F(ConsoleTest, AfterEditingUnderTheLockTheCursorSaysLocked) {
  writeStore("geheim");
  writeIni("[Raum]\nrechnername1=pc1\n");
  auto& c = started();
  barButton("alle_dunkelschalten_button")->click();
  ASSERT_TRUE(c.actionLocked());
  for (const bool save : {true, false}) {
    SCOPED_TRACE(save);
    c.mainWindow().action("Raumplan_bearbeiten")->trigger();
    EXPECT_EQ(c.mainWindow().seatButton(1)->cursor().shape(), Qt::PointingHandCursor);
    if (save) c.savePlan();
    else c.cancelEditing();
    EXPECT_EQ(c.mainWindow().seatButton(1)->cursor().shape(), Qt::ForbiddenCursor);
  }
}

TEST_F(ConsoleTest, SeatNameDialogASecondEnterPressesOk) {
  writeStore("geheim");
  writeIni("[Raum]\nrechnername1=pc1\n");
  auto& c = started();
  c.mainWindow().action("Raumplan_bearbeiten")->trigger();
  c.addSeat();
  auto& dialog = c.seatNameDialog();
  ASSERT_TRUE(dialog.isVisible());
  QTest::keyClicks(dialog.nameField(), "neu");
  QTest::keyClick(dialog.nameField(), Qt::Key_Return);
  EXPECT_TRUE(dialog.isVisible());
  auto* ok = dialog.findChild<QPushButton*>("Button1");
  EXPECT_TRUE(ok->hasFocus() || dialog.focusWidget() == ok);
  QTest::keyClick(ok, Qt::Key_Return);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(c.mainWindow().seatButton(2)->computerName(), "neu");
}

TEST_F(ConsoleTest, ARightClickWhileEditingLeavesNothingToDrag) {
  writeStore("geheim");
  writeIni("[Raum]\nrechnername1=pc1\n");
  auto& c = started();
  auto& w = c.mainWindow();
  w.action("Raumplan_bearbeiten")->trigger();
  // The edit menu takes the release of a right click.
  QTest::mousePress(w.seatButton(1), Qt::RightButton, {}, QPoint(10, 10));
  w.editMenu()->hide();
  c.savePlan();
  const QPoint before = w.seatPanel(1)->pos();
  QTest::mousePress(w.seatButton(1), Qt::LeftButton, {}, QPoint(10, 10));
  QTest::mouseMove(w.seatButton(1), QPoint(50, 40));
  QTest::mouseRelease(w.seatButton(1), Qt::LeftButton, {}, QPoint(50, 40));
  EXPECT_EQ(w.seatPanel(1)->pos(), before);
}

TEST_F(ConsoleTest, FullscreenSuggestionNamesTheEnlargedPicture) {
  writeStore("geheim");
  auto& c = started();
  c.showMainWindow();
  auto& s = c.settingsDialog();
  s.show();
  s.radio("Fenstergroesse_Vollbild")->click();
  ASSERT_TRUE(within(std::chrono::seconds(3), [&] { return c.mainWindow().background()->width() > 965; }));
  QApplication::processEvents();
  const QSize picture = c.mainWindow().background()->size();
  EXPECT_EQ(s.sizeSuggestion()->text(),
            QStringLiteral("(Bildgröße möglichst %1x%2)").arg(picture.width()).arg(picture.height()));
  s.radio("Fenstergroesse_normal")->click();
  ASSERT_TRUE(within(std::chrono::seconds(3), [&] { return c.mainWindow().background()->width() == 965; }));
  QApplication::processEvents();
  EXPECT_EQ(s.sizeSuggestion()->text(), "(Bildgröße möglichst 965x590)");
}

TEST_F(ConsoleTest, AStoreWithoutTerminatorsTakesAPasswordAndTheRoomPlan) {
  // An admin's own picture: nothing in it reads as a field end.
  const auto bytes = makeTrueColourBmp(200, 160, 24, false, [](int, int) { return 0xFFFFFFu; });
  std::ofstream(home_ / "saalwacht.bmp", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  writeIni("[Raum]\nrechnername1=pc1\n");
  bool asked = false;
  whenModal([&](QWidget* dialog) {
    asked = true;
    child<QLineEdit>(*dialog, "RemotePasswort_neu")->setText("Lehr");
    child<QLineEdit>(*dialog, "RemotePasswort_wiederholung")->setText("Lehr");
    child<QPushButton>(*dialog, "Button1")->click();
  });
  auto& c = started();
  EXPECT_TRUE(asked);
  EXPECT_EQ(c.remotePassword(), "Lehr");
  EXPECT_EQ(storedPassword(), "Lehr");
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0].text, "Remote-Passwort wurde gespeichert!");
  c.mainWindow().action("Raumplan_bearbeiten")->trigger();
  c.savePlan();
  EXPECT_TRUE(c.monitoring());
  EXPECT_EQ(messages_.shown.size(), 1u);
}

TEST_F(ConsoleTest, AMissingPictureStoreEndsTheStartOfAnExistingHome) {
  writeIni("[Raum]\nrechnername1=pc1\n");
  // As main() does: the folder is prepared, then the console starts.
  ASSERT_EQ(prepareConsoleHome(home_, program_), std::nullopt);
  EXPECT_FALSE(fs::exists(home_ / "saalwacht.bmp"));
  const auto error = make().start();
  ASSERT_TRUE(error);
  EXPECT_TRUE(error->contains("saalwacht.bmp")) << error->toStdString();
}

TEST_F(ConsoleTest, ACancelledEditWithABrokenRoomPlanGoesBackToMonitoring) {
  writeStore("geheim");
  writeIni("[Raum]\nrechnername1=pc1\nrechnername2=pc2\n");
  auto& c = started();
  auto& w = c.mainWindow();
  w.action("Raumplan_bearbeiten")->trigger();
  ASSERT_TRUE(w.seatButton(1)->isEnabled());
  writeIni("[Raum]\nrechnername1=pc1\nrechnername2=pc2\nposition_rechner2=links,oben\n");
  c.cancelEditing();
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_TRUE(messages_.shown[0].text.contains("position_rechner2")) << messages_.shown[0].text.toStdString();
  EXPECT_FALSE(c.editing());
  EXPECT_TRUE(c.monitoring());
  EXPECT_FALSE(w.seatButton(1)->isEnabled());
  EXPECT_FALSE(w.seatButton(2)->isEnabled());
  EXPECT_EQ(w.seatButton(2)->computerName(), "pc2");
}

TEST_F(ConsoleTest, ASeatNameWithALineBreakIsNotSaved) {
  writeStore("geheim");
  writeIni("[Raum]\nrechnername1=pc1\n");
  auto& c = started();
  auto& w = c.mainWindow();
  w.action("Raumplan_bearbeiten")->trigger();
  emit w.seatButton(1)->customContextMenuRequested(QPoint(5, 5));
  w.editMenu()->hide();
  w.action("Rechnernamenaendern1")->trigger();
  c.seatNameDialog().nameField()->setText("pc\neins");
  c.seatNameDialog().findChild<QPushButton*>("Button1")->click();
  c.savePlan();
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_TRUE(messages_.shown[0].text.contains("Zeilenumbruch")) << messages_.shown[0].text.toStdString();
  // Nothing is lost: the edit goes on and the file keeps the old name.
  EXPECT_TRUE(c.editing());
  auto saved = std::get<ProfileFile>(ProfileFile::load(home_ / "saalwacht.ini"));
  EXPECT_EQ(saved.value("Raum", "rechnername1"), "pc1");
}

TEST_F(ConsoleTest, RefusedWritesAreReportedInGerman) {
  writeStore("alt1");
  writeIni("[Raum]\nrechnername1=pc1\n");
  auto& c = started();
  // A folder where the temporary file must go refuses the write, even for root.
  fs::create_directory(home_ / "saalwacht.bmp.tmp");
  auto& d = c.securityDialog();
  d.show();
  child<QLineEdit>(d, "RemotePasswort_alt")->setText("alt1");
  child<QLineEdit>(d, "RemotePasswort_neu")->setText("neues1");
  child<QLineEdit>(d, "RemotePasswort_wiederholung")->setText("neues1");
  child<QPushButton>(d, "Button1")->click();
  c.mainWindow().action("Raumplan_bearbeiten")->trigger();
  c.savePlan();
  ASSERT_EQ(messages_.shown.size(), 2u);
  for (const auto& shown : messages_.shown) {
    EXPECT_FALSE(shown.text.contains("cannot")) << shown.text.toStdString();
    EXPECT_TRUE(shown.text.contains("kann nicht")) << shown.text.toStdString();
    EXPECT_TRUE(shown.text.contains("saalwacht.bmp")) << shown.text.toStdString();
  }
  EXPECT_EQ(c.remotePassword(), "alt1");
}

TEST_F(ConsoleTest, ScreenshotCaptionFileNameAndPrintedPage) {
  const QByteArray jpeg = QByteArray::fromStdString(*platform::readFile(SAALWACHT_SOURCE_DIR "/service/fallback_picture.jpg"));
  testing::FakeService pc("127.0.6.11", jpeg);
  ASSERT_TRUE(pc.listening());
  writeStore("geheim");
  writeIni("[Raum]\nrechnername1=127.0.6.11\n");
  echo_.everyone = true;
  auto& c = started();
  ASSERT_TRUE(seatsEnabled({1}));
  auto& window = c.screenshotWindow();
  const QLocale before;
  for (const auto& locale : {QLocale(QLocale::German, QLocale::Germany), QLocale(QLocale::English, QLocale::UnitedStates)}) {
    SCOPED_TRACE(locale.name().toStdString());
    QLocale::setDefault(locale);
    c.seatMenuAction(1, 7);
    ASSERT_TRUE(within(std::chrono::seconds(5), [&] { return !c.screenshotBytes().isEmpty(); }));
    const std::string caption = window.windowTitle().toStdString();
    if (locale.language() == QLocale::German) {
      EXPECT_TRUE(std::regex_match(caption, std::regex(R"(Screenshot 127\.0\.6\.11 - \d\d\.\d\d\.\d{4} - \d{1,2}\.\d\d)")))
          << caption;
    }
    messages_.saveAs.clear();
    window.findChild<QPushButton*>("Save_Button")->click();
    EXPECT_FALSE(messages_.proposedFile.contains('/')) << messages_.proposedFile.toStdString();
    EXPECT_TRUE(messages_.proposedFile.endsWith(".jpg"));
  }
  QLocale::setDefault(before);

  // The page is portrait whatever the print dialog was left at.
  messages_.printTo = QString::fromStdString((dir_.path() / "druck.pdf").string());
  messages_.printLandscape = true;
  window.findChild<QPushButton*>("Druck_Button")->click();
  const auto pdf = platform::readFile(dir_.path() / "druck.pdf").value_or("");
  std::smatch box;
  ASSERT_TRUE(std::regex_search(pdf, box, std::regex(R"(/MediaBox \[0 0 ([0-9.]+) ([0-9.]+)\])"))) << pdf.substr(0, 400);
  EXPECT_LT(std::stod(box[1]), std::stod(box[2]));
  EXPECT_FALSE(window.isVisible());
}

TEST_F(ConsoleTest, ASizeThatIsNoNumberEndsTheScreenshotWithAMessage) {
  testing::FakeService pc("127.0.6.22");
  pc.sizeAnswer = "zwölf";
  ASSERT_TRUE(pc.listening());
  writeStore("geheim");
  writeIni("[Raum]\nrechnername1=127.0.6.22\n");
  echo_.everyone = true;
  auto& c = started();
  ASSERT_TRUE(seatsEnabled({1}));
  c.seatMenuAction(1, 7);
  ASSERT_TRUE(within(std::chrono::seconds(5), [&] { return !messages_.shown.empty(); }));
  EXPECT_EQ(messages_.shown.back().text, "Der Rechner 127.0.6.22 hat kein Bild geschickt. Ein Screenshot ist nicht möglich.");
  EXPECT_FALSE(c.screenshotWindow().isVisible()) << "the window would wait for ever";
  // The PC was told the exchange is over.
  EXPECT_TRUE(within(std::chrono::seconds(2), [&] { return !pc.received.empty(); }));
  EXPECT_TRUE(pc.received.back().endsWith("42"));
}

TEST_F(ConsoleTest, AServiceThatDoesNotKnowTheGreetingGetsThePlainCommand) {
  testing::FakeService pc("127.0.6.23");
  pc.plainOnly = true;
  ASSERT_TRUE(pc.listening());
  writeStore("geheim");
  writeIni("[Raum]\nrechnername1=127.0.6.23\n");
  echo_.everyone = true;
  auto& c = started();
  ASSERT_TRUE(seatsEnabled({1}));
  c.seatMenuAction(1, 4);
  ASSERT_TRUE(within(std::chrono::seconds(5), [&] { return !pc.received.empty(); }));
  EXPECT_EQ(pc.greetings, 1);
  EXPECT_EQ(pc.commands(), std::vector<QByteArray>{"10"});
}

TEST_F(ConsoleTest, ACancelledScreenshotThatWaitsIsNeverStarted) {
  testing::FakeService pc("127.0.6.21");
  pc.silentScreenshots = true;
  ASSERT_TRUE(pc.listening());
  commandTimeouts_ = {std::chrono::milliseconds(2000), std::chrono::milliseconds(1000)};
  writeStore("geheim");
  writeIni("[Raum]\nrechnername1=127.0.6.21\n");
  echo_.everyone = true;
  auto& c = started();
  ASSERT_TRUE(seatsEnabled({1}));
  c.seatMenuAction(1, 7);
  ASSERT_TRUE(within(std::chrono::seconds(2), [&] { return pc.screenshotRequests == 1; }));
  // Asked again while the first still waits, then given up.
  c.seatMenuAction(1, 7);
  c.screenshotWindow().findChild<QPushButton*>("Cancel_Button")->click();
  EXPECT_TRUE(within(std::chrono::seconds(5), [&] { return c.commandClient().outstanding() == 0; }));
  within(std::chrono::milliseconds(300), [] { return false; });
  EXPECT_EQ(pc.screenshotRequests, 1);
  EXPECT_FALSE(c.screenshotWindow().isVisible());
}

TEST_F(ConsoleTest, TheResetAtCloseDoesNotWaitBehindAScreenshot) {
  testing::FakeService pc("127.0.6.31");
  pc.silentScreenshots = true;
  ASSERT_TRUE(pc.listening());
  writeStore("geheim");
  writeIni("[Raum]\nrechnername1=127.0.6.31\n");
  echo_.everyone = true;
  auto& c = started();
  c.showMainWindow();
  ASSERT_TRUE(seatsEnabled({1}));
  c.seatMenuAction(1, 7);
  ASSERT_TRUE(within(std::chrono::seconds(2), [&] { return pc.screenshotRequests == 1; }));
  c.requestClose();
  ASSERT_TRUE(within(std::chrono::seconds(20), [&] { return closed(); }));
  const auto commands = pc.commands();
  EXPECT_NE(std::find(commands.begin(), commands.end(), QByteArray("00")), commands.end());
}

TEST_F(ConsoleTest, TheMenuButtonOpensTheMainMenuOnAnyButton) {
  writeStore("geheim");
  auto& c = started();
  c.showMainWindow();
  auto* button = child<QToolButton>(c.mainWindow(), "menuebutton");
  for (const auto mouse : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
    SCOPED_TRACE(mouse);
    c.mainWindow().mainMenu()->hide();
    QTest::mousePress(button, mouse);
    EXPECT_TRUE(c.mainWindow().mainMenu()->isVisible());
    QTest::mouseRelease(button, mouse);
  }
  c.mainWindow().mainMenu()->hide();
}

TEST(SeatPictures, StatesDifferAndGreyedHalvesStayApart) {
  std::vector<QImage> enabled, greyed;
  for (int i = 0; i < kSeatStateCount; ++i) {
    const QImage strip = seatPictureStrip(static_cast<SeatState>(i));
    ASSERT_EQ(strip.size(), QSize(96, 48));
    enabled.push_back(strip.copy(0, 0, 48, 48));
    greyed.push_back(strip.copy(48, 0, 48, 48));
    EXPECT_EQ(seatPicture(static_cast<SeatState>(i), true), enabled.back());
    EXPECT_EQ(seatPicture(static_cast<SeatState>(i), false), greyed.back());
    // The greyed look has no colour.
    const QRgb centre = greyed.back().pixel(24, 20);
    EXPECT_EQ(qRed(centre), qGreen(centre));
    EXPECT_EQ(qGreen(centre), qBlue(centre));
  }
  for (int a = 0; a < kSeatStateCount; ++a) {
    for (int b = a + 1; b < kSeatStateCount; ++b) {
      EXPECT_NE(enabled[a], enabled[b]) << a << " " << b;
      EXPECT_NE(greyed[a], greyed[b]) << a << " " << b;
    }
  }
}

}  // namespace
}  // namespace saalwacht::console

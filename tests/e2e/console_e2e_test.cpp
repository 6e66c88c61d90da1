// End to end: the real console (offscreen) drives real kursdienst processes on
// loopback addresses, whose helpers show on a private Xvfb. Which PCs answer
// the echo test is chosen by the test; VNC programs are stand-ins whose
// command lines the tests read.

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPrinter>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <ostream>
#include <mutex>
#include <set>

#include "console/classroom/console_key.h"
#include "console/console.h"
#include "crypto/signing.h"
#include "console/windows/jpeg_image.h"
#include "console/message_display.h"
#include "platform/echo.h"
#include "platform/launcher.h"
#include "platform/processes.h"
#include "platform/system.h"
#include "console_fakes.h"
#include "student_pc.h"
#include "temp_dir.h"
#include "xvfb.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace saalwacht::console {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::StudentPc;

using testing::FakeEcho;
using testing::RecordingMessages;
using testing::within;

class ConsoleEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    echo_.delay = 5ms;  // checks take a moment, as on a network
    ASSERT_TRUE(display_.start(640, 480)) << display_.message();
    fs::create_directories(home_);
    fs::create_directories(vnc_);
    for (const char* name : {"tvncserver", "tvncviewer"}) fs::copy_file(testing::binDir() / "vnc_standin", vnc_ / name);
    ::setenv("VNC_STANDIN_LOG", (vnc_ / "log").c_str(), 1);
  }
  void TearDown() override {
    console_.reset();
    // Stand-ins the console left running (a server that was not stopped).
    for (int i = 0; i < 5 && processes_->count("tvncserver") > 0; ++i) processes_->terminateFirst("tvncserver");
    for (int i = 0; i < 5 && processes_->count("tvncviewer") > 0; ++i) processes_->terminateFirst("tvncviewer");
    ::unsetenv("VNC_STANDIN_LOG");
  }

  // Seats in order; an address starting with "127." gets a real student PC.
  void startConsole(const std::vector<std::string>& seats, const std::string& serverParameters = "-forever -localhost",
                    std::chrono::milliseconds vncWaitBound = 2000ms, const std::string& serverProgram = "") {
    std::ofstream ini(home_ / "saalwacht.ini");
    ini << "[Raum]\n";
    for (std::size_t i = 0; i < seats.size(); ++i) ini << "rechnername" << i + 1 << "=" << seats[i] << "\n";
    ini << "[Befehle]\nServer_starten_befehl=" << (serverProgram.empty() ? (vnc_ / "tvncserver").string() : serverProgram)
        << "\nServer_starten_parameter=" << serverParameters << "\n"
        << "Lehrermonitor_an_Schuelermonitor_schicken_befehl=" << (vnc_ / "tvncserver").string()
        << "\nLehrermonitor_an_Schuelermonitor_schicken_parameter=-connect\n"
        << "Schuelermonitor_holen_befehl=" << (vnc_ / "tvncviewer").string()
        << "\nSchuelermonitor_holen_parameter=-viewonly\nSchuelermonitor_holenfernsteuern_parameter=-fullscreen\n"
        << "Schuelermonitor_holen_port=5900\nSkalierung_klein=-scale 0.3\nSkalierung_mittel=-scale 0.5\n"
        << "Skalierung_gross=-scale 0.8\n";
    ini.close();
    std::string error;
    fs::copy_file(SAALWACHT_DEFAULT_PICTURE_STORE, home_ / "saalwacht.bmp");
    ASSERT_TRUE(writeRemotePassword(home_ / "saalwacht.bmp", "demo1234", error)) << error;
    for (const auto& address : seats) {
      if (address.rfind("127.", 0) != 0) continue;
      pcs_.push_back(std::make_unique<StudentPc>(address, display_.name()));
      if (const auto settings = pcSettings_.find(address); settings != pcSettings_.end()) {
        pcs_.back()->configure(settings->second);
      }
      ASSERT_TRUE(pcs_.back()->start()) << address;
      echo_.set(address, true);
    }
    console_ = std::make_unique<Console>(
        ConsolePaths{testing::binDir() / "saalwacht", testing::binDir(), home_},
        ConsoleServices{*launcher_, *processes_, echo_, messages_, CommandTimeouts{2000ms, 10000ms}, vncWaitBound});
    const auto failed = console_->start();
    ASSERT_FALSE(failed) << failed->toStdString();
    // Every answering seat is enabled once the walk has visited it.
    ASSERT_TRUE(within(10s, [&] {
      for (std::size_t i = 0; i < seats.size(); ++i) {
        if (seatButton(static_cast<int>(i) + 1)->isEnabled() != (echo_.answering.count(seats[i]) > 0)) return false;
      }
      return true;
    }));
  }

  SeatButton* seatButton(int seat) { return console_->mainWindow().seatButton(seat); }
  QString stateOf(int seat) { return seatButton(seat)->stateName(); }
  QAbstractButton* button(QWidget& window, const char* name) {
    return window.findChild<QAbstractButton*>(QString::fromLatin1(name));
  }
  void choose(int action) { console_->mainWindow().actionList()->setCurrentIndex(action); }
  bool blanked(const StudentPc& pc) { return pc.helpers("swdkl").size() == 1; }
  bool allSent() { return console_->commandClient().outstanding() == 0; }
  // Lines [from, to) of the log, or the given lines, in sorted order.
  static std::vector<std::string> sorted(std::vector<std::string> lines, std::size_t from = 0,
                                         std::size_t to = std::string::npos) {
    lines = {lines.begin() + std::min(from, lines.size()), lines.begin() + std::min(to, lines.size())};
    std::sort(lines.begin(), lines.end());
    return lines;
  }
  std::vector<std::string> vncLog() {
    std::vector<std::string> lines;
    std::ifstream in(vnc_ / "log");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  testing::XvfbDisplay display_;
  testing::TempDir dir_{"console_e2e"};
  fs::path home_ = dir_.path() / "home";
  fs::path vnc_ = dir_.path() / "vnc";
  std::vector<std::unique_ptr<StudentPc>> pcs_;
  std::unique_ptr<platform::ProgramLauncher> launcher_ = platform::createProgramLauncher();
  std::unique_ptr<platform::ProcessControl> processes_ = platform::createProcessControl();
  FakeEcho echo_;
  RecordingMessages messages_;
  std::unique_ptr<Console> console_;
  std::map<std::string, std::string> pcSettings_;  // kursdienst.conf of a PC, by address
};

TEST_F(ConsoleEndToEnd, ASecuredPcObeysOnlyThisConsoleAndARefusalIsToldOnce) {
  // This console's key, as its first start would make it, trusted by one PC;
  // another console's key trusted by the second; the third PC is open.
  const auto key = crypto::PrivateKey::generate("lehrer");
  ASSERT_FALSE(crypto::savePrivateKey(home_ / "saalwacht.key", key));
  const fs::path ours = dir_.path() / "ours";
  const fs::path theirs = dir_.path() / "theirs";
  fs::create_directories(ours);
  fs::create_directories(theirs);
  ASSERT_FALSE(crypto::savePublicKey(ours / "lehrer.pub", key.publicKey()));
  ASSERT_FALSE(crypto::savePublicKey(theirs / "andere.pub", crypto::PrivateKey::generate("andere").publicKey()));
  pcSettings_["127.0.2.41"] = "trusted-keys = " + ours.string() + "\n";
  pcSettings_["127.0.2.42"] = "trusted-keys = " + theirs.string() + "\n";
  startConsole({"127.0.2.41", "127.0.2.42", "127.0.2.43"});
  EXPECT_EQ(console_->consoleKey().fingerprint().toStdString(), crypto::fingerprint(key.publicKey().bytes));

  button(console_->mainWindow(), "alle_dunkelschalten_button")->click();
  EXPECT_TRUE(within(8s, [&] { return blanked(*pcs_[0]) && blanked(*pcs_[2]); }));
  ASSERT_TRUE(within(5s, [&] { return messages_.shown.size() == 1; }));
  EXPECT_FALSE(blanked(*pcs_[1]));
  const QString notice = messages_.shown[0].text;
  EXPECT_TRUE(notice.contains("127.0.2.42")) << notice.toStdString();
  EXPECT_FALSE(notice.contains("127.0.2.41")) << notice.toStdString();
  EXPECT_TRUE(notice.contains(console_->consoleKey().fingerprint())) << notice.toStdString();

  // More refused commands of the same PC: no second box.
  button(console_->mainWindow(), "alle_zuruecksetzen_button")->click();
  EXPECT_TRUE(within(8s, [&] { return !blanked(*pcs_[0]) && !blanked(*pcs_[2]) && allSent(); }));
  within(1500ms, [] { return false; });
  EXPECT_EQ(messages_.shown.size(), 1u);
}

TEST_F(ConsoleEndToEnd, TheFirstStartMakesAPrivateKeyThatTheDialogShowsAndExports) {
  startConsole({"127.0.2.44"});
  const fs::path file = home_ / "saalwacht.key";
  ASSERT_TRUE(fs::exists(file));
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  std::string error;
  const auto made = crypto::loadPrivateKey(file, error);
  ASSERT_TRUE(made) << error;
  auto& dialog = console_->consoleKeyDialog();
  console_->mainWindow().findChild<QAction*>("Konsolenschluessel1")->trigger();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.findChild<QLabel*>("Fingerabdruck")->text().toStdString(),
            crypto::fingerprint(made->publicKey().bytes));
  messages_.saveAs = QString::fromStdString((dir_.path() / "export.pub").string());
  button(dialog, "Exportieren_Button")->click();
  EXPECT_EQ(platform::readFile(dir_.path() / "export.pub"), crypto::formatPublicKey(made->publicKey()));
  // The PC takes the exported key: the same console commands it.
  console_.reset();
  pcs_.clear();
  pcSettings_["127.0.2.45"] = "trusted-keys = " + dir_.path().string() + "/trusted\n";
  fs::create_directories(dir_.path() / "trusted");
  fs::copy_file(dir_.path() / "export.pub", dir_.path() / "trusted" / "lehrer.pub");
  fs::remove(home_ / "saalwacht.bmp");  // the second start writes it again; the key stays
  startConsole({"127.0.2.45"});
  choose(4);
  seatButton(1)->click();
  EXPECT_TRUE(within(5s, [&] { return blanked(*pcs_[0]); }));
}

TEST_F(ConsoleEndToEnd, ADamagedKeyEndsTheStartWithAMessage) {
  fs::create_directories(home_);
  std::ofstream(home_ / "saalwacht.key") << "saalwacht-ed25519-private kaputt\n";
  fs::permissions(home_ / "saalwacht.key", fs::perms::owner_read | fs::perms::owner_write);
  std::ofstream(home_ / "saalwacht.ini") << "[Raum]\n";
  std::string error;
  fs::copy_file(SAALWACHT_DEFAULT_PICTURE_STORE, home_ / "saalwacht.bmp");
  ASSERT_TRUE(writeRemotePassword(home_ / "saalwacht.bmp", "demo1234", error)) << error;
  Console console(ConsolePaths{testing::binDir() / "saalwacht", testing::binDir(), home_},
                  ConsoleServices{*launcher_, *processes_, echo_, messages_});
  const auto failed = console.start();
  ASSERT_TRUE(failed);
  EXPECT_TRUE(failed->contains("saalwacht.key")) << failed->toStdString();
  EXPECT_TRUE(failed->startsWith("Der Schlüssel dieser Lehrerkonsole")) << failed->toStdString();
}

TEST_F(ConsoleEndToEnd, BlankToggleRefusalAndTheResetOfOneSeat) {
  startConsole({"127.0.2.1", "127.0.2.2", "offline-pc.invalid"});
  auto& pc1 = *pcs_[0];
  auto& w = console_->mainWindow();
  // The default action needs a normal seat.
  EXPECT_EQ(w.actionList()->currentIndex(), 1);

  choose(4);
  seatButton(1)->click();
  EXPECT_EQ(stateOf(1), "monitordunkel.bmp");
  EXPECT_FALSE(button(w, "lehrer_an_alle_button")->isEnabled());
  ASSERT_TRUE(within(5s, [&] { return blanked(pc1); }));
  // The service writes its flag just after the helper has started.
  EXPECT_TRUE(within(5s, [&] { return platform::readFile(pc1.flagFile()) == "1"; }));

  choose(1);
  seatButton(1)->click();
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0].text, "Zur Nutzung dieser Aktion erst ALLE ZURÜCKSETZEN wählen!");

  // Clicked again through the list: the seat is reset and the lock released.
  choose(4);
  seatButton(1)->click();
  EXPECT_EQ(stateOf(1), "monitor.bmp");
  EXPECT_TRUE(button(w, "lehrer_an_alle_button")->isEnabled());
  ASSERT_TRUE(within(5s, [&] { return !blanked(pc1) && platform::readFile(pc1.flagFile()) == "0"; }));

  // Through the seat menu the buttons stay locked until "Alle zurücksetzen".
  console_->seatMenuAction(2, 4);
  console_->seatMenuAction(2, 4);
  EXPECT_EQ(stateOf(2), "monitor.bmp");
  EXPECT_FALSE(button(w, "lehrer_an_alle_button")->isEnabled());
  // A seat whose PC does not answer takes no clicks.
  choose(4);
  seatButton(3)->click();
  EXPECT_EQ(stateOf(3), "monitor.bmp");
  EXPECT_TRUE(within(5s, [&] { return allSent(); }));
}

TEST_F(ConsoleEndToEnd, WholeClassBlankResetAndEachRequestKeepsItsCommand) {
  startConsole({"127.0.2.11", "127.0.2.12", "127.0.2.13", "offline-pc.invalid"});
  auto& w = console_->mainWindow();
  button(w, "alle_dunkelschalten_button")->click();
  for (int seat = 1; seat <= kSeatCount; ++seat) EXPECT_EQ(stateOf(seat), "monitordunkel.bmp") << seat;
  ASSERT_TRUE(within(5s, [&] { return blanked(*pcs_[0]) && blanked(*pcs_[1]) && blanked(*pcs_[2]); }));
  // Locked: seat clicks, the list and the other whole-class buttons.
  EXPECT_TRUE(console_->actionLocked());
  EXPECT_FALSE(w.actionList()->isEnabled());
  EXPECT_FALSE(button(w, "nachricht_an_alle_button")->isEnabled());
  EXPECT_TRUE(button(w, "alle_zuruecksetzen_button")->isEnabled());
  choose(4);
  seatButton(1)->click();
  EXPECT_EQ(stateOf(1), "monitordunkel.bmp");

  // "Alle zurücksetzen" and at once blanking one seat: the others still reset.
  button(w, "alle_zuruecksetzen_button")->click();
  EXPECT_FALSE(console_->actionLocked());
  seatButton(2)->click();
  ASSERT_TRUE(within(8s, [&] { return allSent(); }));
  ASSERT_TRUE(within(5s, [&] { return !blanked(*pcs_[0]) && !blanked(*pcs_[2]); }));
  EXPECT_TRUE(within(5s, [&] { return blanked(*pcs_[1]) && platform::readFile(pcs_[1]->flagFile()) == "1"; }));
  EXPECT_EQ(stateOf(2), "monitordunkel.bmp");
  EXPECT_EQ(stateOf(4), "monitor.bmp");
}

TEST_F(ConsoleEndToEnd, MessageToAllCarriesTheTextAsSent) {
  startConsole({"127.0.2.21", "127.0.2.22", "offline-pc.invalid"});
  auto& w = console_->mainWindow();
  button(w, "nachricht_an_alle_button")->click();
  auto& dialog = console_->messageDialog();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.target(), "ALLE");
  button(dialog, "Button1")->click();
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0].text, "Sie müssen zuerst noch einen Nachrichtentext eingeben!");

  const QString text = QStringLiteral("Grüße an „alle“: \"Bitte speichern!\"\nZweite Zeile – Ä Ö Ü ß");
  dialog.textField()->setPlainText(text);
  button(dialog, "Button1")->click();
  EXPECT_FALSE(dialog.isVisible());
  // Typing on after "Senden" changes nothing that is under way.
  dialog.textField()->setPlainText(QStringLiteral("später"));
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(within(5s, [&] { return pcs_[i]->helpers("swmsg").size() == 1; })) << i;
    const auto args = StudentPc::arguments(pcs_[i]->helpers("swmsg").at(0));
    ASSERT_EQ(args.size(), 2u);
    // Every character here exists in Windows-1252, the wire's code page.
    EXPECT_EQ(args[1], "Grüße an „alle“: \"Bitte speichern!\"\r\nZweite Zeile – Ä Ö Ü ß");
  }

  // To one seat, through the action list: only that PC gets it.
  choose(5);
  seatButton(2)->click();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.target(), "127.0.2.22");
  dialog.textField()->setPlainText(QStringLiteral("Nur für dich"));
  button(dialog, "Button1")->click();
  ASSERT_TRUE(within(5s, [&] { return pcs_[1]->helpers("swmsg").size() == 2; }));
  EXPECT_EQ(pcs_[0]->helpers("swmsg").size(), 1u);
}

TEST_F(ConsoleEndToEnd, ShutdownOfOneSeatAndOfAll) {
  startConsole({"127.0.2.31", "127.0.2.32", "127.0.2.33"});
  choose(6);
  seatButton(2)->click();
  auto& one = console_->shutdownSeatDialog();
  EXPECT_TRUE(one.isVisible());
  EXPECT_EQ(one.findChild<QLabel*>(QStringLiteral("Label3"))->text(), "127.0.2.32");
  button(one, "Button1")->click();
  // The notice shows, and 16.5 s later the power-off stand-in runs.
  ASSERT_TRUE(within(5s, [&] { return pcs_[1]->helpers("swsdmsg").size() == 1; }));
  EXPECT_TRUE(pcs_[0]->helpers("swsdmsg").empty());

  console_->shutdownAllAsked();
  EXPECT_TRUE(console_->shutdownAllDialog().isVisible());
  button(console_->shutdownAllDialog(), "Button1")->click();
  ASSERT_TRUE(within(5s, [&] { return pcs_[0]->helpers("swsdmsg").size() == 1 && pcs_[2]->helpers("swsdmsg").size() == 1; }));
  ASSERT_TRUE(within(25s, [&] {
    return fs::exists(pcs_[0]->powerOffMarker()) && fs::exists(pcs_[1]->powerOffMarker()) &&
           fs::exists(pcs_[2]->powerOffMarker());
  }));
}

TEST_F(ConsoleEndToEnd, ScreenshotSavedUnchangedPrintedAndCancelled) {
  startConsole({"127.0.2.41"});
  choose(7);
  seatButton(1)->click();
  auto& window = console_->screenshotWindow();
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.windowTitle().startsWith("Screenshot 127.0.2.41 - ")) << window.windowTitle().toStdString();
  ASSERT_TRUE(within(15s, [&] { return !console_->screenshotBytes().isEmpty(); }));
  EXPECT_TRUE(button(window, "Save_Button")->isEnabled());
  QString error;
  const QImage picture = decodeJpeg(console_->screenshotBytes().toStdString(), error);
  EXPECT_EQ(picture.size(), QSize(640, 480)) << error.toStdString();

  const QByteArray received = console_->screenshotBytes();
  messages_.saveAs = QString::fromStdString((dir_.path() / "bild.jpg").string());
  button(window, "Save_Button")->click();
  EXPECT_EQ(messages_.proposedFile, window.windowTitle() + ".jpg");
  EXPECT_EQ(platform::readFile(dir_.path() / "bild.jpg"), received.toStdString());
  EXPECT_FALSE(window.isVisible());

  seatButton(1)->click();
  ASSERT_TRUE(within(15s, [&] { return !console_->screenshotBytes().isEmpty(); }));
  messages_.printTo = QString::fromStdString((dir_.path() / "druck.pdf").string());
  button(window, "Druck_Button")->click();
  const auto pdf = platform::readFile(dir_.path() / "druck.pdf").value_or("");
  EXPECT_EQ(pdf.rfind("%PDF", 0), 0u);
  EXPECT_GT(pdf.size(), 10'000u);  // the picture is in it
  EXPECT_FALSE(window.isVisible());

  // Cancelled while waiting: the window goes once the exchange has ended.
  seatButton(1)->click();
  button(window, "Cancel_Button")->click();
  EXPECT_TRUE(within(15s, [&] { return !window.isVisible() && allSent(); }));
  EXPECT_TRUE(console_->screenshotBytes().isEmpty());
  // And the next one works.
  seatButton(1)->click();
  EXPECT_TRUE(within(15s, [&] { return !console_->screenshotBytes().isEmpty(); }));

  // Asked again at once: the older request ends, the window waits for the newer one.
  button(window, "Cancel_Button")->click();
  seatButton(1)->click();
  seatButton(1)->click();
  EXPECT_TRUE(within(15s, [&] { return !console_->screenshotBytes().isEmpty() && allSent(); }));
  EXPECT_TRUE(window.isVisible());
}

TEST_F(ConsoleEndToEnd, ABlankedPcThatComesBackIsBlankedAgain) {
  startConsole({"127.0.2.51", "127.0.2.52"});
  choose(4);
  seatButton(1)->click();
  ASSERT_TRUE(within(5s, [&] { return blanked(*pcs_[0]); }));
  // The PC goes off the network and comes back freshly started.
  echo_.set("127.0.2.51", false);
  ASSERT_TRUE(within(5s, [&] { return !seatButton(1)->isEnabled(); }));
  EXPECT_EQ(stateOf(1), "monitordunkel.bmp");
  pcs_[0]->stop();
  fs::remove(pcs_[0]->flagFile());
  ASSERT_TRUE(within(5s, [&] { return !blanked(*pcs_[0]); }));
  ASSERT_TRUE(pcs_[0]->start());
  echo_.set("127.0.2.51", true);
  EXPECT_TRUE(within(8s, [&] { return seatButton(1)->isEnabled() && blanked(*pcs_[0]); }));
}

TEST_F(ConsoleEndToEnd, CloseSequenceResetsEveryReachablePc) {
  startConsole({"127.0.2.61", "127.0.2.62", "127.0.2.250"});
  button(console_->mainWindow(), "alle_dunkelschalten_button")->click();
  ASSERT_TRUE(within(5s, [&] { return blanked(*pcs_[0]) && blanked(*pcs_[1]); }));
  // A seat that answers the echo but runs no service costs its connect time only.
  echo_.set("127.0.2.250", true);
  ASSERT_TRUE(within(5s, [&] { return seatButton(3)->isEnabled(); }));
  console_->requestClose();
  EXPECT_TRUE(console_->closing());
  ASSERT_TRUE(within(20s, [&] { return console_->closed(); }));
  EXPECT_TRUE(allSent());
  EXPECT_FALSE(blanked(*pcs_[0]));
  EXPECT_EQ(platform::readFile(pcs_[0]->flagFile()), "0");
  EXPECT_EQ(platform::readFile(pcs_[1]->flagFile()), "0");
  for (int seat = 1; seat <= 3; ++seat) EXPECT_EQ(stateOf(seat), "monitor.bmp");
}

TEST_F(ConsoleEndToEnd, ScreenSharingRunsTheConfiguredProgramsWithTheirCommandLines) {
  startConsole({"127.0.2.71", "127.0.2.72", "offline-pc.invalid", "127.0.2.73"});
  // The programs see their file name as their first argument.
  const std::string server = "tvncserver", viewer = "tvncviewer";
  choose(0);
  seatButton(1)->click();
  choose(1);
  seatButton(2)->click();
  ASSERT_TRUE(within(5s, [&] { return vncLog().size() == 2; }));
  // Viewers run side by side, so their lines may come in either order.
  EXPECT_EQ(sorted(vncLog(), 0, 2),
            sorted({viewer + "|-fullscreen|-password|demo1234|127.0.2.72::5900",
                    viewer + "|-viewonly|-password|demo1234|127.0.2.71::5900|-scale|0.5"}));

  // Teacher screen to one seat: the server starts once, the seat gets the hand-over.
  choose(3);
  seatButton(2)->click();
  EXPECT_EQ(stateOf(2), "monitorlehrer.bmp");
  // The server starts as a step of its own; the seat gets it once it runs.
  EXPECT_TRUE(within(5s, [&] { return console_->serverMarked(); }));
  // The hand-over runs as a second process of the server's name and ends by
  // itself; its line in the log shows it ran (a count at this moment would race
  // with its start).
  ASSERT_TRUE(within(5s, [&] { return vncLog().size() >= 4; }));
  ASSERT_TRUE(within(5s, [&] { return processes_->count("tvncserver") == 1; }));
  EXPECT_EQ(vncLog()[2], server + "|-forever|-localhost");
  EXPECT_EQ(vncLog()[3], server + "|-connect|127.0.2.72");
  // Again: the teacher screen goes back, the server stops.
  seatButton(2)->click();
  EXPECT_EQ(stateOf(2), "monitor.bmp");
  EXPECT_TRUE(within(5s, [&] { return processes_->count("tvncserver") == 0; }));

  // A student screen to all: the source red, the other answering seats green.
  choose(2);
  seatButton(1)->click();
  EXPECT_TRUE(console_->actionLocked());
  // The loop goes from seat to seat; "Alle zurücksetzen" waits for its end.
  ASSERT_TRUE(within(10s, [&] { return button(console_->mainWindow(), "alle_zuruecksetzen_button")->isEnabled(); }));
  EXPECT_EQ(stateOf(1), "monitorschuelerrot.bmp");
  EXPECT_EQ(stateOf(2), "monitorschuelergruen.bmp");
  EXPECT_EQ(stateOf(3), "monitor.bmp");
  EXPECT_EQ(stateOf(4), "monitorschuelergruen.bmp");
  EXPECT_TRUE(console_->actionLocked());
  const auto log = vncLog();
  ASSERT_EQ(log.size(), 8u);
  EXPECT_EQ(sorted(log, 4, 6), sorted({viewer + "|-fullscreen|-password|demo1234|127.0.2.71::5900",
                                       server + "|-forever|-localhost"}));
  EXPECT_EQ(log[6], server + "|-connect|127.0.2.72");
  EXPECT_EQ(log[7], server + "|-connect|127.0.2.73");
  button(console_->mainWindow(), "alle_zuruecksetzen_button")->click();
  EXPECT_FALSE(console_->actionLocked());
  EXPECT_TRUE(within(5s, [&] { return processes_->count("tvncserver") == 0; }));
  EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(ConsoleEndToEnd, AServerThatNeverAppearsEndsTheWaitWithAMessage) {
  // A start script runs as its shell, never as a process of its own name.
  const auto script = vnc_ / "startserver";
  std::ofstream(script) << "#!/bin/sh\nexit 0\n";
  fs::permissions(script, fs::perms::owner_all);
  startConsole({"127.0.2.81"}, "-forever", 1000ms, script.string());
  choose(3);
  seatButton(1)->click();
  ASSERT_TRUE(within(5s, [&] { return messages_.shown.size() == 1; }));
  EXPECT_TRUE(messages_.shown[0].text.contains(QString::fromStdString(script.string()))) << messages_.shown[0].text.toStdString();
  EXPECT_FALSE(console_->serverMarked());
}

}  // namespace
}  // namespace saalwacht::console

#include "console/core/configuration.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "platform/system.h"

#include "console/core/console_home.h"
#include "console/core/picture_store.h"
#include "console/core/window_geometry.h"
#include "temp_dir.h"

namespace saalwacht::console {
namespace {

namespace fs = std::filesystem;

class ConfigurationTest : public ::testing::Test {
 protected:
  ProfileFile profileOf(const std::string& bytes) {
    const auto path = dir_.path() / "saalwacht.ini";
    if (bytes.empty()) {
      fs::remove(path);
    } else {
      std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    auto loaded = ProfileFile::load(path);
    return std::get<ProfileFile>(std::move(loaded));
  }
  Configuration load(const std::string& bytes) {
    auto result = loadConfiguration(profileOf(bytes));
    if (auto* error = std::get_if<ConversionError>(&result)) {
      ADD_FAILURE() << error->message();
      return {};
    }
    return std::get<Configuration>(result);
  }

  testing::TempDir dir_{"configuration_test"};
};

TEST_F(ConfigurationTest, MissingFileGivesEveryDefault) {
  const auto c = load("");
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    EXPECT_EQ(c.room.names[seat - 1], "");
    EXPECT_EQ(c.room.positions[seat - 1], defaultSeatPosition(seat));
  }
  EXPECT_EQ(defaultSeatPosition(1), (SeatPosition{12, 456}));
  EXPECT_EQ(defaultSeatPosition(48), (SeatPosition{516, 16}));
  EXPECT_EQ(c.settings.roomName, "Raum ???");
  EXPECT_EQ(c.settings.windowSize, WindowSizeSetting::Normal);
  EXPECT_EQ(c.settings.picturePreset, 2);
  EXPECT_EQ(c.settings.thumbnailZoom, 7);
  EXPECT_TRUE(c.settings.thumbnails);
  EXPECT_TRUE(c.settings.thumbnailMenu);
  EXPECT_TRUE(c.settings.internetButton);
  EXPECT_EQ(c.commands.teacherHandOverWaitMs, 100);
  EXPECT_EQ(c.commands.viewerProgram, "0");
  EXPECT_EQ(c.commands.serverParameters, "0");
  EXPECT_EQ(c.internet.lockProgram, "");
  EXPECT_EQ(c.windowTitle, "Saalwacht");
}

TEST_F(ConfigurationTest, SeatsAndPositions) {
  const auto c = load(
      "[Raum]\nrechnername3=pc03\nrechnername17=192.168.1.17\nrechnername5=pc05\nposition_rechner5=200,100\n"
      "position_rechner6=1,1\nrechnername9=  \"  mit Blanks \"\n");
  EXPECT_EQ(c.room.names[2], "pc03");
  EXPECT_EQ(c.room.positions[2], (SeatPosition{156, 456}));
  EXPECT_EQ(c.room.names[16], "192.168.1.17");
  EXPECT_EQ(c.room.positions[16], (SeatPosition{12, 280}));
  EXPECT_EQ(c.room.positions[4], (SeatPosition{200, 100}));
  // A position of an unnamed seat is not read.
  EXPECT_EQ(c.room.positions[5], defaultSeatPosition(6));
  EXPECT_EQ(c.room.names[8], "  mit Blanks ");
}

TEST_F(ConfigurationTest, ValueCases) {
  const struct {
    const char* ini;
    std::function<void(const Configuration&)> check;
  } cases[] = {
      {"[Einstellungen]\nWindowSize=fullscreen\n",
       [](auto& c) { EXPECT_EQ(c.settings.windowSize, WindowSizeSetting::Neither); }},
      {"[Einstellungen]\nWindowSize=Fullscreen\n",
       [](auto& c) { EXPECT_EQ(c.settings.windowSize, WindowSizeSetting::Fullscreen); }},
      {"[Einstellungen]\nMiniaturbilder=Anzeigen\n", [](auto& c) { EXPECT_FALSE(c.settings.thumbnails); }},
      {"[einstellungen]\nMINIATURBILDER=anzeigen\nInternetfreigabebutton=ausblenden\n",
       [](auto& c) {
         EXPECT_TRUE(c.settings.thumbnails);
         EXPECT_FALSE(c.settings.internetButton);
       }},
      {"[Einstellungen]\nBildgroesse_fuer_Schuelermonitor_holen=3\n",
       [](auto& c) { EXPECT_EQ(c.settings.picturePreset, 3); }},
      {"[Einstellungen]\nBildgroesse_fuer_Schuelermonitor_holen=9\n",
       [](auto& c) { EXPECT_EQ(c.settings.picturePreset, 2); }},
      {"[Einstellungen]\nGroesse_der_Miniaturbilder=99\n", [](auto& c) { EXPECT_EQ(c.settings.thumbnailZoom, 35); }},
      {"[Einstellungen]\nGroesse_der_Miniaturbilder=-3\n", [](auto& c) { EXPECT_EQ(c.settings.thumbnailZoom, 7); }},
      {"[Einstellungen]\nRaumbezeichnung=\"Raum 234 \"\n; Raumbezeichnung=Kommentar\nRaumbezeichnung=zweiter\n",
       [](auto& c) { EXPECT_EQ(c.settings.roomName, "Raum 234 "); }},
      {"[Befehle]\nSchuelermonitor_holen_befehl='C:\\Program Files\\viewer.exe'\n"
       "TimeToWait_before_sending_teachermonitor_to_next_pupil= 250\n",
       [](auto& c) {
         EXPECT_EQ(c.commands.viewerProgram, "C:\\Program Files\\viewer.exe");
         EXPECT_EQ(c.commands.teacherHandOverWaitMs, 250);
       }},
      // A negative pause would never end; it is held at none.
      {"[Befehle]\nTimeToWait_before_sending_teachermonitor_to_next_pupil=-5\n",
       [](auto& c) { EXPECT_EQ(c.commands.teacherHandOverWaitMs, 0); }},
      {"[Language]\nHead=Saalwacht Raum 12\n", [](auto& c) { EXPECT_EQ(c.windowTitle, "Saalwacht Raum 12"); }},
      {"[Language]\nHead=\n", [](auto& c) { EXPECT_EQ(c.windowTitle, ""); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ini);
    c.check(load(c.ini));
  }
}

TEST_F(ConfigurationTest, Windows1252FileKeepsItsUmlauts) {
  const auto c = load("[Raum]\r\nrechnername1=B\xfcro-PC\r\n[Einstellungen]\r\nRaumbezeichnung=Gro\xdf" "er Saal\r\n");
  EXPECT_EQ(c.room.names[0], "Büro-PC");
  EXPECT_EQ(c.settings.roomName, "Großer Saal");
}

TEST_F(ConfigurationTest, NonNumbersAreConversionErrorsNamingKeyAndValue) {
  const struct {
    const char* ini;
    const char* key;
    const char* value;
  } cases[] = {
      {"[Raum]\nrechnername2=pc\nposition_rechner2=200\n", "position_rechner2", "200"},
      {"[Raum]\nrechnername2=pc\nposition_rechner2=a,5\n", "position_rechner2", "a,5"},
      {"[Raum]\nrechnername2=pc\nposition_rechner2=5,\n", "position_rechner2", "5,"},
      {"[Raum]\nrechnername2=pc\nposition_rechner2=5,6x\n", "position_rechner2", "5,6x"},
      {"[Befehle]\nTimeToWait_before_sending_teachermonitor_to_next_pupil=1s\n",
       "TimeToWait_before_sending_teachermonitor_to_next_pupil", "1s"},
      {"[Einstellungen]\nBildgroesse_fuer_Schuelermonitor_holen=\n", "Bildgroesse_fuer_Schuelermonitor_holen", ""},
      {"[Einstellungen]\nGroesse_der_Miniaturbilder=99999999999\n", "Groesse_der_Miniaturbilder", "99999999999"},
  };
  for (const auto& c : cases) {
    auto result = loadConfiguration(profileOf(c.ini));
    auto* error = std::get_if<ConversionError>(&result);
    ASSERT_TRUE(error) << c.ini;
    EXPECT_EQ(error->key, c.key);
    EXPECT_EQ(error->value, c.value);
    EXPECT_NE(error->message().find(c.key), std::string::npos);
    EXPECT_NE(error->message().find(std::string("\"") + c.value + "\""), std::string::npos) << error->message();
  }
  // The plan reload reads only [Raum]: a bad setting does not stop it.
  EXPECT_TRUE(std::holds_alternative<RoomPlan>(
      loadRoomPlan(profileOf("[Einstellungen]\nGroesse_der_Miniaturbilder=x\n[Raum]\nrechnername1=a\n"))));
}

TEST_F(ConfigurationTest, WritesKeepOtherLinesAndReadBack) {
  auto profile = profileOf(
      "; Saalwacht\r\n[Raum]\r\nrechnername1=alt\r\n[Befehle]\r\nServer_starten_befehl=x11vnc\r\n"
      "[Language]\r\nHead=Mein Titel\r\n");
  RoomPlan plan = std::get<RoomPlan>(loadRoomPlan(profile));
  plan.names[0] = "pc01";
  plan.names[47] = "pc48";
  plan.positions[47] = {600, 24};
  storeRoomPlan(profile, plan);
  Settings settings;
  settings.roomName = "Raum 12";
  settings.windowSize = WindowSizeSetting::Neither;
  settings.thumbnails = false;
  storeSettings(profile, settings);
  ASSERT_EQ(saveConfiguration(profile), std::nullopt);

  const std::string bytes = *platform::readFile(profile.path());
  EXPECT_EQ(bytes.rfind("; Saalwacht\r\n[Raum]\r\nrechnername1=pc01\r\n", 0), 0u) << bytes;
  EXPECT_NE(bytes.find("Server_starten_befehl=x11vnc\r\n"), std::string::npos);
  EXPECT_NE(bytes.find("Head=Mein Titel\r\n"), std::string::npos);
  EXPECT_EQ(bytes.find("WindowSize"), std::string::npos);  // minimized: not written
  const auto back = load(bytes);
  EXPECT_EQ(back.room.names[47], "pc48");
  EXPECT_EQ(back.room.positions[47], (SeatPosition{600, 24}));
  EXPECT_EQ(back.settings.roomName, "Raum 12");
  EXPECT_FALSE(back.settings.thumbnails);
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    EXPECT_TRUE(profile.value("Raum", "position_rechner" + std::to_string(seat))) << seat;
    EXPECT_TRUE(profile.value("Raum", "rechnername" + std::to_string(seat))) << seat;
  }
}

TEST_F(ConfigurationTest, RefusedWriteNamesTheFileAndKeepsIt) {
  auto profile = profileOf("[Raum]\nrechnername1=alt\n");
  // A folder where the temporary file must go refuses the write, even for root.
  fs::create_directory(dir_.path() / "saalwacht.ini.tmp");
  RoomPlan plan;
  plan.names[0] = "neu";
  storeRoomPlan(profile, plan);
  const auto error = saveConfiguration(profile);
  ASSERT_TRUE(error);
  EXPECT_EQ(*error, "In " + profile.path().string() + " kann nicht geschrieben werden");
  EXPECT_EQ(*platform::readFile(profile.path()), "[Raum]\nrechnername1=alt\n");
}

TEST(SeatPlan, StatesWalkAndLookup) {
  for (int i = 0; i < kSeatStateCount; ++i) {
    const auto state = static_cast<SeatState>(i);
    EXPECT_EQ(seatStateFromName(seatStateName(state)), state);
    EXPECT_EQ(seatImageIndex(state), i);
  }
  EXPECT_EQ(seatStateName(SeatState::Dark), "monitordunkel.bmp");
  EXPECT_EQ(seatStateFromName("Monitor.bmp"), std::nullopt);

  SeatNames names;
  EXPECT_EQ(findNamedSeat(names, 1), std::nullopt);  // empty plan: no endless search
  names[2] = "pc03";
  names[16] = "pc17";
  names[30] = "pc03";
  EXPECT_EQ(findNamedSeat(names, 1), 3);
  EXPECT_EQ(findNamedSeat(names, 3), 3);
  EXPECT_EQ(findNamedSeat(names, 4), 17);
  EXPECT_EQ(findNamedSeat(names, 32), 3);   // wraps after 48
  EXPECT_EQ(findNamedSeat(names, 48), 3);
  EXPECT_EQ(lookupSeat(names, "pc03"), 3);  // the lower seat of two
  EXPECT_EQ(lookupSeat(names, "PC03"), std::nullopt);
}

TEST(SeatPlan, DraggingMovesInStepsOfEightWithinTheRoomPlan) {
  const struct {
    int position, mouse, grab, extent, expected;
  } cases[] = {
      {100, 17, 10, 990, 100},   // 7 pixels: no move
      {100, 18, 10, 990, 108},   // 8 pixels: one step
      {100, 1, 10, 990, 92},     // -9 pixels: one step back
      {100, 40, 10, 990, 124},   // 30 pixels: three steps
      {20, 0, 30, 990, 16},      // the far left stops at 16
      {880, 90, 10, 990, 901},   // the far right at 990 - 89
      {500, 60, 20, 620, 531},   // the bottom at 620 - 89
  };
  for (const auto& c : cases) {
    EXPECT_EQ(draggedPosition(c.position, c.mouse, c.grab, c.extent), c.expected)
        << c.position << " " << c.mouse << " " << c.grab;
  }
}

TEST(WindowGeometry, RoomPlanGrowsByExactlyTheWindowsGrowth) {
  const struct {
    Size client;
    MainLayout layout;
  } cases[] = {
      {{1007, 711}, {{990, 620}, {965, 590}, {940, 560}, 1015}},
      {{1920, 1050}, {{1903, 959}, {1878, 929}, {1853, 899}, 1928}},
      {{800, 600}, {{990, 620}, {965, 590}, {940, 560}, 1015}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(layoutForClientSize(c.client), c.layout) << c.client.width;
  }
  // Growing twice does not add up.
  EXPECT_EQ(layoutForClientSize({1920, 1050}), layoutForClientSize({1920, 1050}));
}

TEST(ConsoleHome, FolderChoiceAndSeeding) {
  testing::TempDir dir{"console_home_test"};
  const auto program = dir.path() / "bin";
  fs::create_directories(program);
  HomeInputs in{program, std::nullopt, std::string("/xdg"), std::string("/home/lehrer")};
  EXPECT_EQ(chooseConsoleHome(in), fs::path("/xdg/saalwacht"));
  in.xdgConfigHome = "relative";
  EXPECT_EQ(chooseConsoleHome(in), fs::path("/home/lehrer/.config/saalwacht"));
  std::ofstream(program / "saalwacht.ini") << "[Raum]\n";
  EXPECT_EQ(chooseConsoleHome(in), program);  // portable install
  in.saalwachtHome = (dir.path() / "demo").string();
  EXPECT_EQ(chooseConsoleHome(in), dir.path() / "demo");

  // A new folder is seeded with a store that asks for a password; an existing
  // store is kept, and one that has gone is not made anew (the start then says so).
  const auto home = dir.path() / "demo" / "nested";
  ASSERT_EQ(prepareConsoleHome(home, program), std::nullopt);
  std::string error;
  EXPECT_EQ(readRemotePassword(home / "saalwacht.bmp", error), "0") << error;
  ASSERT_TRUE(writeRemotePassword(home / "saalwacht.bmp", "geheim", error)) << error;
  ASSERT_EQ(prepareConsoleHome(home, program), std::nullopt);
  EXPECT_EQ(readRemotePassword(home / "saalwacht.bmp", error), "geheim");
  std::ofstream(home / "saalwacht.key") << "a used home holds the console's key";
  fs::remove(home / "saalwacht.bmp");
  ASSERT_EQ(prepareConsoleHome(home, program), std::nullopt);
  EXPECT_FALSE(fs::exists(home / "saalwacht.bmp"));
  // An empty folder made for the console is new, too.
  fs::create_directory(dir.path() / "empty");
  ASSERT_EQ(prepareConsoleHome(dir.path() / "empty", program), std::nullopt);
  EXPECT_EQ(readRemotePassword(dir.path() / "empty" / "saalwacht.bmp", error), "0") << error;
  // A file where the folder should be is a clear error.
  std::ofstream(dir.path() / "blocked") << "x";
  EXPECT_TRUE(prepareConsoleHome(dir.path() / "blocked", program));
}

}  // namespace
}  // namespace saalwacht::console

#include "console/core/interface_texts.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

#include <fstream>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <tuple>
#include <utility>
#include <variant>

namespace saalwacht::console {
namespace {

namespace fs = std::filesystem;

class InterfaceTextsTest : public ::testing::Test {
 protected:

  // Loads texts from a configuration file holding exactly `bytes`.
  InterfaceTexts loadFrom(const std::string& bytes) {
    const fs::path path = folder_ / "saalwacht.ini";
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out << bytes;
    }
    auto result = ProfileFile::load(path);
    if (auto* error = std::get_if<ProfileLoadError>(&result)) {
      ADD_FAILURE() << error->message;
    }
    lastEncoding_ = std::get<ProfileFile>(result).encoding();
    return loadInterfaceTexts(std::get<ProfileFile>(result));
  }

  testing::TempDir temp_{"interface_texts_test"};
  const fs::path& folder_ = temp_.path();
  ProfileEncoding lastEncoding_ = ProfileEncoding::Utf8;
};

std::map<std::string, std::string> defaultsExcept(
    const std::map<std::string, std::string>& changed) {
  std::map<std::string, std::string> expected;
  for (const auto& entry : interfaceTextKeys()) {
    expected[std::string(entry.key)] = std::string(entry.defaultText);
  }
  for (const auto& [key, value] : changed) expected.at(key) = value;
  return expected;
}

void expectTexts(const InterfaceTexts& texts,
                 const std::map<std::string, std::string>& expected) {
  for (const auto& [key, value] : expected) {
    EXPECT_EQ(texts.text(key), value) << key;
  }
}

TEST(InterfaceTextKeys, TableHasEveryKeyOnceAndOnlyTheKnownSharedTargets) {
  const auto keys = interfaceTextKeys();
  // 98 keys, and 9 for the console's key and a screenshot that is no picture.
  EXPECT_EQ(keys.size(), 107u);
  std::set<std::string_view> names;
  std::map<std::tuple<std::string_view, std::string_view, TextProperty>, int> targets;
  int hints = 0;
  for (const auto& entry : keys) {
    EXPECT_TRUE(names.insert(entry.key).second) << "twice: " << entry.key;
    ++targets[{entry.window, entry.control, entry.property}];
    if (entry.property == TextProperty::Hint) ++hints;
  }
  EXPECT_EQ(hints, 1);
  std::set<std::string_view> shared;
  for (const auto& [target, count] : targets) {
    if (count > 1) {
      EXPECT_EQ(count, 2);
      shared.insert(std::get<1>(target));
    }
  }
  EXPECT_EQ(shared, (std::set<std::string_view>{"Miniaturbildereinblenden1",
                                                 "Miniaturbilderausblenden1"}));
  EXPECT_FALSE(names.contains("Head"));  // read by start-up, not by this loader
}

TEST_F(InterfaceTextsTest, WithoutLanguageSectionEveryKeyHasItsDefault) {
  for (const std::string& file : {std::string(""), std::string("[Config]\nButton_AllReset=x\n"),
                                  std::string("Button_AllReset=before any section\n")}) {
    SCOPED_TRACE(file);
    const InterfaceTexts texts = loadFrom(file);
    expectTexts(texts, defaultsExcept({}));
  }
}

TEST_F(InterfaceTextsTest, DefaultsAreTheGermanTexts) {
  const InterfaceTexts texts = loadFrom("");
  const std::pair<const char*, const char*> cases[] = {
      {"Menue_1", "Datei"},
      {"Menue_4_3", "Info ..."},
      {"First_ALLReset_Message", "Zur Nutzung dieser Aktion erst ALLE ZURÜCKSETZEN wählen!"},
      {"Button_AllReset", "Alle zurücksetzen"},
      {"BPopupMenue_2_2", "Schülermonitor holen und fernsteuern"},
      {"Options_ShowHideInternetButton", "Internetfreigabeschaltflaeche:"},
      {"Options_ClassroomName", "Raumbezeichnung (z.B. 'Raum 234'):"},
      {"Security_line3", "WICHTIG: Das gleiche Passwort muss bei der Saalwacht-Installation"},
      {"Formular_Screenshot_Print_Button", "Drucken + Schließen"},
      {"Formular_Info_Head", "Info über Saalwacht"},
      {"Formular_ActivateComputer_Head", "Rechnername eintragen/ändern"},
      {"Formular_SendMessage_Text1", "Nachricht an "},  // trailing blank kept
      {"Formular_SendMessage_ButtonDeleteText", "Text löschen"},
  };
  for (const auto& [key, expected] : cases) EXPECT_EQ(texts.text(key), expected) << key;
  EXPECT_EQ(texts.controlText("TForm4", ""), "Einstellungen");
  EXPECT_EQ(texts.controlText("TForm13", "Label8"),
            "Bei Verlust des gespeicherten Passwortes ist zum Ändern eine Neuinstallation nötig !!!");
}

TEST_F(InterfaceTextsTest, LanguageValuesReplaceDefaults) {
  struct Case {
    const char* file;
    std::map<std::string, std::string> changed;
  };
  const Case cases[] = {
      {"[Language]\nButton_AllReset=Reset all\n", {{"Button_AllReset", "Reset all"}}},
      {"[Language]\nButton_AllReset=\n", {{"Button_AllReset", ""}}},  // empty, not default
      {"[Language]\nButton_AllReset=\"\"\n", {{"Button_AllReset", ""}}},
      {"[Language]\nFormular_SendMessage_Text1=\"Message to \"\n",
       {{"Formular_SendMessage_Text1", "Message to "}}},
      {"[language]\nbutton_allreset=Reset all\nSECURITY_TITLE=Security\n",
       {{"Button_AllReset", "Reset all"}, {"Security_Title", "Security"}}},
      {"[Language]\nButton_AllReset=first\nButton_AllReset=second\n",
       {{"Button_AllReset", "first"}}},
      {"[Language]\nFormular_Shutdown_Head=Shut down\n[Other]\nFormular_Shutdown_Button1=no\n",
       {{"Formular_Shutdown_Head", "Shut down"}}},
      {"[Language]\nMenue_1=File\nUnknown_Key=ignored\nFormular_Wait_Text1=Please wait ...\n",
       {{"Menue_1", "File"}, {"Formular_Wait_Text1", "Please wait ..."}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    expectTexts(loadFrom(c.file), defaultsExcept(c.changed));
  }
}

TEST_F(InterfaceTextsTest, OneKeyChangesExactlyItsControl) {
  const InterfaceTexts changed = loadFrom("[Language]\nButton_AllReset=Reset all\n");
  const InterfaceTexts defaults = loadFrom("");
  for (const auto& entry : interfaceTextKeys()) {
    const bool isTarget = entry.window == "TForm1" && entry.control == "alle_zuruecksetzen_button";
    const std::string& now = changed.controlText(entry.window, entry.control, entry.property);
    if (isTarget) {
      EXPECT_EQ(now, "Reset all");
    } else {
      EXPECT_EQ(now, defaults.controlText(entry.window, entry.control, entry.property))
          << entry.key;
    }
  }
}

TEST_F(InterfaceTextsTest, LaterMenuKeyDecidesTheMiniatureMenuCaptions) {
  struct Case {
    const char* file;
    const char* show;
    const char* hide;
  };
  const Case cases[] = {
      {"", "Miniaturbilder einblenden", "Miniaturbilder ausblenden"},
      // Read first, then overwritten by the Button_ key's default.
      {"[Language]\nMenue_3_1=Show A\nMenue_3_2=Hide A\n", "Miniaturbilder einblenden",
       "Miniaturbilder ausblenden"},
      {"[Language]\nButton_ShowMiniMonitorPictures=Show B\n", "Show B", "Miniaturbilder ausblenden"},
      {"[Language]\nButton_HideMiniMonitorPictures=Hide B\n", "Miniaturbilder einblenden", "Hide B"},
      // File order does not matter, the reading order does.
      {"[Language]\nButton_ShowMiniMonitorPictures=Show B\nButton_HideMiniMonitorPictures=Hide B\n"
       "Menue_3_1=Show A\nMenue_3_2=Hide A\n",
       "Show B", "Hide B"},
      {"[Language]\nMenue_3_1=Show A\nButton_ShowMiniMonitorPictures=\n", "", "Miniaturbilder ausblenden"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const InterfaceTexts texts = loadFrom(c.file);
    EXPECT_EQ(texts.controlText("TForm1", "Miniaturbildereinblenden1"), c.show);
    EXPECT_EQ(texts.controlText("TForm1", "Miniaturbilderausblenden1"), c.hide);
  }
  // The key itself still reads its own value.
  EXPECT_EQ(loadFrom("[Language]\nMenue_3_1=Show A\n").text("Menue_3_1"), "Show A");
}

TEST_F(InterfaceTextsTest, ActionListFollowsTheSeatMenuInOrder) {
  const std::array<const char*, kSeatActionCount> menuItems = {
      "Schuelermonitorholen",          "Schuelermonitorfernsteuern",
      "Schuelermonitoranalleundfernsteuern", "Lehrermonitoruebertragen",
      "Monitordunkelschalten",         "Nachrichtsenden",
      "Rechnerherunterfahren",         "Screenshoterstellen"};
  struct Case {
    const char* file;
    std::array<const char*, kSeatActionCount> list;
  };
  const Case cases[] = {
      {"",
       {"Schülermonitor holen", "Schülermonitor holen und fernsteuern",
        "Schülermonitor an Alle und fernsteuern", "Lehrermonitor übertragen",
        "Monitor dunkelschalten", "Nachricht senden", "Rechner herunterfahren",
        "Screenshot erstellen"}},
      {"[Language]\nPopupMenue_2_5=Blank\n",
       {"Schülermonitor holen", "Schülermonitor holen und fernsteuern",
        "Schülermonitor an Alle und fernsteuern", "Lehrermonitor übertragen", "Blank",
        "Nachricht senden", "Rechner herunterfahren", "Screenshot erstellen"}},
      {"[Language]\nPopupMenue_2_8=h\nPopupMenue_2_7=g\nPopupMenue_2_6=f\nPopupMenue_2_5=e\n"
       "PopupMenue_2_4=d\nPopupMenue_2_3=c\nBPopupMenue_2_2=b\nPopupMenue_2_1=a\n",
       {"a", "b", "c", "d", "e", "f", "g", "h"}},
      // The second action's key has a leading B; without it the key is unknown.
      {"[Language]\nPopupMenue_2_2=ignored\n",
       {"Schülermonitor holen", "Schülermonitor holen und fernsteuern",
        "Schülermonitor an Alle und fernsteuern", "Lehrermonitor übertragen",
        "Monitor dunkelschalten", "Nachricht senden", "Rechner herunterfahren",
        "Screenshot erstellen"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const InterfaceTexts texts = loadFrom(c.file);
    for (std::size_t i = 0; i < kSeatActionCount; ++i) {
      EXPECT_EQ(texts.actionList()[i], c.list[i]) << i;
      EXPECT_EQ(texts.controlText("TForm1", menuItems[i]), c.list[i]) << i;
      EXPECT_EQ(texts.text(kSeatActionKeys[i]), c.list[i]) << i;
    }
    EXPECT_EQ(texts.selectedAction(), 1u);
  }
}

TEST_F(InterfaceTextsTest, DeleteButtonTextIsAHintNotACaption) {
  const InterfaceTexts texts =
      loadFrom("[Language]\nFormular_SendMessage_ButtonDeleteText=Clear text\n");
  EXPECT_EQ(texts.controlText("TForm2", "loeschen_button", TextProperty::Hint), "Clear text");
  EXPECT_THROW(texts.controlText("TForm2", "loeschen_button", TextProperty::Caption),
               std::out_of_range);
  for (const auto& entry : interfaceTextKeys()) {
    if (entry.key != "Formular_SendMessage_ButtonDeleteText") {
      EXPECT_NE(entry.property, TextProperty::Hint) << entry.key;
    }
  }
}

TEST_F(InterfaceTextsTest, UnknownNamesAreRefused) {
  const InterfaceTexts texts = loadFrom("");
  const char* unknown[] = {"Head", "button_allreset", "PopupMenue_2_2", ""};
  for (const char* key : unknown) EXPECT_THROW(texts.text(key), std::out_of_range) << key;
  EXPECT_THROW(texts.controlText("TForm1", "no_such_control"), std::out_of_range);
}

TEST_F(InterfaceTextsTest, Windows1252FileWithUmlauts) {
  // ü, ß, Ä and Ü as single Windows-1252 bytes; the texts must come out as UTF-8.
  const std::string file =
      "[Language]\r\n"
      "Button_AllReset=Alle zur\xFC" "cksetzen!\r\n"
      "Formular_Screenshot_Cancel_Button=Schlie\xDF" "en\r\n"
      "PopupMenue_1_3=Namen \xC4ndern\r\n"
      "Formular_Info_Head=\xDC" "BER\r\n";
  const InterfaceTexts texts = loadFrom(file);
  EXPECT_EQ(lastEncoding_, ProfileEncoding::Windows1252);
  expectTexts(texts, defaultsExcept({
                         {"Button_AllReset", "Alle zurücksetzen!"},
                         {"Formular_Screenshot_Cancel_Button", "Schließen"},
                         {"PopupMenue_1_3", "Namen Ändern"},
                         {"Formular_Info_Head", "ÜBER"},
                     }));
}

// The shipped English file holds every key the console reads from [Language]
// (the table, and the window title read with the configuration), each once,
// and nothing else.
TEST(EnglishTexts, FileHasExactlyTheConsolesKeys) {
  auto loaded = ProfileFile::load(SAALWACHT_ENGLISH_TEXTS);
  ASSERT_TRUE(std::holds_alternative<ProfileFile>(loaded)) << std::get<ProfileLoadError>(loaded).message;
  const ProfileFile& english = std::get<ProfileFile>(loaded);

  std::set<std::string> known = {"Head"};
  for (const auto& entry : interfaceTextKeys()) known.insert(std::string(entry.key));
  const auto keys = english.keys(kLanguageSection);
  const std::set<std::string> present(keys.begin(), keys.end());
  for (const auto& key : known) EXPECT_TRUE(present.contains(key)) << "no English text for " << key;
  for (const auto& key : present) EXPECT_TRUE(known.contains(key)) << "not a key of the console: " << key;

  // keys() names a key once even when it stands twice; count the lines.
  std::ifstream in(SAALWACHT_ENGLISH_TEXTS);
  std::size_t lines = 0;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != ';' && line[0] != '[' && line.find('=') != std::string::npos) ++lines;
  }
  EXPECT_EQ(lines, keys.size()) << "a key stands twice";

  const InterfaceTexts texts = loadInterfaceTexts(english);
  for (const auto& entry : interfaceTextKeys()) {
    EXPECT_FALSE(texts.text(entry.key).empty()) << entry.key;
  }
  // The help folder is named by this caption; the package links "Help" to the pages.
  EXPECT_EQ(texts.text("Menue_4_1"), "Help");
  EXPECT_EQ(texts.text("Formular_SendMessage_Text1"), "Message to ");
}

}  // namespace
}  // namespace saalwacht::console

#include "console/core/profile_file.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

#include <fstream>
#include <iterator>
#include <random>

namespace saalwacht::console {
namespace {

namespace fs = std::filesystem;

class ProfileFileTest : public ::testing::Test {
 protected:

  fs::path write(const std::string& bytes, const std::string& name = "saalwacht.ini") {
    const fs::path path = folder_ / name;
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    return path;
  }

  static std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  static ProfileFile loadOk(const fs::path& path) {
    auto result = ProfileFile::load(path);
    if (auto* error = std::get_if<ProfileLoadError>(&result)) {
      ADD_FAILURE() << "load failed: " << error->message;
      return std::get<ProfileFile>(ProfileFile::load(path.parent_path() / "missing.ini"));
    }
    return std::get<ProfileFile>(std::move(result));
  }

  testing::TempDir temp_{"profile_file_test"};
  const fs::path& folder_ = temp_.path();
};

struct ReadCase {
  const char* name;
  std::string content;
  const char* section;
  const char* key;
  std::optional<std::string> expected;
};

TEST_F(ProfileFileTest, ReadsValuesByWindowsRules) {
  const std::vector<ReadCase> cases = {
      {"plain", "[Raum]\nrechnername1=pc01\n", "Raum", "rechnername1", "pc01"},
      {"double quotes dropped", "[S]\nk=\"a b\"\n", "S", "k", "a b"},
      {"single quotes dropped", "[S]\nk='a b'\n", "S", "k", "a b"},
      {"only one pair dropped", "[S]\nk=\"\"x\"\"\n", "S", "k", "\"x\""},
      {"mismatched quotes kept", "[S]\nk=\"x'\n", "S", "k", "\"x'"},
      {"lone quote kept", "[S]\nk=\"\n", "S", "k", "\""},
      {"blanks inside quotes kept", "[S]\nk= \" x \" \n", "S", "k", " x "},
      {"blanks around names and value", "  [ S ]  \n \t k \t = \t v w \t\n", "S", "k", "v w"},
      {"section case-insensitive", "[Einstellungen]\nk=1\n", "EINSTELLUNGEN", "k", "1"},
      {"key case-insensitive", "[S]\nWindowSize=Normal\n", "S", "windowsize", "Normal"},
      {"umlaut section case-insensitive", "[R\xC3\x84UME]\nk=1\n", "r\xC3\xA4ume", "k", "1"},
      {"sharp s not folded", "[Gro\xC3\x9F]\nk=1\n", "GROSS", "k", std::nullopt},
      {"first of two keys wins", "[S]\nk=first\nK=second\n", "S", "k", "first"},
      {"first of two sections read", "[S]\na=1\n[T]\n[s]\na=2\nb=3\n", "S", "b", std::nullopt},
      {"first section value", "[S]\na=1\n[s]\na=2\n", "S", "a", "1"},
      {"comment ignored", "[S]\n;k=1\n", "S", ";k", std::nullopt},
      {"indented comment ignored", "[S]\n  ;k=1\nk=2\n", "S", "k", "2"},
      {"line without equals ignored", "[S]\nk\nk=2\n", "S", "k", "2"},
      {"key before any section ignored", "k=1\n[S]\n", "S", "k", std::nullopt},
      {"key of another section not visible", "[A]\nk=1\n[B]\n", "B", "k", std::nullopt},
      {"missing section", "[A]\nk=1\n", "B", "k", std::nullopt},
      {"missing key", "[A]\nk=1\n", "A", "x", std::nullopt},
      {"empty value present", "[S]\nk=\n", "S", "k", ""},
      {"value keeps later equals", "[S]\nk=a=b\n", "S", "k", "a=b"},
      {"semicolon in value kept", "[S]\nk=a ; b\n", "S", "k", "a ; b"},
      {"CRLF not part of value", "[S]\r\nk=v\r\n", "S", "k", "v"},
      {"last line without line end", "[S]\nk=v", "S", "k", "v"},
      {"header without closing bracket", "[S\nk=v\n", "S", "k", "v"},
      {"text after header ignored", "[S] trailing\nk=v\n", "S", "k", "v"},
      {"empty key ignored", "[S]\n=v\n", "S", "", std::nullopt},
      {"windows-1252 umlaut value", "[S]\nk=B\xFCro\n", "S", "k", "B\xC3\xBCro"},
      {"windows-1252 umlaut key folded", "[S]\n\xC4nderung=1\n", "S", "\xC3\xA4nderung", "1"},
      {"utf-8 byte order mark skipped", "\xEF\xBB\xBF[S]\nk=v\n", "S", "k", "v"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto file = loadOk(write(c.content));
    EXPECT_EQ(file.value(c.section, c.key), c.expected);
    EXPECT_EQ(file.value(c.section, c.key, "fallback"),
              c.expected.value_or("fallback"));
  }
}

TEST_F(ProfileFileTest, DetectsEncoding) {
  const std::vector<std::tuple<const char*, std::string, ProfileEncoding>> cases = {
      {"empty", "", ProfileEncoding::Utf8},
      {"ascii", "[S]\nk=v\n", ProfileEncoding::Utf8},
      {"utf-8 umlaut", "[S]\nk=\xC3\xA4\n", ProfileEncoding::Utf8},
      {"utf-8 with bom", "\xEF\xBB\xBF[S]\n", ProfileEncoding::Utf8WithByteOrderMark},
      {"windows-1252 umlaut", "[S]\nk=\xE4\n", ProfileEncoding::Windows1252},
      {"two-byte start at end", "[S]\nk=\xC3", ProfileEncoding::Windows1252},
      {"overlong form", "[S]\nk=\xC0\xAF\n", ProfileEncoding::Windows1252},
      {"surrogate", "[S]\nk=\xED\xA0\x80\n", ProfileEncoding::Windows1252},
      {"umlaut followed by letter", "k=\xC4r\n", ProfileEncoding::Windows1252},
  };
  for (const auto& [name, content, expected] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(loadOk(write(content)).encoding(), expected);
  }
}

TEST_F(ProfileFileTest, MissingFileIsEmptyProfileSavedAsNewUtf8File) {
  const fs::path path = folder_ / "saalwacht.ini";
  auto file = loadOk(path);
  EXPECT_FALSE(file.hasSection("Raum"));
  EXPECT_EQ(file.value("Raum", "rechnername1"), std::nullopt);
  EXPECT_EQ(file.encoding(), ProfileEncoding::Utf8);

  ASSERT_TRUE(file.setValue("Einstellungen", "Raumbezeichnung", "Raum 1.04 \xC3\xBC"));
  EXPECT_EQ(file.save(), std::nullopt);
  EXPECT_EQ(read(path), "[Einstellungen]\r\nRaumbezeichnung=Raum 1.04 \xC3\xBC\r\n");
  EXPECT_FALSE(fs::exists(folder_ / "saalwacht.ini.tmp"));
}

TEST_F(ProfileFileTest, FolderInPlaceOfFileIsLoadError) {
  fs::create_directory(folder_ / "saalwacht.ini");
  const auto result = ProfileFile::load(folder_ / "saalwacht.ini");
  ASSERT_TRUE(std::holds_alternative<ProfileLoadError>(result));
  // The teacher reads it: German, naming the file.
  EXPECT_EQ(std::get<ProfileLoadError>(result).message, (folder_ / "saalwacht.ini").string() + " ist keine Datei");
}

TEST_F(ProfileFileTest, ListsKeysOfFirstSectionOnceInFileOrder) {
  const auto file = loadOk(write(
      "[S]\nb=1\n; c=comment\na=2\nB=3\nnoequals\n[T]\nt=1\n[s]\nd=4\n"));
  EXPECT_EQ(file.keys("s"), (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(file.keys("T"), (std::vector<std::string>{"t"}));
  EXPECT_TRUE(file.keys("missing").empty());
  EXPECT_TRUE(file.hasSection("t"));
  EXPECT_FALSE(file.hasSection("U"));
}

struct WriteCase {
  const char* name;
  std::string before;
  const char* section;
  const char* key;
  const char* value;
  std::string after;
};

TEST_F(ProfileFileTest, WritesLikeWindowsKeepingOtherLines) {
  const std::vector<WriteCase> cases = {
      {"value replaced in place",
       "; Raumplan\n[Raum]\nrechnername1=pc01\nrechnername2=pc02\n",
       "Raum", "rechnername1", "pc99",
       "; Raumplan\n[Raum]\nrechnername1=pc99\nrechnername2=pc02\n"},
      {"spelling and blanks before value kept",
       "[Raum]\n  RechnerName1 = pc01  \n", "raum", "rechnername1", "x",
       "[Raum]\n  RechnerName1 = x\n"},
      {"CRLF kept",
       "[A]\r\nk=1\r\n\r\n[B]\r\nj=2\r\n", "A", "k", "3",
       "[A]\r\nk=3\r\n\r\n[B]\r\nj=2\r\n"},
      {"comments and blank lines kept",
       "[A]\n; keep me\n\nk=1\n  ; and me\n", "A", "k", "2",
       "[A]\n; keep me\n\nk=2\n  ; and me\n"},
      {"first of two keys changed",
       "[A]\nk=1\nk=2\n", "A", "K", "3", "[A]\nk=3\nk=2\n"},
      {"first of two sections changed",
       "[A]\nk=1\n[A]\nk=2\n", "A", "k", "3", "[A]\nk=3\n[A]\nk=2\n"},
      {"new key at end of section before blank line",
       "[A]\nk=1\n\n[B]\nj=2\n", "A", "n", "v", "[A]\nk=1\nn=v\n\n[B]\nj=2\n"},
      {"new key in empty section", "[A]\n[B]\n", "A", "n", "v", "[A]\nn=v\n[B]\n"},
      {"new key in last section without line end",
       "[A]\r\nk=1", "A", "n", "v", "[A]\r\nk=1\r\nn=v\r\n"},
      {"new section at end",
       "[A]\nk=1\n", "B", "n", "v", "[A]\nk=1\n[B]\nn=v\n"},
      {"new section after last line without line end",
       "[A]\r\nk=1", "B", "n", "v", "[A]\r\nk=1\r\n[B]\r\nn=v\r\n"},
      {"value with outer blanks quoted",
       "[A]\nk=1\n", "A", "k", " x ", "[A]\nk=\" x \"\n"},
      {"quoted value quoted again",
       "[A]\nk=1\n", "A", "k", "'x'", "[A]\nk=\"'x'\"\n"},
      {"same value leaves line untouched",
       "[A]\nk = \"v\"  \n", "A", "k", "v", "[A]\nk = \"v\"  \n"},
      {"empty value", "[A]\nk=1\n", "A", "k", "", "[A]\nk=\n"},
      {"byte order mark kept",
       "\xEF\xBB\xBF[A]\nk=1\n", "A", "k", "\xC3\xA4", "\xEF\xBB\xBF[A]\nk=\xC3\xA4\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = write(c.before);
    auto file = loadOk(path);
    ASSERT_TRUE(file.setValue(c.section, c.key, c.value));
    ASSERT_EQ(file.save(), std::nullopt);
    EXPECT_EQ(read(path), c.after);
    EXPECT_EQ(loadOk(path).value(c.section, c.key), std::string(c.value));
  }
}

TEST_F(ProfileFileTest, Windows1252FileIsReadAsUtf8AndWrittenBackAsWindows1252) {
  const std::string before =
      "; Konfiguration f\xFCr R\xE4ume\r\n"
      "[Einstellungen]\r\n"
      "Raumbezeichnung=B\xFCro \x80 1\r\n"
      "Miniaturbilder=anzeigen\r\n";
  const fs::path path = write(before);
  auto file = loadOk(path);
  ASSERT_EQ(file.encoding(), ProfileEncoding::Windows1252);
  EXPECT_EQ(file.value("Einstellungen", "Raumbezeichnung"),
            "B\xC3\xBCro \xE2\x82\xAC 1");

  ASSERT_TRUE(file.setValue("Einstellungen", "Miniaturbilder", "gr\xC3\xB6\xC3\x9F" "er"));
  ASSERT_TRUE(file.setValue("\xC3\x9C" "bersicht", "\xC3\x84nderung", "\xE2\x82\xAC"));
  ASSERT_EQ(file.save(), std::nullopt);
  EXPECT_EQ(read(path),
            "; Konfiguration f\xFCr R\xE4ume\r\n"
            "[Einstellungen]\r\n"
            "Raumbezeichnung=B\xFCro \x80 1\r\n"
            "Miniaturbilder=gr\xF6\xDF" "er\r\n"
            "[\xDC" "bersicht]\r\n"
            "\xC4nderung=\x80\r\n");
}

TEST_F(ProfileFileTest, CharacterOutsideWindows1252BecomesQuestionMark) {
  const fs::path path = write("[S]\nk=\xE4\n");
  auto file = loadOk(path);
  ASSERT_TRUE(file.setValue("S", "k", "\xE2\x82\xAC \xCE\xA9"));  // "€ Ω"
  EXPECT_EQ(file.value("S", "k"), "\xE2\x82\xAC ?");
  ASSERT_EQ(file.save(), std::nullopt);
  EXPECT_EQ(read(path), "[S]\nk=\x80 ?\n");
}

TEST_F(ProfileFileTest, Utf8FileStaysUtf8) {
  const fs::path path = write("[S]\nname=M\xC3\xBCller\nk=1\n");
  auto file = loadOk(path);
  ASSERT_EQ(file.encoding(), ProfileEncoding::Utf8);
  ASSERT_TRUE(file.setValue("S", "k", "\xC3\x84" "\xCE\xA9"));
  ASSERT_EQ(file.save(), std::nullopt);
  EXPECT_EQ(read(path), "[S]\nname=M\xC3\xBCller\nk=\xC3\x84\xCE\xA9\n");
}

TEST_F(ProfileFileTest, RejectsWhatAProfileLineCannotHold) {
  const std::vector<std::tuple<const char*, const char*, const char*, const char*>> cases = {
      {"line break in value", "S", "k", "a\nb"},
      {"carriage return in value", "S", "k", "a\rb"},
      {"line break in key", "S", "k\nx", "v"},
      {"line break in section", "S\nT", "k", "v"},
      {"empty section", " ", "k", "v"},
      {"empty key", "S", "", "v"},
      {"bracket in section", "S]x", "k", "v"},
      {"equals in key", "S", "k=x", "v"},
      {"key looking like comment", "S", ";k", "v"},
      {"key looking like section", "S", "[k", "v"},
  };
  const std::string before = "[S]\nk=1\n";
  for (const auto& [name, section, key, value] : cases) {
    SCOPED_TRACE(name);
    const fs::path path = write(before);
    auto file = loadOk(path);
    EXPECT_FALSE(file.setValue(section, key, value));
    ASSERT_EQ(file.save(), std::nullopt);
    EXPECT_EQ(read(path), before);
  }
}

TEST_F(ProfileFileTest, RefusedWriteReportsErrorAndKeepsOriginal) {
  const std::string before = "[S]\nk=1\n";
  const fs::path path = write(before);
  auto file = loadOk(path);
  ASSERT_TRUE(file.setValue("S", "k", "2"));
  // A folder where the temporary file must go stops even root from writing.
  fs::create_directory(folder_ / "saalwacht.ini.tmp");
  const auto error = file.save();
  ASSERT_TRUE(error.has_value());
  EXPECT_FALSE(error->empty());
  EXPECT_EQ(read(path), before);
}

TEST_F(ProfileFileTest, RefusedWriteWhenParentIsAFile) {
  write("not a folder", "plain");
  const fs::path path = folder_ / "plain" / "saalwacht.ini";
  auto file = loadOk(path);  // nothing there to read: an empty profile
  ASSERT_TRUE(file.setValue("S", "k", "v"));
  EXPECT_TRUE(file.save().has_value());
  EXPECT_EQ(read(folder_ / "plain"), "not a folder");
}

}  // namespace
}  // namespace saalwacht::console

#pragma once
// A Windows profile file ("INI file"), read and written by the rules of the
// Windows profile-file functions, on every platform.
//
// Reading rules:
// - "[Name]" starts a section; "key=value" lines belong to the last section
//   above them. Lines before the first section, lines starting with ';' and
//   lines without '=' are ignored.
// - Blanks (spaces, tabs) around section names, keys and values are dropped;
//   then one pair of matching double or single quotes around a value.
// - Section and key names match without regard to case: ASCII letters and
//   the Latin-1 letters U+00C0..U+00DE (Ä, Ö, Ü, ...) are folded to lower
//   case; other characters (ß, letters outside Latin-1) must match exactly.
// - When a section occurs twice, only the first one is read and written;
//   when a key occurs twice in it, the first line wins.
//
// Encoding: a file whose bytes are valid UTF-8 is read as UTF-8 (a byte
// order mark is kept); any other file as Windows-1252. All text going in and
// out of this class is UTF-8. Changed lines are written in the file's own
// encoding; in a Windows-1252 file a character outside the code page
// becomes '?'. Untouched lines are written back byte for byte.
//
// Not thread-safe; a ProfileFile is a plain value owned by its user.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace saalwacht::console {

enum class ProfileEncoding {
  Utf8,
  Utf8WithByteOrderMark,
  Windows1252,
};

// The file exists but cannot be read (a folder in its place, no permission);
// `message` names the file, in German, as the teacher reads it.
struct ProfileLoadError {
  std::string message;
};

class ProfileFile {
 public:
  // Reads the file. A missing file gives an empty profile that save() will
  // create as UTF-8.
  static std::variant<ProfileFile, ProfileLoadError> load(
      const std::filesystem::path& path);

  const std::filesystem::path& path() const { return path_; }
  ProfileEncoding encoding() const { return encoding_; }

  // The value of `key` in `section`, or nothing when either is missing.
  std::optional<std::string> value(std::string_view section,
                                   std::string_view key) const;
  std::string value(std::string_view section, std::string_view key,
                    std::string_view fallback) const;

  // The keys of `section` in file order, each once, spelled as at their
  // first line. Empty for a missing section.
  std::vector<std::string> keys(std::string_view section) const;
  bool hasSection(std::string_view section) const;

  // Changes the value in memory: on the key's line, else in a new line at the
  // end of the section, else in a new section at the end of the file. Values
  // that reading would alter (surrounding blanks or quotes) are written in
  // double quotes so they read back unchanged. Returns false, changing
  // nothing, for what a profile line cannot hold: a line break anywhere, an
  // empty name, ']' in a section name, '=' in a key or a key starting with
  // ';' or '['.
  bool setValue(std::string_view section, std::string_view key,
                std::string_view value);
  // Whether setValue() can write `value`: it holds no line break.
  static bool canHoldValue(std::string_view value);

  // Writes the whole file to "<name>.tmp" in the same folder and renames it
  // over the original, so the file is always either the old or the new one.
  // Returns nothing on success, otherwise a description of what failed; the
  // original file is then unchanged.
  std::optional<std::string> save() const;

 private:
  enum class LineKind { Other, Section, Key };

  struct Line {
    std::string raw;      // the bytes as read, without the line ending
    std::string text;     // UTF-8 text of the line
    std::string ending;   // "\r\n", "\n" or "" for a last line without one
    bool changed = false; // written from `text` instead of `raw`
    LineKind kind = LineKind::Other;
    std::string name;     // section or key name, trimmed
    std::size_t valueStart = 0;  // offset in `text` where the value starts
  };

  struct Span {
    std::size_t begin;  // the section's header line
    std::size_t end;    // one past its last line
  };

  ProfileFile() = default;

  static void classify(Line& line);
  static std::string readValue(const Line& line);
  std::optional<Span> findSection(std::string_view section) const;
  std::optional<std::size_t> findKey(const Span& span,
                                     std::string_view key) const;
  std::string newLineEnding() const;
  void insertLine(std::size_t index, std::string text);
  std::string roundTrip(std::string text) const;

  std::filesystem::path path_;
  ProfileEncoding encoding_ = ProfileEncoding::Utf8;
  std::vector<Line> lines_;
};

}  // namespace saalwacht::console

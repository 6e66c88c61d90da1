#include "console/core/profile_file.h"

#include "platform/system.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

#include "protocol/cp1252.h"

namespace saalwacht::console {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool isQuote(char c) { return c == '"' || c == '\''; }

bool isQuoted(std::string_view s) {
  return s.size() >= 2 && isQuote(s.front()) && s.front() == s.back();
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, so
// that a Windows-1252 file with umlauts is never mistaken for UTF-8.
bool isValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    std::size_t length;
    char32_t cp;
    if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3;
      cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4;
      cp = b & 0x07;
    } else {
      return false;
    }
    if (i + length > s.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if ((length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000) ||
        (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
      return false;
    }
    i += length;
  }
  return true;
}

// Windows compares profile names with the locale's case rules; folding ASCII
// and the Latin-1 capitals covers the German names we meet (Ä, Ö, Ü).
std::string foldCase(std::string_view s) {
  std::string out(s);
  for (std::size_t i = 0; i < out.size(); ++i) {
    auto& c = reinterpret_cast<unsigned char&>(out[i]);
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<unsigned char>(c + 0x20);
    } else if (c == 0xC3 && i + 1 < out.size()) {
      auto& next = reinterpret_cast<unsigned char&>(out[i + 1]);
      // U+00C0..U+00DE without U+00D7 (multiplication sign).
      if (next >= 0x80 && next <= 0x9E && next != 0x97) {
        next = static_cast<unsigned char>(next + 0x20);
      }
      ++i;
    }
  }
  return out;
}

bool sameName(std::string_view a, std::string_view b) {
  return foldCase(a) == foldCase(b);
}

bool hasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

// A value that reading would change is wrapped in double quotes; reading
// strips exactly that pair again.
std::string encodeValue(std::string_view value) {
  const bool needsQuotes =
      !value.empty() && (isBlank(value.front()) || isBlank(value.back()) ||
                         isQuoted(value));
  if (!needsQuotes) return std::string(value);
  return "\"" + std::string(value) + "\"";
}

}  // namespace

std::variant<ProfileFile, ProfileLoadError> ProfileFile::load(
    const fs::path& path) {
  ProfileFile file;
  file.path_ = path;

  std::error_code ec;
  const auto status = fs::status(path, ec);
  if (status.type() == fs::file_type::not_found) return file;
  if (ec) {
    return ProfileLoadError{path.string() + " kann nicht gelesen werden"};
  }
  if (status.type() != fs::file_type::regular) {
    return ProfileLoadError{path.string() + " ist keine Datei"};
  }

  std::ifstream in(path, std::ios::binary);
  if (!in) return ProfileLoadError{path.string() + " kann nicht geöffnet werden"};
  std::string bytes((std::istreambuf_iterator<char>(in)),
                    std::istreambuf_iterator<char>());
  if (in.bad()) return ProfileLoadError{path.string() + " kann nicht gelesen werden"};

  std::string_view content = bytes;
  if (isValidUtf8(content)) {
    if (content.starts_with(kByteOrderMark)) {
      file.encoding_ = ProfileEncoding::Utf8WithByteOrderMark;
      content.remove_prefix(kByteOrderMark.size());
    }
  } else {
    file.encoding_ = ProfileEncoding::Windows1252;
  }

  while (!content.empty()) {
    Line line;
    const auto newline = content.find('\n');
    std::string_view body = content.substr(0, newline);
    if (newline == std::string_view::npos) {
      content = {};
    } else {
      content.remove_prefix(newline + 1);
      line.ending = "\n";
      if (body.ends_with('\r')) {
        body.remove_suffix(1);
        line.ending = "\r\n";
      }
    }
    line.raw = std::string(body);
    line.text = file.encoding_ == ProfileEncoding::Windows1252
                    ? protocol::cp1252ToUtf8(body)
                    : line.raw;
    classify(line);
    file.lines_.push_back(std::move(line));
  }
  return file;
}

void ProfileFile::classify(Line& line) {
  line.kind = LineKind::Other;
  line.name.clear();
  line.valueStart = 0;

  const std::string_view text = trim(line.text);
  if (text.empty() || text.front() == ';') return;
  if (text.front() == '[') {
    // A header without its closing bracket runs to the end of the line.
    const std::string_view inner = text.substr(1);
    line.kind = LineKind::Section;
    line.name = std::string(trim(inner.substr(0, inner.find(']'))));
    return;
  }
  const auto equals = text.find('=');
  if (equals == std::string_view::npos) return;
  const std::string_view key = trim(text.substr(0, equals));
  if (key.empty()) return;
  line.kind = LineKind::Key;
  line.name = std::string(key);

  std::size_t start = line.text.find('=') + 1;
  while (start < line.text.size() && isBlank(line.text[start])) ++start;
  line.valueStart = start;
}

std::string ProfileFile::readValue(const Line& line) {
  std::string_view value = trim(std::string_view(line.text).substr(line.valueStart));
  if (isQuoted(value)) value = value.substr(1, value.size() - 2);
  return std::string(value);
}

std::optional<ProfileFile::Span> ProfileFile::findSection(
    std::string_view section) const {
  section = trim(section);
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind != LineKind::Section || !sameName(lines_[i].name, section)) {
      continue;
    }
    std::size_t end = i + 1;
    while (end < lines_.size() && lines_[end].kind != LineKind::Section) ++end;
    return Span{i, end};
  }
  return std::nullopt;
}

std::optional<std::size_t> ProfileFile::findKey(const Span& span,
                                                std::string_view key) const {
  key = trim(key);
  for (std::size_t i = span.begin + 1; i < span.end; ++i) {
    if (lines_[i].kind == LineKind::Key && sameName(lines_[i].name, key)) {
      return i;
    }
  }
  return std::nullopt;
}

std::optional<std::string> ProfileFile::value(std::string_view section,
                                              std::string_view key) const {
  const auto span = findSection(section);
  if (!span) return std::nullopt;
  const auto index = findKey(*span, key);
  if (!index) return std::nullopt;
  return readValue(lines_[*index]);
}

std::string ProfileFile::value(std::string_view section, std::string_view key,
                               std::string_view fallback) const {
  return value(section, key).value_or(std::string(fallback));
}

std::vector<std::string> ProfileFile::keys(std::string_view section) const {
  std::vector<std::string> result;
  const auto span = findSection(section);
  if (!span) return result;
  std::vector<std::string> folded;
  for (std::size_t i = span->begin + 1; i < span->end; ++i) {
    if (lines_[i].kind != LineKind::Key) continue;
    auto key = foldCase(lines_[i].name);
    if (std::find(folded.begin(), folded.end(), key) != folded.end()) continue;
    folded.push_back(std::move(key));
    result.push_back(lines_[i].name);
  }
  return result;
}

bool ProfileFile::hasSection(std::string_view section) const {
  return findSection(section).has_value();
}

std::string ProfileFile::newLineEnding() const {
  for (const auto& line : lines_) {
    if (!line.ending.empty()) return line.ending;
  }
  // What the Windows functions write.
  return "\r\n";
}

// In a Windows-1252 file, what is held in memory must be what will be read
// back, '?' for characters the code page lacks included.
std::string ProfileFile::roundTrip(std::string text) const {
  if (encoding_ != ProfileEncoding::Windows1252) return text;
  return protocol::cp1252ToUtf8(protocol::utf8ToCp1252(text));
}

void ProfileFile::insertLine(std::size_t index, std::string text) {
  const std::string ending = newLineEnding();
  if (index > 0 && lines_[index - 1].ending.empty()) {
    lines_[index - 1].ending = ending;
  }
  Line line;
  line.text = roundTrip(std::move(text));
  line.ending = ending;
  line.changed = true;
  classify(line);
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(index),
                std::move(line));
}

bool ProfileFile::canHoldValue(std::string_view value) { return !hasLineBreak(value); }

bool ProfileFile::setValue(std::string_view section, std::string_view key,
                           std::string_view value) {
  section = trim(section);
  key = trim(key);
  if (section.empty() || key.empty() || hasLineBreak(section) ||
      hasLineBreak(key) || !canHoldValue(value) ||
      section.find(']') != std::string_view::npos ||
      key.find('=') != std::string_view::npos || key.front() == ';' ||
      key.front() == '[') {
    return false;
  }

  const std::string encoded = encodeValue(value);
  const auto span = findSection(section);
  if (!span) {
    insertLine(lines_.size(), "[" + std::string(section) + "]");
    insertLine(lines_.size(), std::string(key) + "=" + encoded);
    return true;
  }

  if (const auto index = findKey(*span, key)) {
    Line& line = lines_[*index];
    // Leave the line alone when it already says this, keeping its bytes.
    if (readValue(line) == roundTrip(std::string(value))) return true;
    line.text = roundTrip(line.text.substr(0, line.valueStart) + encoded);
    line.changed = true;
    classify(line);
    return true;
  }

  // After the section's last non-blank line, so that blank lines separating
  // it from the next section stay where they are.
  std::size_t insertAt = span->begin + 1;
  for (std::size_t i = span->begin + 1; i < span->end; ++i) {
    if (!trim(lines_[i].text).empty()) insertAt = i + 1;
  }
  insertLine(insertAt, std::string(key) + "=" + encoded);
  return true;
}

std::optional<std::string> ProfileFile::save() const {
  std::string bytes;
  if (encoding_ == ProfileEncoding::Utf8WithByteOrderMark) {
    bytes += kByteOrderMark;
  }
  for (const auto& line : lines_) {
    if (!line.changed) {
      bytes += line.raw;
    } else if (encoding_ == ProfileEncoding::Windows1252) {
      bytes += protocol::utf8ToCp1252(line.text);
    } else {
      bytes += line.text;
    }
    bytes += line.ending;
  }

  return platform::replaceFile(path_, bytes);
}

}  // namespace saalwacht::console

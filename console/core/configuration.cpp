#include "console/core/configuration.h"

#include <algorithm>
#include <limits>

namespace saalwacht::console {
namespace {

constexpr std::string_view kRoom = "Raum";
constexpr std::string_view kCommands = "Befehle";
constexpr std::string_view kSettings = "Einstellungen";
constexpr std::string_view kInternet = "Internetfreigabe";
constexpr std::string_view kShown = "anzeigen";
constexpr std::string_view kHidden = "ausblenden";

std::string positionText(const SeatPosition& position) {
  return std::to_string(position.left) + "," + std::to_string(position.top);
}

class Reader {
 public:
  explicit Reader(const ProfileFile& profile) : profile_(profile) {}

  std::string text(std::string_view section, std::string_view key, std::string_view fallback) const {
    return profile_.value(section, key, fallback);
  }

  // False (and `error` set) when the value is not a decimal number.
  bool integer(std::string_view section, std::string_view key, std::string_view fallback, int& out) {
    const std::string value = text(section, key, fallback);
    if (auto number = parseDecimal(value)) {
      out = *number;
      return true;
    }
    error = ConversionError{std::string(section), std::string(key), value};
    return false;
  }

  ConversionError error;

 private:
  const ProfileFile& profile_;
};

bool readRoom(Reader& reader, RoomPlan& plan) {
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    const std::string number = std::to_string(seat);
    auto& name = plan.names[seat - 1];
    auto& position = plan.positions[seat - 1];
    name = reader.text(kRoom, "rechnername" + number, "");
    position = defaultSeatPosition(seat);
    if (name.empty()) continue;
    const std::string key = "position_rechner" + number;
    const std::string value = reader.text(kRoom, key, positionText(position));
    const auto comma = value.find(',');
    const auto left = parseDecimal(std::string_view(value).substr(0, comma));
    const auto top = comma == std::string::npos ? std::nullopt
                                                : parseDecimal(std::string_view(value).substr(comma + 1));
    if (!left || !top) {
      reader.error = ConversionError{std::string(kRoom), key, value};
      return false;
    }
    position = {*left, *top};
  }
  return true;
}

}  // namespace

std::string ConversionError::message() const {
  return "\"" + value + "\" ist kein gültiger ganzzahliger Wert (" + key + " in [" + section + "] der Datei " +
         kConfigurationFileName + ").";
}

std::optional<int> parseDecimal(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
  text.remove_prefix(start);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > static_cast<long long>(std::numeric_limits<int>::max()) + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min()) return std::nullopt;
  return static_cast<int>(value);
}

std::variant<RoomPlan, ConversionError> loadRoomPlan(const ProfileFile& profile) {
  Reader reader(profile);
  RoomPlan plan;
  if (!readRoom(reader, plan)) return reader.error;
  return plan;
}

std::variant<Configuration, ConversionError> loadConfiguration(const ProfileFile& profile) {
  Reader reader(profile);
  Configuration config;
  config.windowTitle = reader.text("Language", "Head", kDefaultWindowTitle);
  if (!readRoom(reader, config.room)) return reader.error;

  auto& c = config.commands;
  if (!reader.integer(kCommands, "TimeToWait_before_sending_teachermonitor_to_next_pupil", "100",
                      c.teacherHandOverWaitMs)) {
    return reader.error;
  }
  // A pause below none would never end; it is held at none.
  c.teacherHandOverWaitMs = std::max(c.teacherHandOverWaitMs, 0);
  c.teacherToStudentProgram = reader.text(kCommands, "Lehrermonitor_an_Schuelermonitor_schicken_befehl", "0");
  c.teacherToStudentParameters = reader.text(kCommands, "Lehrermonitor_an_Schuelermonitor_schicken_parameter", "0");
  c.scalingSmall = reader.text(kCommands, "Skalierung_klein", "0");
  c.scalingMedium = reader.text(kCommands, "Skalierung_mittel", "0");
  c.scalingLarge = reader.text(kCommands, "Skalierung_gross", "0");
  c.viewerProgram = reader.text(kCommands, "Schuelermonitor_holen_befehl", "0");
  c.viewerPort = reader.text(kCommands, "Schuelermonitor_holen_port", "0");
  c.viewParameters = reader.text(kCommands, "Schuelermonitor_holen_parameter", "0");
  c.controlParameters = reader.text(kCommands, "Schuelermonitor_holenfernsteuern_parameter", "0");
  c.serverProgram = reader.text(kCommands, "Server_starten_befehl", "0");
  c.serverParameters = reader.text(kCommands, "Server_starten_parameter", "0");

  auto& s = config.settings;
  const std::string windowSize = reader.text(kSettings, "WindowSize", "Normal");
  s.windowSize = windowSize == "Normal"       ? WindowSizeSetting::Normal
                 : windowSize == "Fullscreen" ? WindowSizeSetting::Fullscreen
                                              : WindowSizeSetting::Neither;
  int preset = 2;
  if (!reader.integer(kSettings, "Bildgroesse_fuer_Schuelermonitor_holen", "2", preset)) return reader.error;
  s.picturePreset = (preset >= 1 && preset <= 3) ? preset : 2;
  int zoom = kMinThumbnailZoom;
  if (!reader.integer(kSettings, "Groesse_der_Miniaturbilder", "7", zoom)) return reader.error;
  // The zoom control cannot show a value outside its range; hold the nearest one.
  s.thumbnailZoom = std::clamp(zoom, kMinThumbnailZoom, kMaxThumbnailZoom);
  s.roomName = reader.text(kSettings, "Raumbezeichnung", "Raum ???");
  s.backgroundPicture = reader.text(kSettings, "Raumplanhintergrundbild", "");
  s.thumbnails = reader.text(kSettings, "Miniaturbilder", kShown) == kShown;
  s.thumbnailMenu = reader.text(kSettings, "Button_Miniaturbilder_einausblenden", kShown) == kShown;
  s.internetButton = reader.text(kSettings, "Internetfreigabebutton", kShown) == kShown;

  auto& i = config.internet;
  i.releaseProgram = reader.text(kInternet, "Internetfreigabebefehl", "");
  i.releaseParameters = reader.text(kInternet, "Internetfreigabeparameter", "");
  i.lockProgram = reader.text(kInternet, "Internetsperrbefehl", "");
  i.lockParameters = reader.text(kInternet, "Internetsperrparameter", "");
  return config;
}

void storeRoomPlan(ProfileFile& profile, const RoomPlan& plan) {
  for (int seat = 1; seat <= kSeatCount; ++seat) {
    const std::string number = std::to_string(seat);
    // A name with a line break cannot be stored; such a seat keeps its old line.
    profile.setValue(kRoom, "rechnername" + number, plan.names[seat - 1]);
    profile.setValue(kRoom, "position_rechner" + number, positionText(plan.positions[seat - 1]));
  }
}

void storeSettings(ProfileFile& profile, const Settings& s) {
  if (s.windowSize == WindowSizeSetting::Normal) profile.setValue(kSettings, "WindowSize", "Normal");
  if (s.windowSize == WindowSizeSetting::Fullscreen) profile.setValue(kSettings, "WindowSize", "Fullscreen");
  profile.setValue(kSettings, "Bildgroesse_fuer_Schuelermonitor_holen", std::to_string(s.picturePreset));
  profile.setValue(kSettings, "Raumbezeichnung", s.roomName);
  profile.setValue(kSettings, "Raumplanhintergrundbild", s.backgroundPicture);
  profile.setValue(kSettings, "Groesse_der_Miniaturbilder", std::to_string(s.thumbnailZoom));
  profile.setValue(kSettings, "Miniaturbilder", s.thumbnails ? kShown : kHidden);
  profile.setValue(kSettings, "Button_Miniaturbilder_einausblenden", s.thumbnailMenu ? kShown : kHidden);
  profile.setValue(kSettings, "Internetfreigabebutton", s.internetButton ? kShown : kHidden);
}

std::optional<std::string> saveConfiguration(const ProfileFile& profile) {
  if (!profile.save()) return std::nullopt;
  return "In " + profile.path().string() + " kann nicht geschrieben werden";
}

std::optional<std::string> updateConfiguration(const std::filesystem::path& path,
                                               const std::function<void(ProfileFile&)>& change) {
  auto loaded = ProfileFile::load(path);
  auto* profile = std::get_if<ProfileFile>(&loaded);
  if (!profile) return "In " + path.string() + " kann nicht geschrieben werden";
  change(*profile);
  return saveConfiguration(*profile);
}

}  // namespace saalwacht::console

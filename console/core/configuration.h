#pragma once
// The console's configuration file saalwacht.ini: its sections, keys and
// defaults, read into plain values and written back. Texts of [Language]
// are read by interface_texts.h.
//
// Pure C++ on top of ProfileFile; the caller owns the ProfileFile.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "console/core/profile_file.h"
#include "console/seat_plan.h"

namespace saalwacht::console {

inline constexpr const char* kConfigurationFileName = "saalwacht.ini";

// A value that must be a decimal integer but is not. What the teacher sees is
// message(): it names the key and the value.
struct ConversionError {
  std::string section;
  std::string key;
  std::string value;
  std::string message() const;
};

struct RoomPlan {
  SeatNames names;
  // Positions of named seats; unnamed seats keep their default.
  std::array<SeatPosition, kSeatCount> positions;
};

// [Befehle]: command texts of the VNC programs. Every text defaults to "0".
struct CommandTexts {
  int teacherHandOverWaitMs = 100;  // TimeToWait_before_sending_teachermonitor_to_next_pupil, 0 or more
  std::string teacherToStudentProgram = "0";     // Lehrermonitor_an_Schuelermonitor_schicken_befehl
  std::string teacherToStudentParameters = "0";  // Lehrermonitor_an_Schuelermonitor_schicken_parameter
  std::string scalingSmall = "0";                // Skalierung_klein
  std::string scalingMedium = "0";               // Skalierung_mittel
  std::string scalingLarge = "0";                // Skalierung_gross
  std::string viewerProgram = "0";               // Schuelermonitor_holen_befehl
  std::string viewerPort = "0";                  // Schuelermonitor_holen_port
  std::string viewParameters = "0";              // Schuelermonitor_holen_parameter
  std::string controlParameters = "0";           // Schuelermonitor_holenfernsteuern_parameter
  std::string serverProgram = "0";               // Server_starten_befehl
  std::string serverParameters = "0";            // Server_starten_parameter
};

enum class WindowSizeSetting { Normal, Fullscreen, Neither };

// [Einstellungen].
struct Settings {
  WindowSizeSetting windowSize = WindowSizeSetting::Normal;
  int picturePreset = 2;            // 1 small, 2 medium, 3 large
  int thumbnailZoom = 7;            // 7..35
  std::string roomName = "Raum ???";
  std::string backgroundPicture;    // full path of a JPEG file, or empty
  bool thumbnails = true;           // Miniaturbilder == "anzeigen"
  bool thumbnailMenu = true;        // Button_Miniaturbilder_einausblenden == "anzeigen"
  bool internetButton = true;       // Internetfreigabebutton == "anzeigen"
};
inline constexpr int kMinThumbnailZoom = 7;
inline constexpr int kMaxThumbnailZoom = 35;

// [Internetfreigabe]; the console never writes it.
struct InternetCommands {
  std::string releaseProgram;     // Internetfreigabebefehl
  std::string releaseParameters;  // Internetfreigabeparameter
  std::string lockProgram;        // Internetsperrbefehl
  std::string lockParameters;     // Internetsperrparameter
};

struct Configuration {
  RoomPlan room;
  CommandTexts commands;
  Settings settings;
  InternetCommands internet;
  std::string windowTitle;  // [Language] Head
};

inline constexpr std::string_view kDefaultWindowTitle = "Saalwacht";

// "Raum" only: names and, for named seats, positions ("left,top").
std::variant<RoomPlan, ConversionError> loadRoomPlan(const ProfileFile& profile);

// Every section but [Language] texts (which interface_texts.h reads), in the
// order the console reads them; the first bad integer stops the load.
std::variant<Configuration, ConversionError> loadConfiguration(const ProfileFile& profile);

// Sets every [Raum] key of the 48 seats: name and "left,top" of each seat,
// also of seats without a name.
void storeRoomPlan(ProfileFile& profile, const RoomPlan& plan);

// Sets the [Einstellungen] keys; WindowSize only when `windowSize` is
// Normal or Fullscreen (a minimized window writes none).
void storeSettings(ProfileFile& profile, const Settings& settings);

// Saves the file; on failure "In <path> kann nicht geschrieben werden".
std::optional<std::string> saveConfiguration(const ProfileFile& profile);

// One writing pass: reads the file at `path` afresh, applies `change` and
// saves it. Returns the same error text when the file cannot be read or saved.
std::optional<std::string> updateConfiguration(const std::filesystem::path& path,
                                               const std::function<void(ProfileFile&)>& change);

// A decimal integer as the console accepts it: optional blanks before it,
// an optional sign, digits, nothing after. Nothing if it is not one or does
// not fit an int.
std::optional<int> parseDecimal(std::string_view text);

}  // namespace saalwacht::console

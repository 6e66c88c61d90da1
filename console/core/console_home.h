#pragma once
// Where the console keeps saalwacht.ini and the picture store.

#include <filesystem>
#include <optional>
#include <string>

namespace saalwacht::console {

struct HomeInputs {
  std::filesystem::path programFolder;           // folder of the executable
  std::optional<std::string> saalwachtHome;      // SAALWACHT_HOME
  std::optional<std::string> xdgConfigHome;      // XDG_CONFIG_HOME
  std::optional<std::string> home;               // HOME
};

// The folder, in this order: SAALWACHT_HOME; the program folder when a
// saalwacht.ini lies there (a portable install); $XDG_CONFIG_HOME/saalwacht;
// $HOME/.config/saalwacht; the program folder as the last resort.
std::filesystem::path chooseConsoleHome(const HomeInputs& inputs);

// Creates the folder if needed. A folder made here, or found empty, is seeded
// with a picture store: a copy of the one beside the program, else a new
// default store. A folder in use (it holds the console's key after its first
// start, or its settings) is left as it is: a store that has gone from it is the
// start's error to report, not something to make anew (that would lose the
// password without a word). Returns an error text, or nothing when the folder
// is ready.
std::optional<std::string> prepareConsoleHome(const std::filesystem::path& home,
                                              const std::filesystem::path& programFolder);

}  // namespace saalwacht::console

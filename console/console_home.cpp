#include "console/console_home.h"

#include <string_view>
#include <system_error>

#include "console/configuration.h"
#include "console/picture_store.h"
#include "platform/system.h"

namespace saalwacht::console {

namespace fs = std::filesystem;

std::filesystem::path chooseConsoleHome(const HomeInputs& inputs) {
  if (inputs.saalwachtHome) return fs::path(*inputs.saalwachtHome);
  std::error_code error;
  if (fs::is_regular_file(inputs.programFolder / kConfigurationFileName, error)) return inputs.programFolder;
  // The XDG rules ignore a relative XDG_CONFIG_HOME.
  if (inputs.xdgConfigHome && fs::path(*inputs.xdgConfigHome).is_absolute()) {
    return fs::path(*inputs.xdgConfigHome) / "saalwacht";
  }
  if (inputs.home) return fs::path(*inputs.home) / ".config" / "saalwacht";
  return inputs.programFolder;
}

std::optional<std::string> prepareConsoleHome(const fs::path& home, const fs::path& programFolder) {
  std::error_code error;
  fs::create_directories(home, error);
  if (!fs::is_directory(home, error)) {
    return "Der Ordner " + home.string() + " kann nicht angelegt werden";
  }
  const fs::path store = home / kPictureStoreFileName;
  if (fs::exists(store, error)) return std::nullopt;

  std::string bytes;
  if (auto shipped = platform::readFile(programFolder / kPictureStoreFileName)) {
    bytes = std::move(*shipped);
  } else {
    const auto made = makeDefaultPictureStore();
    bytes.assign(made.begin(), made.end());
  }
  if (auto failed = platform::replaceFile(store, bytes)) {
    return "In " + store.string() + " kann nicht geschrieben werden: " + *failed;
  }
  return std::nullopt;
}

}  // namespace saalwacht::console

#include "console/core/console_home.h"

#include <string_view>
#include <system_error>

#include "console/core/configuration.h"
#include "console/core/picture_store.h"
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
  // New: made now, or made empty for us (an admin's or a script's mkdir).
  const bool made = !fs::exists(home, error) || fs::is_empty(home, error);
  fs::create_directories(home, error);
  if (!fs::is_directory(home, error)) {
    return "Der Ordner " + home.string() + " kann nicht angelegt werden";
  }
  const fs::path store = home / kPictureStoreFileName;
  if (!made || fs::exists(store, error)) return std::nullopt;

  std::string bytes;
  if (auto shipped = platform::readFile(programFolder / kPictureStoreFileName)) {
    bytes = std::move(*shipped);
  } else {
    const auto fresh = makeDefaultPictureStore();
    bytes.assign(fresh.begin(), fresh.end());
  }
  if (platform::replaceFile(store, bytes)) return "In " + store.string() + " kann nicht geschrieben werden";
  return std::nullopt;
}

}  // namespace saalwacht::console

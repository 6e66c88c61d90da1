#include <cstdlib>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/system.h"
#include "protocol/cp1252.h"

namespace saalwacht::platform {

const std::string_view kExecutableSuffix = "";

std::filesystem::path executableDir() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::filesystem::current_path();
  return self.parent_path();
}

// Linux peers speak the code page of the German Windows PCs.
std::string toWireText(std::string_view utf8) { return protocol::utf8ToCp1252(utf8); }
std::string fromWireText(std::string_view wire) { return protocol::cp1252ToUtf8(wire); }

std::optional<std::string> environmentValue(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  return std::string(value);
}

bool readableByOthers(const std::filesystem::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && (info.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

void prepareListeningSocket(std::uintptr_t socket) {
  const int on = 1;
  ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

bool writableByOthers(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  if (info.st_mode & (S_IWGRP | S_IWOTH)) return true;
  return ::geteuid() == 0 && info.st_uid != 0;
}

}  // namespace saalwacht::platform

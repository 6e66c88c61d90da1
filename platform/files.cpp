#include <fstream>
#include <sstream>

#include "platform/system.h"

namespace saalwacht::platform {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> writeAndReplace(const fs::path& path, std::string_view bytes, bool secret) {
  fs::path temporary = path;
  temporary += ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return "cannot create " + temporary.string();
    // Closed to others before the first byte is written.
    std::error_code ignored;
    if (secret) fs::permissions(temporary, fs::perms::owner_read | fs::perms::owner_write, ignored);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      return "cannot write " + temporary.string();
    }
  }
  std::error_code ec;
  // Keep the permissions the file was given by hand.
  const auto status = fs::status(path, ec);
  if (!secret && !ec && status.type() == fs::file_type::regular) fs::permissions(temporary, status.permissions(), ec);
  fs::rename(temporary, path, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return "cannot replace " + path.string() + ": " + ec.message();
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> replaceFile(const fs::path& path, std::string_view bytes) {
  return writeAndReplace(path, bytes, false);
}

std::optional<std::string> replacePrivateFile(const fs::path& path, std::string_view bytes) {
  return writeAndReplace(path, bytes, true);
}

std::optional<std::string> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return std::move(content).str();
}

}  // namespace saalwacht::platform

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/spool.h"

namespace saalwacht::platform {

namespace {

constexpr const char* kPictureName = "screenshot.jpg";

// Empties a folder without following any link in it.
void removeEntries(const std::filesystem::path& dir) {
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dirFd < 0) return;
  if (DIR* listing = ::fdopendir(::dup(dirFd))) {
    while (const dirent* entry = ::readdir(listing)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      if (::unlinkat(dirFd, name.c_str(), 0) != 0 && errno == EISDIR) {
        std::error_code ignored;
        std::filesystem::remove_all(dir / name, ignored);
      }
    }
    ::closedir(listing);
  }
  ::close(dirFd);
}

class PosixScreenshotSpool final : public ScreenshotSpool {
 public:
  explicit PosixScreenshotSpool(const std::filesystem::path& stateDir) : dir_(stateDir / "spool") {}

  std::optional<std::filesystem::path> prepare(std::optional<unsigned> helperUser) override {
    owner_ = helperUser ? static_cast<uid_t>(*helperUser) : ::geteuid();
    std::error_code error;
    std::filesystem::create_directories(dir_.parent_path(), error);

    struct stat info {};
    if (::lstat(dir_.c_str(), &info) == 0) {
      // Anything but our own private folder (a link, a file, a folder that
      // others may write to or that belongs to someone else) is replaced.
      const bool fit = S_ISDIR(info.st_mode) && info.st_uid == owner_ && (info.st_mode & 077) == 0;
      if (!fit) {
        if (S_ISDIR(info.st_mode)) {
          std::filesystem::remove_all(dir_, error);
        } else {
          ::unlink(dir_.c_str());
        }
      }
    }
    if (::mkdir(dir_.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
    if (::lstat(dir_.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
    if (info.st_uid != owner_ && ::lchown(dir_.c_str(), owner_, static_cast<gid_t>(-1)) != 0) return std::nullopt;
    ::chmod(dir_.c_str(), 0700);
    removeEntries(dir_);
    return dir_ / kPictureName;
  }

  std::optional<std::string> collect(std::size_t maxBytes) override {
    const auto path = dir_ / kPictureName;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> content;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == owner_ && info.st_nlink == 1 &&
        static_cast<std::size_t>(info.st_size) <= maxBytes) {
      std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
      std::size_t done = 0;
      while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
      }
      if (done == bytes.size()) content = std::move(bytes);
    }
    ::close(fd);
    ::unlink(path.c_str());
    return content;
  }

 private:
  std::filesystem::path dir_;
  uid_t owner_ = ::geteuid();
};

}  // namespace

std::unique_ptr<ScreenshotSpool> createScreenshotSpool(const std::filesystem::path& stateDir) {
  return std::make_unique<PosixScreenshotSpool>(stateDir);
}

}  // namespace saalwacht::platform

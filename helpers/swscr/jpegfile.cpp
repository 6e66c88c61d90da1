#include "jpegfile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace saalwacht::swscr {

std::string normaliseOutputPath(std::string path) {
  if (!path.empty() && path.front() == '"') path.erase(0, 1);
  if (!path.empty() && path.back() == '"') path.pop_back();
  return path;
}

bool writeFileAtomically(const std::string& path, const std::vector<std::uint8_t>& data,
                         std::string& error) {
  if (path.empty()) {
    error = "empty output path";
    return false;
  }
  const std::string temp = path + ".tmp-" + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = "cannot create " + temp + ": " + std::strerror(errno);
    return false;
  }

  auto fail = [&](const std::string& what) {
    error = what + " " + temp + ": " + std::strerror(errno);
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  };

  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("cannot write");
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) {
    error = std::string("cannot write ") + temp + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    error = "cannot rename " + temp + " to " + path + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace saalwacht::swscr

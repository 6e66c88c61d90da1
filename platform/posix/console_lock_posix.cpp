#include <fcntl.h>
#include <linux/vt.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/console_lock.h"

namespace saalwacht::platform {

namespace {

// VT_LOCKSWITCH holds for the whole system until VT_UNLOCKSWITCH, whoever
// asks; it needs CAP_SYS_TTY_CONFIG, so only a service run as root has it.
class VtSwitchLock final : public ConsoleSwitchLock {
 public:
  explicit VtSwitchLock(std::filesystem::path device) : device_(std::move(device)) {}
  ~VtSwitchLock() override { unlock(); }

  std::optional<std::string> lock() override {
    if (locked_) return std::nullopt;
    const int fd = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return device_.string() + ": " + std::strerror(errno);
    const bool ok = ::ioctl(fd, VT_LOCKSWITCH, 0) == 0;
    const int error = errno;
    ::close(fd);
    if (!ok) return device_.string() + ": terminal switching cannot be locked (" + std::strerror(error) + ")";
    locked_ = true;
    return std::nullopt;
  }

  void unlock() override {
    if (!locked_) return;
    const int fd = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return;
    ::ioctl(fd, VT_UNLOCKSWITCH, 0);
    ::close(fd);
    locked_ = false;
  }

  bool locked() const override { return locked_; }

 private:
  std::filesystem::path device_;
  bool locked_ = false;
};

}  // namespace

std::unique_ptr<ConsoleSwitchLock> createConsoleSwitchLock(std::optional<std::filesystem::path> device) {
  return std::make_unique<VtSwitchLock>(device.value_or("/dev/tty0"));
}

}  // namespace saalwacht::platform

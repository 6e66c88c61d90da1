#include "service/blanking_supervisor.h"

#include <fstream>

namespace saalwacht::service {

namespace {

using Clock = std::chrono::steady_clock;

// A blanker that ends this soon after its start ended by itself (no display,
// a broken installation): after the first such end it is started again more
// slowly, and after a few only by the periodic check, so that nothing spins.
constexpr auto kQuickEnd = std::chrono::milliseconds(500);
constexpr int kQuickEndsBeforeBackingOff = 3;

}  // namespace

BlankingSupervisor::BlankingSupervisor(Parts parts) : parts_(std::move(parts)), restart_(parts_.io) {}

BlankingSupervisor::~BlankingSupervisor() { parts_.switchLock.unlock(); }

bool BlankingSupervisor::blankerRunning() const { return blanker_ && !blanker_->hasExited() && !blanker_->stopped(); }

void BlankingSupervisor::resume() {
  if (const int ended = parts_.processes.terminateProgram(parts_.helper); ended > 0) {
    parts_.log("ended " + std::to_string(ended) + " blanking helper(s) of an earlier run");
  }
  const auto recorded = readFlagFile();
  if (recorded == true && parts_.launcher.interactiveSessionExists()) {
    blank();
  } else {
    // A lock left by a service that did not end cleanly.
    parts_.switchLock.unlock();
  }
}

void BlankingSupervisor::blank() {
  if (blankerRunning()) return;
  // A failed start is retried by the next check, because the flag says "on".
  startBlanker();
  blankFlag_ = true;
  writeFlagFile();
  lockSwitch();
}

void BlankingSupervisor::reset() {
  blankFlag_ = false;
  restart_.cancel();
  dropBlanker();
  // Also a copy of the real helper that was started by anyone else.
  parts_.processes.terminateProgram(parts_.helper);
  writeFlagFile();
  parts_.switchLock.unlock();
  quickEnds_ = 0;
}

void BlankingSupervisor::check() {
  if (blanker_ && blanker_->stopped()) {
    parts_.log("the blanking helper was stopped; it is replaced");
    dropBlanker();
  }
  if (!parts_.launcher.interactiveSessionExists()) return;
  if (blankerRunning()) return;
  if (const auto recorded = readFlagFile()) blankFlag_ = *recorded;
  if (blankFlag_) {
    quickEnds_ = 0;
    blank();
  }
}

void BlankingSupervisor::childChanged() {
  if (!blanker_ || !blanker_->stopped()) return;
  parts_.log("the blanking helper was stopped; it is replaced");
  dropBlanker();
  if (blankFlag_) startBlanker();
}

void BlankingSupervisor::startBlanker() {
  dropBlanker();
  if (parts_.launcher.sessionKind() == platform::SessionKind::Wayland) {
    // Never a silent "blanked": the X11 helper cannot cover Wayland windows.
    if (!warnedWayland_) {
      parts_.log("the student's session is a Wayland session: its screen cannot be blanked (an X11 session is needed)");
    }
    warnedWayland_ = true;
    return;
  }
  warnedWayland_ = false;
  blanker_ = parts_.launcher.launch(parts_.helper, {});
  if (!blanker_) return;
  startedAt_ = Clock::now();
  const unsigned generation = ++generation_;
  blanker_->asyncWaitForExit(parts_.io, [this, generation] { onBlankerEnded(generation); });
}

void BlankingSupervisor::onBlankerEnded(unsigned generation) {
  if (generation != generation_) return;
  const bool quick = Clock::now() - startedAt_ < kQuickEnd;
  blanker_.reset();
  if (!blankFlag_) return;
  quickEnds_ = quick ? quickEnds_ + 1 : 0;
  if (quickEnds_ > kQuickEndsBeforeBackingOff) {
    if (quickEnds_ == kQuickEndsBeforeBackingOff + 1) {
      parts_.log("the blanking helper keeps ending at once; it is tried again every 5 s");
    }
    return;
  }
  // At once: the screen is black again before the student can use it.
  restart_.expires_after(std::chrono::milliseconds(quickEnds_ > 1 ? 200 * (quickEnds_ - 1) : 0));
  restart_.async_wait([this](const asio::error_code& error) {
    if (!error && blankFlag_ && !blankerRunning()) startBlanker();
  });
}

void BlankingSupervisor::dropBlanker() {
  ++generation_;
  if (blanker_) blanker_->terminate();
  blanker_.reset();
}

void BlankingSupervisor::lockSwitch() {
  if (auto error = parts_.switchLock.lock()) {
    if (!warnedSwitch_) parts_.log("while blanked, the student can still switch terminals: " + *error);
    warnedSwitch_ = true;
  }
}

void BlankingSupervisor::writeFlagFile() const {
  // A failed write leaves only the in-memory flag; nothing to report to.
  std::ofstream out(parts_.flagFile, std::ios::binary | std::ios::trunc);
  out << (blankFlag_ ? '1' : '0');
}

std::optional<bool> BlankingSupervisor::readFlagFile() const {
  std::ifstream in(parts_.flagFile, std::ios::binary);
  long value = -1;
  if (!(in >> value)) return std::nullopt;
  if (value == 0) return false;
  if (value == 1) return true;
  return std::nullopt;
}

}  // namespace saalwacht::service

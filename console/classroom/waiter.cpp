#include "console/classroom/waiter.h"

namespace saalwacht::console {

Waiter::Waiter(QObject* parent) : QObject(parent) {
  poll_.setInterval(20);
  deadline_.setSingleShot(true);
  connect(&poll_, &QTimer::timeout, this, [this] {
    if (done_ && done_()) finish(true);
  });
  connect(&deadline_, &QTimer::timeout, this, [this] { finish(done_ && done_()); });
}

void Waiter::until(std::function<bool()> done, std::chrono::milliseconds bound, std::function<void(bool)> then) {
  cancel();
  done_ = std::move(done);
  then_ = std::move(then);
  waiting_ = true;
  // The first look comes on the next turn, so a condition that already holds
  // costs no poll interval.
  QTimer::singleShot(0, this, [this, generation = generation_] {
    if (generation == generation_ && waiting_ && done_ && done_()) finish(true);
  });
  poll_.start();
  deadline_.start(std::max(bound, std::chrono::milliseconds(0)));
}

void Waiter::pause(std::chrono::milliseconds duration, std::function<void()> then) {
  cancel();
  then_ = [then = std::move(then)](bool) { then(); };
  waiting_ = true;
  deadline_.start(std::max(duration, std::chrono::milliseconds(0)));
}

void Waiter::cancel() {
  ++generation_;
  poll_.stop();
  deadline_.stop();
  done_ = nullptr;
  then_ = nullptr;
  waiting_ = false;
}

void Waiter::finish(bool reached) {
  // The step may start the next wait on this same Waiter.
  auto then = std::move(then_);
  cancel();
  if (then) then(reached);
}

}  // namespace saalwacht::console

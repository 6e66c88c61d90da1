#pragma once
// Waits as steps on the one event loop. While a Waiter waits, the loop goes on
// serving timers, sockets and input; nothing is re-entered, and the step that
// follows runs on a later turn of the loop, where it must look again at the
// world it needs (its seat, the lock, the console not closing).
//
// A Waiter belongs to the object whose step it holds (its parent): destroying
// it, cancel() or a new wait drops the pending step. Window thread only.

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>

namespace saalwacht::console {

class Waiter : public QObject {
  Q_OBJECT
 public:
  explicit Waiter(QObject* parent);

  // Runs `then(true)` once `done()` holds (looked at now and every 20 ms),
  // or `then(false)` when `bound` has passed first.
  void until(std::function<bool()> done, std::chrono::milliseconds bound, std::function<void(bool)> then);
  // Runs `then()` after `duration`; a duration of 0 or less means the next turn of the loop.
  void pause(std::chrono::milliseconds duration, std::function<void()> then);

  void cancel();
  bool waiting() const { return waiting_; }
  // Changes with every wait begun and every cancel: a step that showed a
  // modal message compares it to learn whether it was dropped meanwhile.
  unsigned stamp() const { return generation_; }

 private:
  void finish(bool reached);

  QTimer poll_;
  QTimer deadline_;
  std::function<bool()> done_;
  std::function<void(bool)> then_;
  bool waiting_ = false;
  unsigned generation_ = 0;
};

}  // namespace saalwacht::console

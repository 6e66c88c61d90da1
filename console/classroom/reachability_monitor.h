#pragma once
// Runs echo tests one at a time on a worker thread and hands each result to
// the window thread. Results of checks started before the last stop() are
// dropped, so at most one chain of checks is ever alive.

#include <QObject>
#include <QString>
#include <QThread>
#include <atomic>

namespace saalwacht::platform {
class EchoTest;
}

namespace saalwacht::console {

class ReachabilityMonitor : public QObject {
  Q_OBJECT
 public:
  // `echo` is used only on the worker thread and must outlive the monitor.
  explicit ReachabilityMonitor(platform::EchoTest& echo, QObject* parent = nullptr);
  ~ReachabilityMonitor() override;

  // Starts one check of `name`; checked() follows on the window thread.
  void check(const QString& name);
  // Drops the result of every check started so far.
  void stop();
  // A check is under way whose result will be delivered.
  bool checking() const { return checking_; }

 signals:
  void checked(const QString& name, bool reachable);

 private:
  platform::EchoTest& echo_;
  QThread thread_;
  QObject* worker_;
  std::atomic<unsigned> generation_{0};
  bool checking_ = false;
};

}  // namespace saalwacht::console

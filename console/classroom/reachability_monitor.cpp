#include "console/classroom/reachability_monitor.h"

#include "platform/echo.h"

namespace saalwacht::console {

ReachabilityMonitor::ReachabilityMonitor(platform::EchoTest& echo, QObject* parent)
    : QObject(parent), echo_(echo), worker_(new QObject) {
  thread_.setObjectName(QStringLiteral("TPing"));
  worker_->moveToThread(&thread_);
  connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
  thread_.start();
}

ReachabilityMonitor::~ReachabilityMonitor() {
  stop();
  thread_.quit();
  thread_.wait();
}

void ReachabilityMonitor::check(const QString& name) {
  const unsigned generation = generation_;
  checking_ = true;
  QMetaObject::invokeMethod(worker_, [this, name, generation] {
    // Stale checks are skipped without sending anything.
    if (generation != generation_) return;
    bool reachable = false;
    try {
      reachable = echo_.averageRoundTripMs(name.toStdString()) >= 0;
    } catch (...) {
      reachable = false;
    }
    QMetaObject::invokeMethod(this, [this, name, generation, reachable] {
      if (generation != generation_) return;
      checking_ = false;
      emit checked(name, reachable);
    }, Qt::QueuedConnection);
  }, Qt::QueuedConnection);
}

void ReachabilityMonitor::stop() {
  ++generation_;
  checking_ = false;
}

}  // namespace saalwacht::console

#include "console/classroom/internet_access.h"

#include <QAbstractButton>
#include <QFileInfo>

#include "console/classroom/action_lock.h"
#include "console/classroom/program_starter.h"
#include "platform/processes.h"

namespace saalwacht::console {
namespace {

QString q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

InternetAccess::InternetAccess(Buttons buttons, ProgramStarter& starter, platform::ProcessControl& processes,
                               ActionLock& lock, QObject* parent)
    : QObject(parent), buttons_(std::move(buttons)), starter_(starter), processes_(processes), actionLock_(lock) {
  poll_.setObjectName(QStringLiteral("internetfreigabeprozessabfragetimer"));
  poll_.setInterval(10000);
  connect(&poll_, &QTimer::timeout, this, [this] {
    if (buttons_.shown()) check();
  });
  poll_.start();
}

QString InternetAccess::processName() const { return QFileInfo(q(commands_.lockProgram)).fileName(); }

void InternetAccess::showAtStart(bool shown) {
  buttons_.release->setVisible(shown);
  buttons_.lock->setVisible(false);
}

void InternetAccess::release() {
  // The close sequence has locked it; nothing may open it again.
  if (actionLock_.closing()) return;
  buttons_.release->hide();
  buttons_.lock->show();
  const QString parameters =
      commands_.releaseParameters.empty() ? QStringLiteral("0") : q(commands_.releaseParameters);
  starter_.start(q(commands_.releaseProgram), parameters);
}

void InternetAccess::lock() {
  buttons_.lock->hide();
  buttons_.release->show();
  if (commands_.lockParameters.empty()) {
    const std::string name = processName().toStdString();
    if (!name.empty()) processes_.terminateFirst(name);
  } else {
    starter_.start(q(commands_.lockProgram), q(commands_.lockParameters));
  }
}

void InternetAccess::check() {
  const std::string name = processName().toStdString();
  const bool released = !name.empty() && processes_.count(name) >= 1;
  buttons_.lock->setVisible(released);
  buttons_.release->setVisible(!released);
}

void InternetAccess::hideButtons() {
  buttons_.release->hide();
  buttons_.lock->hide();
}

}  // namespace saalwacht::console

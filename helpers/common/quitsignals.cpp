#include "quitsignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace saalwacht::helpers {

namespace {

int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int signo) {
  // Only async-signal-safe work here: the event loop picks it up.
  const int savedErrno = errno;
  const char byte = static_cast<char>(signo);
  [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &byte, 1);
  errno = savedErrno;
}

}  // namespace

bool quitOnTermination(std::function<void()> onSignal) {
  if (g_signalPipe[0] != -1) return false;
  if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;

  auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read,
                                       QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                   [onSignal = std::move(onSignal)] {
                     char buffer[16];
                     while (::read(g_signalPipe[0], buffer, sizeof buffer) > 0) {
                     }
                     onSignal();
                   });

  struct sigaction action = {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signo : {SIGTERM, SIGINT, SIGHUP}) {
    if (::sigaction(signo, &action, nullptr) != 0) return false;
  }
  return true;
}

}  // namespace saalwacht::helpers

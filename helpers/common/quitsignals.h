#pragma once

#include <functional>

namespace saalwacht::helpers {

// Runs onSignal in the Qt event loop when SIGTERM, SIGINT or SIGHUP arrives,
// so the program can release grabs and leave exec() normally instead of
// dying inside Xlib calls. Call once, after the QApplication exists.
// Returns false if the signal pipe could not be set up.
bool quitOnTermination(std::function<void()> onSignal);

}  // namespace saalwacht::helpers

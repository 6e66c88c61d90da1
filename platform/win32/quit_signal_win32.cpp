#include "platform/quit_signal.h"

namespace saalwacht::platform {

// Windows asks a program to end with window messages (WM_CLOSE,
// WM_QUERYENDSESSION), which the window toolkit delivers; there is no signal
// to turn into a descriptor.
int quitRequestDescriptor() { return -1; }

void drainQuitRequests(int) {}

}  // namespace saalwacht::platform

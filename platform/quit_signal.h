#pragma once
// Requests from outside to end the program (SIGTERM and SIGINT on Linux).

namespace saalwacht::platform {

// Installs the handlers once and returns a descriptor that becomes readable
// each time such a request arrives; the reader drains it. -1 where the
// platform delivers no such requests as signals. Call from the main thread
// before other threads start.
int quitRequestDescriptor();

// Reads everything pending on the descriptor.
void drainQuitRequests(int descriptor);

}  // namespace saalwacht::platform

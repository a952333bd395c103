// Turns the end of the session into one call on the main thread: the session manager's
// request to save and quit, and SIGTERM.
#pragma once

#include <functional>

void WatchSessionEnd(std::function<void()> onEnd);

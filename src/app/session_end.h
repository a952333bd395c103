// Turns the end of the session into one call on the main thread: the session manager's
// request to save and quit, and SIGTERM (a closed console on Windows).
#pragma once

#include <functional>

void WatchSessionEnd(std::function<void()> onEnd);
// The system's own part of it (signals, a console's events), one file per system.
void WatchSystemEnd(std::function<void()> onEnd);

// SIGUSR1 (on Windows, setting the named event "Local\Tiktaal.SyncNow") asks for a
// synchronisation now, as a click on the window's label does; for scripts and for a board
// that needs the time at once.
void WatchSyncRequest(std::function<void()> onRequest);

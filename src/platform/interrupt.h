// A terminal program's request to stop (Ctrl+C, the terminal closed, the system asking it to
// end) turned into a flag its loop polls. Nothing else happens in the system's handler, which
// may run in a signal or on a thread of its own.
#pragma once

#include <atomic>

void RaiseOnInterrupt(std::atomic<bool>& flag);

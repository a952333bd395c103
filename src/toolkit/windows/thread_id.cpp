#include "toolkit/thread_id.h"

#include <windows.h>

long CurrentThreadId() { return static_cast<long>(GetCurrentThreadId()); }

#include "toolkit/thread_id.h"

#include <unistd.h>

long CurrentThreadId() { return static_cast<long>(gettid()); }

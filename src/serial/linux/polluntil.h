// poll() bounded by a deadline, for the Linux side of the serial link.
#pragma once

#include <poll.h>

#include <cstddef>

// poll() retried after signals until the time-out (ms) has passed in total; the count of
// ready descriptors, 0 on time-out, -1 on any other failure (errno kept).
int PollUntil(pollfd* fds, size_t count, int timeout);

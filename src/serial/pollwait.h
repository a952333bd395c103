// Waiting on descriptors for the serial link: a poll() bounded by a deadline, and a wake-up
// signal that lets other threads cut a thread's wait on its port short.
#pragma once

#include <poll.h>

#include <cstddef>

// poll() retried after signals until the time-out (ms) has passed in total; the count of
// ready descriptors, 0 on time-out, -1 on any other failure (errno kept).
int PollUntil(pollfd* fds, size_t count, int timeout);

// A raised flag that a poll() sees as a readable descriptor. Any thread raises it; the one
// waiting thread clears it after each wait, and a raise that comes after the clear stays
// pending for the next wait, so no raise is lost between a check and the next wait.
class TWakeSignal {
public:
    TWakeSignal();
    ~TWakeSignal();
    TWakeSignal(const TWakeSignal&) = delete;
    TWakeSignal& operator=(const TWakeSignal&) = delete;

    // The descriptor to poll for POLLIN; -1 when none could be made (poll() skips it, so
    // waits then only end on their time-outs).
    int Handle() const { return FHandle; }
    void Raise();
    void Clear();
    // Sleeps up to timeout ms unless raised; clears. True when it was raised.
    bool Wait(int timeout);

private:
    int FHandle;
};

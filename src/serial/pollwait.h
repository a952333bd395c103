// Wake-up signals for the serial link: a flag other threads raise to cut a thread's wait on
// its port short. Each system implements it with its own waitable object (linux/, windows/).
#pragma once

#include <cstdint>

// A system object a wait can watch beside the port: a descriptor on Linux, an event
// handle on Windows. kNoWaitHandle watches nothing.
using TWaitHandle = intptr_t;
constexpr TWaitHandle kNoWaitHandle = -1;

// A raised flag that a wait sees as a ready object. Any thread raises it; the one waiting
// thread clears it after each wait, and a raise that comes after the clear stays pending
// for the next wait, so no raise is lost between a check and the next wait.
class TWakeSignal {
public:
    TWakeSignal();
    ~TWakeSignal();
    TWakeSignal(const TWakeSignal&) = delete;
    TWakeSignal& operator=(const TWakeSignal&) = delete;

    // The object to wait on; kNoWaitHandle when none could be made (waits then only end on
    // their time-outs).
    TWaitHandle Handle() const { return FHandle; }
    void Raise();
    void Clear();
    // Sleeps up to timeout ms unless raised; clears. True when it was raised.
    bool Wait(int timeout);
    // Sleeps up to timeout ms unless raised; leaves the flag as it is.
    bool WaitRaised(int timeout) const;

private:
    TWaitHandle FHandle;
};

// Sleeps up to timeout ms unless either signal is raised; clears neither. True when one was.
bool WaitEitherRaised(const TWakeSignal& first, const TWakeSignal& second, int timeout);

// The wake-up signal as a manual-reset event: it stays set from Raise until the waiting
// thread resets it, so a raise between a check and the next wait is never lost.
#include "serial/pollwait.h"

#include <windows.h>

#include <algorithm>

namespace {
HANDLE Event(TWaitHandle handle) { return reinterpret_cast<HANDLE>(handle); }
DWORD Millis(int timeout) { return static_cast<DWORD>(std::max(timeout, 0)); }
}  // namespace

TWakeSignal::TWakeSignal() {
    const HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    FHandle = e ? reinterpret_cast<TWaitHandle>(e) : kNoWaitHandle;
}

TWakeSignal::~TWakeSignal() {
    if (FHandle != kNoWaitHandle) CloseHandle(Event(FHandle));
}

void TWakeSignal::Raise() {
    if (FHandle != kNoWaitHandle) SetEvent(Event(FHandle));
}

void TWakeSignal::Clear() {
    if (FHandle != kNoWaitHandle) ResetEvent(Event(FHandle));
}

bool TWakeSignal::Wait(int timeout) {
    const bool raised = WaitRaised(timeout);
    Clear();
    return raised;
}

bool TWakeSignal::WaitRaised(int timeout) const {
    if (FHandle == kNoWaitHandle) {
        Sleep(Millis(timeout));
        return false;
    }
    return WaitForSingleObject(Event(FHandle), Millis(timeout)) == WAIT_OBJECT_0;
}

bool WaitEitherRaised(const TWakeSignal& first, const TWakeSignal& second, int timeout) {
    HANDLE events[2];
    DWORD count = 0;
    for (const TWakeSignal* s : {&first, &second})
        if (s->Handle() != kNoWaitHandle) events[count++] = Event(s->Handle());
    if (count == 0) {
        Sleep(Millis(timeout));
        return false;
    }
    const DWORD r = WaitForMultipleObjects(count, events, FALSE, Millis(timeout));
    return r < WAIT_OBJECT_0 + count;
}

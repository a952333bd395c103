// Waits on the main thread while processing messages, for tests of asynchronous behaviour.
#pragma once

#include <chrono>
#include <functional>

#include "toolkit/mainthread.h"

// Returns true as soon as cond holds; false after timeoutMs.
inline bool WaitUntil(const std::function<bool()>& cond, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        ProcessMessages();
        WaitForSynchronize(1);
    }
    return true;
}

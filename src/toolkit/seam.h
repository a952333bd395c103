// A replaceable function behind a lock: the window or a test installs its own (a message
// box, a log sink, a clock setter) and gets the previous one back to restore it.
#pragma once

#include <mutex>
#include <utility>

template <typename Fn>
class TSeam {
public:
    Fn Swap(Fn next) {
        std::lock_guard<std::mutex> g(FLock);
        Fn previous = std::move(FFn);
        FFn = std::move(next);
        return previous;
    }
    // A copy, so that the call runs without the lock held.
    Fn Get() const {
        std::lock_guard<std::mutex> g(FLock);
        return FFn;
    }

private:
    mutable std::mutex FLock;
    Fn FFn;
};

// A main-thread timer with the toolkit semantics the components rely on:
// Enabled True on an enabled timer does not restart it, a new Interval (or handler)
// restarts a running timer, and a timer without a handler or with Interval 0 does nothing.
#pragma once

#include <functional>
#include <memory>

class TTimer {
public:
    TTimer();  // Enabled True, Interval 1000, no handler: like a timer dropped on a form
    ~TTimer();
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value);
    unsigned Interval() const { return FInterval; }
    void SetInterval(unsigned ms);
    void SetOnTimer(std::function<void()> handler);
    bool HasHandler() const { return static_cast<bool>(FOnTimer); }
    // True while the underlying timer counts (enabled, an interval and a handler).
    bool Running() const;

    // Runs the handler exactly as a tick does; lets tests drive time by hand.
    void Tick();

private:
    void UpdateTimer();

    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
    bool FEnabled = true;
    unsigned FInterval = 1000;
    std::function<void()> FOnTimer;
};

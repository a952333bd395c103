#include "toolkit/timer.h"

#include <gtest/gtest.h>

#include <chrono>

#include "support/wait.h"

namespace {
using Clock = std::chrono::steady_clock;
long MsBetween(Clock::time_point from, Clock::time_point to) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count());
}
long MsSince(Clock::time_point t) { return MsBetween(t, Clock::now()); }

// A timer that notes when it first fires and then switches itself off.
struct TOneShot {
    TOneShot(unsigned intervalMs, bool enabled = true) {
        Timer.SetEnabled(enabled);
        Timer.SetInterval(intervalMs);
        Timer.SetOnTimer([this] {
            Fired = Clock::now();
            Timer.SetEnabled(false);
        });
    }
    bool WaitFired() {
        return WaitUntil([this] { return Fired != Clock::time_point{}; }, 2000);
    }
    TTimer Timer;
    Clock::time_point Fired{};
};
}  // namespace

TEST(Timer, RunsOnlyWithHandlerIntervalAndEnabled) {
    TTimer t;
    EXPECT_TRUE(t.Enabled());
    EXPECT_FALSE(t.Running());  // no handler yet
    int ticks = 0;
    t.SetOnTimer([&] { ++ticks; });
    EXPECT_TRUE(t.Running());
    t.SetInterval(0);
    EXPECT_FALSE(t.Running());
    t.SetInterval(10);
    t.SetEnabled(false);
    EXPECT_FALSE(t.Running());
    t.Tick();
    EXPECT_EQ(ticks, 1);  // a manual tick runs the handler whatever the state
}

TEST(Timer, EnablingAnEnabledTimerDoesNotRestartIt) {
    TOneShot shot(200, false);
    const auto start = Clock::now();
    shot.Timer.SetEnabled(true);
    ASSERT_TRUE(WaitUntil([&] { return MsSince(start) >= 120; }));
    shot.Timer.SetEnabled(true);  // must not push the tick back
    ASSERT_TRUE(shot.WaitFired());
    EXPECT_LT(MsBetween(start, shot.Fired), 300);
}

TEST(Timer, NewIntervalRestartsARunningTimer) {
    TOneShot shot(150);
    const auto start = Clock::now();
    ASSERT_TRUE(WaitUntil([&] { return MsSince(start) >= 100; }));
    const auto restart = Clock::now();
    shot.Timer.SetInterval(151);
    ASSERT_TRUE(shot.WaitFired());
    EXPECT_GE(MsBetween(restart, shot.Fired), 140);
}

TEST(Timer, SameIntervalDoesNotRestart) {
    TOneShot shot(150);
    const auto start = Clock::now();
    ASSERT_TRUE(WaitUntil([&] { return MsSince(start) >= 100; }));
    shot.Timer.SetInterval(150);
    ASSERT_TRUE(shot.WaitFired());
    EXPECT_LT(MsBetween(start, shot.Fired), 240);
}

#include "toolkit/timer.h"

#include <gtest/gtest.h>

#include <chrono>

#include "support/wait.h"

namespace {
using Clock = std::chrono::steady_clock;
long MsSince(Clock::time_point t) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}
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
    TTimer t;
    t.SetEnabled(false);
    t.SetInterval(200);
    Clock::time_point fired{};
    t.SetOnTimer([&] {
        fired = Clock::now();
        t.SetEnabled(false);
    });
    const auto start = Clock::now();
    t.SetEnabled(true);
    ASSERT_TRUE(WaitUntil([&] { return MsSince(start) >= 120; }));
    t.SetEnabled(true);  // must not push the tick back
    ASSERT_TRUE(WaitUntil([&] { return fired != Clock::time_point{}; }, 2000));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(fired - start).count();
    EXPECT_LT(ms, 300);
}

TEST(Timer, NewIntervalRestartsARunningTimer) {
    TTimer t;
    t.SetInterval(150);
    Clock::time_point fired{};
    t.SetOnTimer([&] {
        fired = Clock::now();
        t.SetEnabled(false);
    });
    const auto start = Clock::now();
    ASSERT_TRUE(WaitUntil([&] { return MsSince(start) >= 100; }));
    const auto restart = Clock::now();
    t.SetInterval(151);
    ASSERT_TRUE(WaitUntil([&] { return fired != Clock::time_point{}; }, 2000));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(fired - restart).count();
    EXPECT_GE(ms, 140);
}

TEST(Timer, SameIntervalDoesNotRestart) {
    TTimer t;
    t.SetInterval(150);
    Clock::time_point fired{};
    t.SetOnTimer([&] {
        fired = Clock::now();
        t.SetEnabled(false);
    });
    const auto start = Clock::now();
    ASSERT_TRUE(WaitUntil([&] { return MsSince(start) >= 100; }));
    t.SetInterval(150);
    ASSERT_TRUE(WaitUntil([&] { return fired != Clock::time_point{}; }, 2000));
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(fired - start).count(), 240);
}

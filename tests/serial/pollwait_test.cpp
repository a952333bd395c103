#include "serial/pollwait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {
long SinceMs(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}
}  // namespace

TEST(WakeSignal, RaisesAreKeptUntilClearedAndNeverLost) {
    TWakeSignal wake;
    ASSERT_NE(wake.Handle(), kNoWaitHandle);
    EXPECT_FALSE(wake.Wait(0));

    // A raise before the wait (the request made while the thread was busy) ends it at once;
    // many raises count as one.
    wake.Raise();
    wake.Raise();
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(wake.Wait(2000));
    EXPECT_LT(SinceMs(start), 100);
    EXPECT_FALSE(wake.Wait(0));

    // The waiting thread clears, the requester raises after that: still pending.
    wake.Raise();
    wake.Clear();
    EXPECT_FALSE(wake.Wait(0));
    wake.Raise();
    EXPECT_TRUE(wake.WaitRaised(0));
    EXPECT_TRUE(wake.WaitRaised(0));  // looking does not clear

    // Raised from another thread while the wait is in progress.
    wake.Clear();
    std::thread raiser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        wake.Raise();
    });
    start = std::chrono::steady_clock::now();
    EXPECT_TRUE(wake.Wait(2000));
    EXPECT_LT(SinceMs(start), 500);
    raiser.join();
}

TEST(WakeSignal, EitherOfTwoEndsTheWaitAndNeitherIsCleared) {
    TWakeSignal request, stop;
    EXPECT_FALSE(WaitEitherRaised(request, stop, 20));
    stop.Raise();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(WaitEitherRaised(request, stop, 2000));
    EXPECT_LT(SinceMs(start), 500);
    EXPECT_TRUE(stop.WaitRaised(0));
    EXPECT_FALSE(request.WaitRaised(0));
}

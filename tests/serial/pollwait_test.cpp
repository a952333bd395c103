#include "serial/pollwait.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "support/pty_pair.h"

TEST(WakeSignal, RaisesAreKeptUntilClearedAndNeverLost) {
    TWakeSignal wake;
    ASSERT_GE(wake.Handle(), 0);
    EXPECT_FALSE(wake.Wait(0));

    // A raise before the wait (the request made while the thread was busy) ends it at once;
    // many raises count as one.
    wake.Raise();
    wake.Raise();
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(wake.Wait(2000));
    EXPECT_LT(ElapsedMs(start), 100);
    EXPECT_FALSE(wake.Wait(0));

    // The waiting thread clears, the requester raises after that: still pending.
    wake.Raise();
    wake.Clear();
    EXPECT_FALSE(wake.Wait(0));
    wake.Raise();
    pollfd p{wake.Handle(), POLLIN, 0};
    EXPECT_EQ(PollUntil(&p, 1, 0), 1);

    // Raised from another thread while the wait is in progress.
    wake.Clear();
    std::thread raiser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        wake.Raise();
    });
    start = std::chrono::steady_clock::now();
    EXPECT_TRUE(wake.Wait(2000));
    EXPECT_LT(ElapsedMs(start), 500);
    raiser.join();
}

TEST(PollUntil, SignalsDoNotCutTheWaitShort) {
    struct sigaction sa {
    }, old{};
    sa.sa_handler = [](int) {};
    sigaction(SIGUSR2, &sa, &old);  // no SA_RESTART: poll() returns EINTR
    const pthread_t waiter = pthread_self();
    std::thread signaller([waiter] {
        for (int i = 0; i < 3; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            pthread_kill(waiter, SIGUSR2);
        }
    });
    TWakeSignal quiet;
    pollfd p{quiet.Handle(), POLLIN, 0};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(PollUntil(&p, 1, 80), 0);
    EXPECT_GE(ElapsedMs(start), 75);
    signaller.join();
    sigaction(SIGUSR2, &old, nullptr);
}

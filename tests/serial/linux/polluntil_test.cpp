#include "serial/linux/polluntil.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "serial/pollwait.h"
#include "support/pty_pair.h"

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
    pollfd p{static_cast<int>(quiet.Handle()), POLLIN, 0};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(PollUntil(&p, 1, 80), 0);
    EXPECT_GE(ElapsedMs(start), 75);
    signaller.join();
    sigaction(SIGUSR2, &old, nullptr);
}

#include "platform/interrupt.h"

#include <signal.h>

namespace {

std::atomic<bool>* Flag = nullptr;

void OnSignal(int) {
    if (Flag) *Flag = true;
}

}  // namespace

void RaiseOnInterrupt(std::atomic<bool>& flag) {
    Flag = &flag;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

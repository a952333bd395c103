#include "serial/pollwait.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "net/netutil.h"
#include "serial/linux/polluntil.h"

int PollUntil(pollfd* fds, size_t count, int timeout) {
    const uint32_t start = TickNow();
    const uint32_t limit = static_cast<uint32_t>(std::max(timeout, 0));
    for (;;) {
        const uint32_t spent = TickElapsed(start, TickNow());
        const int left = spent >= limit ? 0 : static_cast<int>(limit - spent);
        const int r = poll(fds, count, left);
        if (r >= 0 || errno != EINTR) return r;
    }
}

TWakeSignal::TWakeSignal() : FHandle(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

TWakeSignal::~TWakeSignal() {
    if (FHandle >= 0) close(static_cast<int>(FHandle));
}

void TWakeSignal::Raise() {
    if (FHandle < 0) return;
    const uint64_t one = 1;
    // A full counter (EAGAIN) is raised already.
    while (write(static_cast<int>(FHandle), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void TWakeSignal::Clear() {
    if (FHandle < 0) return;
    uint64_t count = 0;
    while (read(static_cast<int>(FHandle), &count, sizeof count) < 0 && errno == EINTR) {
    }
}

bool TWakeSignal::Wait(int timeout) {
    const bool raised = WaitRaised(timeout);
    Clear();
    return raised;
}

bool TWakeSignal::WaitRaised(int timeout) const {
    pollfd p{static_cast<int>(FHandle), POLLIN, 0};
    return PollUntil(&p, 1, timeout) > 0 && (p.revents & POLLIN);
}

bool WaitEitherRaised(const TWakeSignal& first, const TWakeSignal& second, int timeout) {
    pollfd p[2] = {{static_cast<int>(first.Handle()), POLLIN, 0},
                   {static_cast<int>(second.Handle()), POLLIN, 0}};
    return PollUntil(p, 2, timeout) > 0 && ((p[0].revents | p[1].revents) & POLLIN);
}

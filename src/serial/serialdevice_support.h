// Small helpers the serial device's source files share; not part of its interface.
#pragma once

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "net/netutil.h"
#include "serial/pollwait.h"

namespace serial_detail {

constexpr char CR = '\r';

// Milliseconds left of a wait that began at start; never negative.
inline int Remaining(uint32_t start, int timeout) {
    const uint32_t spent = TickElapsed(start, TickNow());
    return spent >= static_cast<uint32_t>(std::max(timeout, 0)) ? 0
                                                                : timeout - static_cast<int>(spent);
}

// poll() on one descriptor until the deadline; revents or 0.
inline short PollOne(int fd, short events, int timeout) {
    pollfd p{fd, events, 0};
    return PollUntil(&p, 1, timeout) > 0 ? p.revents : 0;
}

// A hang-up or a dead descriptor ends a wait for input at once: the code to record.
inline int HangUpError(short revents) {
    if (revents & POLLNVAL) return EBADF;
    return (revents & (POLLHUP | POLLERR)) ? EIO : 0;
}

// Pseudo-terminals and some adapters do not have modem lines; that is no link fault.
inline bool NoModemLines(int err) { return err == ENOTTY || err == EINVAL; }

}  // namespace serial_detail

// Small helpers the serial device's source files share; not part of its interface.
#pragma once

#include <algorithm>
#include <cstdint>

#include "net/netutil.h"

namespace serial_detail {

constexpr char CR = '\r';

// Milliseconds left of a wait that began at start; never negative.
inline int Remaining(uint32_t start, int timeout) {
    const uint32_t spent = TickElapsed(start, TickNow());
    return spent >= static_cast<uint32_t>(std::max(timeout, 0)) ? 0
                                                                : timeout - static_cast<int>(spent);
}

}  // namespace serial_detail

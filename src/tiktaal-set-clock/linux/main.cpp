// tiktaal-set-clock OFFSET: steps the system clock by OFFSET seconds, a plain decimal
// number such as -0.000123 or +3600.25. It is the only part of Tiktaal that holds
// CAP_SYS_TIME, so it trusts nothing it is given: the environment is cleared before
// anything else, and the one argument must be a finite offset within bounds.
//
// Exit status: 0 the clock was stepped; 1 the system refused for another reason;
// 2 the arguments were not one acceptable offset; 3 no right to set the clock.
#include <sys/timex.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "clock_offset.h"

namespace {

constexpr int ExitStepped = 0;
constexpr int ExitRefused = 1;
constexpr int ExitBadArgument = 2;
constexpr int ExitNotPermitted = 3;

// The step as the kernel takes it: a signed second count and a non-negative fraction.
struct timeval ToKernelTime(const TClockOffset& offset) {
    const TFlooredOffset floored = FloorOffset(offset);
    struct timeval tv {};
    tv.tv_sec = static_cast<time_t>(floored.Seconds);
    tv.tv_usec = static_cast<suseconds_t>(floored.Nanoseconds);  // nanoseconds with ADJ_NANO
    return tv;
}

bool ResultInRange(const TClockOffset& offset) {
    struct timespec now {};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
    return ClockLandsInRange(static_cast<int64_t>(now.tv_sec), offset);
}

int Usage(const char* why) {
    std::fprintf(stderr,
                 "tiktaal-set-clock: %s\nUsage: tiktaal-set-clock OFFSET (seconds, such as "
                 "-0.000123; at most a hundred years)\n",
                 why);
    return ExitBadArgument;
}

}  // namespace

int main(int argc, char** argv) {
    // Nothing from the caller's environment may steer this program or its library.
    clearenv();
    if (argc != 2) return Usage("expects exactly one argument");
    TClockOffset offset;
    if (!ParseClockOffset(argv[1], offset)) return Usage(BadOffsetReason);
    if (!ResultInRange(offset)) return Usage(OutOfRangeReason);

    struct timex tx {};
    tx.modes = ADJ_SETOFFSET | ADJ_NANO;
    tx.time = ToKernelTime(offset);
    if (clock_adjtime(CLOCK_REALTIME, &tx) >= 0) return ExitStepped;
    const int err = errno;
    std::fprintf(stderr, "tiktaal-set-clock: cannot step the clock: %s\n", std::strerror(err));
    return err == EPERM ? ExitNotPermitted : ExitRefused;
}

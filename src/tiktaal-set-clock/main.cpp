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
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int ExitStepped = 0;
constexpr int ExitRefused = 1;
constexpr int ExitBadArgument = 2;
constexpr int ExitNotPermitted = 3;

// A hundred years either way: enough to mend a clock that restarted at 1970.
constexpr int64_t MaxOffsetSeconds = 100LL * 36525 * 86400 / 100;
constexpr int64_t NsPerSecond = 1000000000;
// The clock never lands outside 2000-01-01 .. 2200-01-01 (UTC, seconds since 1970).
constexpr int64_t EarliestResult = 946684800;
constexpr int64_t LatestResult = 7258118400;

struct TOffset {
    bool Negative = false;
    int64_t Seconds = 0;      // whole seconds, without the sign
    int64_t Nanoseconds = 0;  // 0 .. 999999999, without the sign
};

// [+-]digits[.digits]: at most 10 whole and 9 fractional digits, nothing else (no
// exponent, no "inf" or "nan", no blanks), read exactly without floating point.
bool ParseOffset(const char* text, TOffset& out) {
    if (std::strlen(text) > 32) return false;
    const char* p = text;
    if (*p == '+' || *p == '-') out.Negative = *p++ == '-';
    int whole = 0;
    for (; *p >= '0' && *p <= '9'; ++p, ++whole) {
        if (whole == 10) return false;
        out.Seconds = out.Seconds * 10 + (*p - '0');
    }
    if (whole == 0) return false;
    if (*p == '.') {
        ++p;
        int64_t scale = NsPerSecond;
        int fraction = 0;
        for (; *p >= '0' && *p <= '9'; ++p, ++fraction) {
            if (fraction == 9) return false;
            scale /= 10;
            out.Nanoseconds += (*p - '0') * scale;
        }
        if (fraction == 0) return false;
    }
    return *p == '\0' && out.Seconds <= MaxOffsetSeconds;
}

// The step as the kernel takes it: a signed second count and a non-negative fraction.
struct timeval ToKernelTime(const TOffset& offset) {
    struct timeval tv {};
    tv.tv_sec = static_cast<time_t>(offset.Seconds);
    tv.tv_usec = static_cast<suseconds_t>(offset.Nanoseconds);  // nanoseconds with ADJ_NANO
    if (offset.Negative) {
        tv.tv_sec = -tv.tv_sec;
        if (tv.tv_usec > 0) {
            tv.tv_sec -= 1;
            tv.tv_usec = NsPerSecond - tv.tv_usec;
        }
    }
    return tv;
}

bool ResultInRange(const struct timeval& step) {
    struct timespec now {};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
    const int64_t result = static_cast<int64_t>(now.tv_sec) + step.tv_sec;
    return result >= EarliestResult && result < LatestResult;
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
    TOffset offset;
    if (!ParseOffset(argv[1], offset)) return Usage("the offset is not a decimal number in bounds");
    const struct timeval step = ToKernelTime(offset);
    if (!ResultInRange(step)) return Usage("the clock would land before 2000 or after 2200");

    struct timex tx {};
    tx.modes = ADJ_SETOFFSET | ADJ_NANO;
    tx.time = step;
    if (clock_adjtime(CLOCK_REALTIME, &tx) >= 0) return ExitStepped;
    const int err = errno;
    std::fprintf(stderr, "tiktaal-set-clock: cannot step the clock: %s\n", std::strerror(err));
    return err == EPERM ? ExitNotPermitted : ExitRefused;
}

#include "clock_offset.h"

#include <cstring>

bool ParseClockOffset(const char* text, TClockOffset& out) {
    out = TClockOffset{};
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
    return *p == '\0' && out.Seconds <= MaxClockOffsetSeconds;
}

TFlooredOffset FloorOffset(const TClockOffset& offset) {
    TFlooredOffset step{offset.Seconds, offset.Nanoseconds};
    if (offset.Negative) {
        step.Seconds = -step.Seconds;
        if (step.Nanoseconds > 0) {
            step.Seconds -= 1;
            step.Nanoseconds = NsPerSecond - step.Nanoseconds;
        }
    }
    return step;
}

bool ClockLandsInRange(int64_t nowSeconds, const TClockOffset& offset) {
    const int64_t result = nowSeconds + FloorOffset(offset).Seconds;
    return result >= EarliestClockResult && result < LatestClockResult;
}

// Time on Windows: the zone's rules for a date, and the clock setter of this build, which
// never sets the clock (a service holding the right will).
#include "platform/clock.h"

#include <windows.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <system_error>

namespace {

std::atomic<bool> FailureTold{false};

bool ToSystemTime(TDateTime t, SYSTEMTIME& st) {
    if (!std::isfinite(t)) return false;
    const TDateParts d = DecodeDate(t);
    const TTimeParts tp = DecodeTime(t);
    if (d.Year < 1601 || d.Year > 30827) return false;  // what SYSTEMTIME holds
    st = {};
    st.wYear = static_cast<WORD>(d.Year);
    st.wMonth = static_cast<WORD>(d.Month);
    st.wDay = static_cast<WORD>(d.Day);
    st.wHour = static_cast<WORD>(tp.Hour);
    st.wMinute = static_cast<WORD>(tp.Minute);
    st.wSecond = static_cast<WORD>(tp.Second);
    st.wMilliseconds = static_cast<WORD>(tp.MilliSecond);
    return true;
}

TDateTime FromSystemTime(const SYSTEMTIME& st, TDateTime fallback) {
    TDateTime date = 0, time = 0;
    if (!TryEncodeDate(st.wYear, st.wMonth, st.wDay, date) ||
        !TryEncodeTime(st.wHour, st.wMinute, st.wSecond > 59 ? 59 : st.wSecond,
                       st.wMilliseconds, time))
        return fallback;
    return date + time;
}

}  // namespace

std::string ClockHelperPath() { return std::string(); }

bool SystemStepClock(double offsetSeconds) {
    if (!std::isfinite(offsetSeconds)) return false;
    const char* reason = "setting the PC clock is not available in this build for Windows";
    if (!FailureTold.exchange(true))
        std::fprintf(stderr,
                     "tiktaal: cannot set the PC clock: %s. Run with --set-clock=never to "
                     "leave the clock to the system.\n",
                     reason);
    throw std::system_error(ERROR_NOT_SUPPORTED, std::system_category(), reason);
}

// Windows keeps its own time service; whether it holds the clock is not asked here, so that
// the choice stays the user's (--set-clock).
bool SystemClockSynchronised() { return false; }

TDateTime UtcToLocal(TDateTime t) {
    SYSTEMTIME utc{}, local{};
    if (!ToSystemTime(t, utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        return t;
    return FromSystemTime(local, t);
}

TDateTime LocalToUtc(TDateTime t) {
    SYSTEMTIME local{}, utc{};
    if (!ToSystemTime(t, local) || !TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc))
        return t;
    return FromSystemTime(utc, t);
}

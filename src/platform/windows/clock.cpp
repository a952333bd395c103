// Time on Windows: the zone's rules for a date. The clock setter is the clock service's
// client (clock_service_client.cpp), the time service's probe time_service.cpp.
#include "platform/clock.h"

#include <windows.h>

#include <cmath>

namespace {

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

// The PC clock read through Windows: the system time to 100 ns, and local time with the
// zone's rules for that date.
#include <windows.h>

#include "toolkit/datetime.h"

namespace {

TDateTime FromSystemTime(const SYSTEMTIME& st) {
    TDateTime date = 0;
    TryEncodeDate(st.wYear, st.wMonth, st.wDay, date);
    TDateTime time = 0;
    TryEncodeTime(st.wHour, st.wMinute, st.wSecond > 59 ? 59 : st.wSecond, st.wMilliseconds,
                  time);
    return date + time;
}

SYSTEMTIME UtcNow() {
    FILETIME ft{};
    GetSystemTimePreciseAsFileTime(&ft);
    SYSTEMTIME st{};
    FileTimeToSystemTime(&ft, &st);
    return st;
}

}  // namespace

TDateTime NowLocal() {
    const SYSTEMTIME utc = UtcNow();
    SYSTEMTIME local{};
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return FromSystemTime(utc);
    return FromSystemTime(local);
}

TDateTime NowUtc() { return FromSystemTime(UtcNow()); }

#include "platform/clock.h"

#include <sys/timex.h>
#include <time.h>

#include <cmath>

namespace {

bool ToTm(TDateTime t, struct tm& out, int& ms) {
    if (!std::isfinite(t)) return false;
    const TDateParts d = DecodeDate(t);
    const TTimeParts tp = DecodeTime(t);
    out = {};
    out.tm_year = d.Year - 1900;
    out.tm_mon = d.Month - 1;
    out.tm_mday = d.Day;
    out.tm_hour = tp.Hour;
    out.tm_min = tp.Minute;
    out.tm_sec = tp.Second;
    out.tm_isdst = -1;
    ms = tp.MilliSecond;
    return true;
}

}  // namespace

bool SystemClockSynchronised() {
    struct timex tx {};
    const int state = adjtimex(&tx);
    return state != -1 && state != TIME_ERROR && (tx.status & STA_UNSYNC) == 0;
}

TDateTime UtcToLocal(TDateTime t) {
    if (!std::isfinite(t)) return t;
    const int64_t ms = DateTimeToUnixMs(t);
    int64_t secs = ms / 1000;
    int64_t rest = ms % 1000;
    if (rest < 0) {
        rest += 1000;
        --secs;
    }
    const auto when = static_cast<time_t>(secs);
    struct tm tmv {};
    if (!localtime_r(&when, &tmv)) return t;
    TDateTime date = 0, time = 0;
    if (!TryEncodeDate(tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday, date) ||
        !TryEncodeTime(tmv.tm_hour, tmv.tm_min, tmv.tm_sec > 59 ? 59 : tmv.tm_sec,
                       static_cast<int>(rest), time))
        return t;
    return date + time;
}

TDateTime LocalToUtc(TDateTime t) {
    struct tm tmv {};
    int ms = 0;
    if (!ToTm(t, tmv, ms)) return t;
    const time_t secs = mktime(&tmv);
    if (secs == static_cast<time_t>(-1)) return t;
    return UnixMsToDateTime(static_cast<int64_t>(secs) * 1000 + ms);
}

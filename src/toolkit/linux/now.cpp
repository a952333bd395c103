// The PC clock read through POSIX.
#include <ctime>

#include "toolkit/datetime.h"

namespace {

TDateTime FromTimespec(time_t sec, long nsec, bool local) {
    struct tm tmv {};
    if (local)
        localtime_r(&sec, &tmv);
    else
        gmtime_r(&sec, &tmv);
    TDateTime date = 0;
    TryEncodeDate(tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday, date);
    TDateTime time = 0;
    TryEncodeTime(tmv.tm_hour, tmv.tm_min, tmv.tm_sec > 59 ? 59 : tmv.tm_sec,
                  static_cast<int>(nsec / 1000000), time);
    return date + time;
}

}  // namespace

TDateTime NowLocal() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return FromTimespec(ts.tv_sec, ts.tv_nsec, true);
}

TDateTime NowUtc() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return FromTimespec(ts.tv_sec, ts.tv_nsec, false);
}

#include "platform/clock.h"

#include <sys/timex.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "toolkit/seam.h"

namespace {

TSeam<TClockSetter> CurrentSetter;
TSeam<TClockServiceProbe> CurrentProbe;
std::atomic<bool> FailureTold{false};

// Tells the user once why the clock stays as it is, so the reason is in the journal.
void TellFailureOnce(int err) {
    if (FailureTold.exchange(true)) return;
    std::fprintf(stderr,
                 "tiktaal: cannot set the PC clock: %s. Grant the program CAP_SYS_TIME "
                 "(setcap cap_sys_time+ep), or run it with --no-set-clock to leave the clock "
                 "to the system.\n",
                 std::strerror(err));
}

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

TClockSetter SetClockSetter(TClockSetter setter) { return CurrentSetter.Swap(std::move(setter)); }

bool SetPCDateTime(TDateTime local) {
    const TClockSetter setter = CurrentSetter.Get();
    return setter ? setter(local) : SystemSetLocalTime(local);
}

bool SystemSetLocalTime(TDateTime local) {
    struct tm tmv {};
    int ms = 0;
    if (!ToTm(local, tmv, ms)) return false;
    const time_t secs = mktime(&tmv);
    if (secs == static_cast<time_t>(-1)) return false;
    const timespec ts{secs, static_cast<long>(ms) * 1000000L};
    if (clock_settime(CLOCK_REALTIME, &ts) == 0) return true;
    const int err = errno;
    TellFailureOnce(err);
    if (err == EPERM) throw std::system_error(err, std::generic_category(), std::strerror(err));
    return false;
}

TClockServiceProbe SetClockServiceProbe(TClockServiceProbe probe) {
    return CurrentProbe.Swap(std::move(probe));
}

bool ClockKeptByTimeService() {
    const TClockServiceProbe probe = CurrentProbe.Get();
    return probe ? probe() : SystemClockSynchronised();
}

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

// A time a source gave, tied to the moment its bytes arrived, so that it can be used later
// without going stale: whatever time passed since the arrival is added on.
#pragma once

#include <time.h>

#include <cstdint>

#include "toolkit/datetime.h"

// The system's two clocks read together, in nanoseconds.
struct TClockStamp {
    int64_t MonoNs = 0;  // CLOCK_MONOTONIC: how much time passed; never stepped
    int64_t RealNs = 0;  // CLOCK_REALTIME: the PC clock, UTC since 1970
};

inline int64_t ClockNs(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// The two clocks as one moment: the PC clock read between two readings of the monotonic one,
// the tightest of three tries. A pause between two readings (a busy machine, or a clock call
// that costs a microsecond, as on Windows) would otherwise pass for part of an offset.
inline TClockStamp ClockStampNow() {
    TClockStamp best;
    int64_t bestSpan = INT64_MAX;
    for (int attempt = 0; attempt < 3 && bestSpan > 1000; ++attempt) {
        const int64_t before = ClockNs(CLOCK_MONOTONIC);
        const int64_t real = ClockNs(CLOCK_REALTIME);
        const int64_t span = ClockNs(CLOCK_MONOTONIC) - before;
        if (span < bestSpan) {
            bestSpan = span;
            best = {before + span / 2, real};
        }
    }
    return best;
}

struct TTimeSample {
    TClockStamp Arrival;   // when the bytes that carried the time arrived
    int64_t OffsetNs = 0;  // the source's time minus the PC clock at that moment
    bool Authenticated = false;  // sealed by the source (NTS): no one on the path made it
    // How far the source's time may lie from OffsetNs either way because of how finely
    // it was written: half a second for a time to the whole second (which then stands
    // for the middle of its second), half a millisecond for one to the millisecond, 0 for
    // an SNTP time stamp.
    int64_t UncertaintyNs = 0;
};

// A time written to `digits` decimals of a second (0 .. 9) stands for the middle of the
// interval it names; this is half that interval in ns.
inline int64_t HalfOfLastDigitNs(int digits) {
    int64_t unit = 1000000000;
    for (int i = 0; i < digits && unit > 0; ++i) unit /= 10;
    return unit / 2;
}

// The source's time at the moment now (UTC, ns since 1970): its time at the arrival,
// advanced by what has passed since.
inline int64_t SampleTimeAt(const TTimeSample& sample, const TClockStamp& now) {
    return sample.Arrival.RealNs + sample.OffsetNs + (now.MonoNs - sample.Arrival.MonoNs);
}

// UTC nanoseconds since 1970 as a date-time (to the microsecond or so).
inline TDateTime UnixNsToDateTime(int64_t ns) {
    const int64_t seconds = ns / 1000000000;
    const double rest = static_cast<double>(ns % 1000000000) / 1e9;
    return 25569.0 + (static_cast<double>(seconds) + rest) / SecsPerDay;
}

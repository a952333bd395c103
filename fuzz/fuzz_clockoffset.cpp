// The clock offset as the clock helper takes it on its command line and the clock service
// from its pipe: anything is refused or read within bounds, and what is read reads back
// the same from its canonical text.
#include <cinttypes>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tiktaal-set-clock/clock_offset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    TClockOffset offset;
    if (!ParseClockOffset(text.c_str(), offset)) return 0;
    if (offset.Seconds < 0 || offset.Seconds > MaxClockOffsetSeconds || offset.Nanoseconds < 0 ||
        offset.Nanoseconds >= NsPerSecond)
        std::abort();
    const TFlooredOffset floored = FloorOffset(offset);
    if (floored.Nanoseconds < 0 || floored.Nanoseconds >= NsPerSecond) std::abort();
    char canonical[64];
    std::snprintf(canonical, sizeof canonical, "%s%" PRId64 ".%09" PRId64,
                  offset.Negative ? "-" : "+", offset.Seconds, offset.Nanoseconds);
    TClockOffset again;
    if (!ParseClockOffset(canonical, again) || again.Seconds != offset.Seconds ||
        again.Nanoseconds != offset.Nanoseconds || again.Negative != offset.Negative)
        std::abort();
    for (int64_t now : {INT64_C(0), EarliestClockResult, LatestClockResult, INT64_C(1798761600)})
        ClockLandsInRange(now, offset);
    return 0;
}

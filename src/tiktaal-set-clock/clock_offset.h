// The one thing a caller may ask of the clock helper or the clock service: a step of the
// clock by an offset in seconds, in plain decimal text. Both programs take it through these
// checks, so they accept and refuse exactly the same offsets.
#pragma once

#include <cstdint>

// A hundred years either way: enough to mend a clock that restarted at 1970.
constexpr int64_t MaxClockOffsetSeconds = 100LL * 36525 * 86400 / 100;
constexpr int64_t NsPerSecond = 1000000000;
// The clock never lands outside 2000-01-01 .. 2200-01-01 (UTC, seconds since 1970).
constexpr int64_t EarliestClockResult = 946684800;
constexpr int64_t LatestClockResult = 7258118400;

struct TClockOffset {
    bool Negative = false;
    int64_t Seconds = 0;      // whole seconds, without the sign
    int64_t Nanoseconds = 0;  // 0 .. 999999999, without the sign
};

// [+-]digits[.digits]: at most 10 whole and 9 fractional digits, nothing else (no exponent,
// no "inf" or "nan", no blanks), read exactly without floating point, within the bounds.
bool ParseClockOffset(const char* text, TClockOffset& out);

// The offset as a signed second count (rounded down) and a fraction of 0 .. 999999999 ns
// to add to it: the form clocks take a step in.
struct TFlooredOffset {
    int64_t Seconds = 0;
    int64_t Nanoseconds = 0;
};
TFlooredOffset FloorOffset(const TClockOffset& offset);

// Whether a clock now at nowSeconds (UTC, since 1970) lands within 2000 .. 2200 when
// stepped by the offset.
bool ClockLandsInRange(int64_t nowSeconds, const TClockOffset& offset);

// The reasons both programs give for an offset they refuse.
constexpr const char* BadOffsetReason = "the offset is not a decimal number in bounds";
constexpr const char* OutOfRangeReason = "the clock would land before 2000 or after 2200";

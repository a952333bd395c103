// Reads a local date and time written in the user's short-date and long-time formats, as
// the time scripts answer: a date, then optionally a time; text after a complete time is
// ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "toolkit/datetime.h"

struct TDateTimeFormats {
    std::string ShortDate = "yyyy-MM-dd";  // its order and separator are what counts
    std::string LongTime = "HH:mm:ss";     // its separator is what counts
};

// A date and time as written: the whole second, the fraction of a second exactly as far as
// its digits go, and where the text of the time ended.
struct TParsedDateTime {
    TDateTime WholeSecond = 0;  // local date and time to the second
    int64_t FractionNs = 0;     // the written fraction, 0 .. 999999999
    int FractionDigits = 0;     // how many fraction digits were written (0 .. 9)
    size_t End = 0;             // offset just past the last character of the date or time
};

// today supplies the year when the text has only two date numbers, and the century of
// two-digit years (a window of 50 years before today to 49 after). With requireSeconds a
// date alone, or a time without seconds, is no time.
bool ParseLocalDateTime(const std::string& text, const TDateTimeFormats& formats, TDateTime today,
                        TParsedDateTime& result, bool requireSeconds = false);
// The same as one date-time value (the fraction to what a date-time holds).
bool TryParseLocalDateTime(const std::string& text, const TDateTimeFormats& formats,
                           TDateTime today, TDateTime& result, bool requireSeconds = false);

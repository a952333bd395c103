// Reads a local date and time written in the user's short-date and long-time formats, as
// the time scripts answer: a date, then optionally a time; text after a complete time is
// ignored.
#pragma once

#include <string>

#include "toolkit/datetime.h"

struct TDateTimeFormats {
    std::string ShortDate = "yyyy-MM-dd";  // its order and separator are what counts
    std::string LongTime = "HH:mm:ss";     // its separator is what counts
};

// today supplies the year when the text has only two date numbers, and the century of
// two-digit years (a window of 50 years before today to 49 after). With requireSeconds a
// date alone, or a time without seconds, is no time.
bool TryParseLocalDateTime(const std::string& text, const TDateTimeFormats& formats,
                           TDateTime today, TDateTime& result, bool requireSeconds = false);

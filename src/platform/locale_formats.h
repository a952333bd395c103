// The user's short-date and long-time formats, in the toolkit's format letters.
#pragma once

#include <string>

// From the environment's LC_TIME locale (D_FMT and T_FMT). TIKTAAL_DATE_FORMAT and
// TIKTAAL_TIME_FORMAT, when set and not empty, override them (for a C or POSIX locale,
// whose month/day/two-digit-year order few people want).
std::string ShortDateFormat();
std::string LongTimeFormat();

// Converts an strftime pattern to the toolkit's letters; conversions without a numeric
// counterpart (month names, zone names) are left out.
std::string StrftimeToToolkitFormat(const std::string& pattern);

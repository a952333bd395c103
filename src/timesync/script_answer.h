// The answer of an HTTP time script: any text, "sync_time:", then a local date and time.
#pragma once

#include <cstddef>
#include <string>

#include "timesync/datetime_parser.h"
#include "toolkit/datetime.h"

// The time in a script's answer: the line after the first "sync_time:" (case-sensitive),
// read as a local date and time in the user's formats, with at least hours, minutes and
// seconds. A cut-off answer is no time: the line must be ended by CR or LF, or by the end
// of a body that arrived whole as its framing says (bodyComplete). timeEnd is the offset of
// the byte that completed it, whose arrival the time is as old as. False when there is none.
bool ExtractSyncTime(const std::string& body, bool bodyComplete, const TDateTimeFormats& formats,
                     TDateTime today, TDateTime& result, size_t& timeEnd);

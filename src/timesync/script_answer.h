// The answer of an HTTP time script: any text, "sync_time:", then a local date and time.
#pragma once

#include <string>

#include "timesync/datetime_parser.h"
#include "toolkit/datetime.h"

// The time in a script's answer: the text after the first "sync_time:" (case-sensitive),
// read as a local date and time in the user's formats. False when there is none.
bool ExtractSyncTime(const std::string& body, const TDateTimeFormats& formats, TDateTime today,
                     TDateTime& result);

// The answer of an HTTP time script: any text, "sync_time:", then a local date and time.
#pragma once

#include <cstddef>
#include <string>

#include "timesync/datetime_parser.h"
#include "toolkit/datetime.h"

// A script's time as it was written, and which byte of the body completed it.
struct TScriptReading {
    TParsedDateTime Time;
    size_t LastByte = 0;  // offset of the time's last character: its arrival dates the time
};

// The time in a script's answer: the line after the first "sync_time:" (case-sensitive),
// read as a local date and time in the user's formats, with at least hours, minutes and
// seconds and any fraction of a second written after them. A cut-off answer is no time:
// the line must be ended by CR or LF, or by the end of a body that arrived whole as its
// framing says (bodyComplete). False when there is none.
bool ExtractSyncTime(const std::string& body, bool bodyComplete, const TDateTimeFormats& formats,
                     TDateTime today, TScriptReading& reading);

// Watches a body as it arrives for the line after "sync_time:" to be complete (ended by CR,
// LF or NUL), looking only at what is new at each call, so that a script that holds its
// connection open after its answer need not be waited for.
class TAnswerLineWatch {
public:
    bool LineComplete(const std::string& bodySoFar);

private:
    size_t FScanned = 0;                  // the body before this is searched already
    size_t FLineStart = std::string::npos;  // just after the marker, once found
};

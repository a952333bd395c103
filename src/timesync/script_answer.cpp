#include "timesync/script_answer.h"

#include "net/netutil.h"

namespace {
const std::string Marker = "sync_time:";
}

bool TAnswerLineWatch::LineComplete(const std::string& bodySoFar) {
    if (FLineStart == std::string::npos) {
        // A NUL before the marker ends the text: no answer can follow.
        const size_t from = FScanned > Marker.size() ? FScanned - Marker.size() : 0;
        const size_t nul = bodySoFar.find('\0', FScanned);
        const size_t at = bodySoFar.find(Marker, from);
        FScanned = bodySoFar.size();
        if (at == std::string::npos || (nul != std::string::npos && nul < at))
            return nul != std::string::npos;
        FLineStart = at + Marker.size();
        FScanned = FLineStart;
    }
    const size_t end = bodySoFar.find_first_of(std::string("\r\n\0", 3), FScanned);
    FScanned = bodySoFar.size();
    return end != std::string::npos;
}

bool ExtractSyncTime(const std::string& body, bool bodyComplete, const TDateTimeFormats& formats,
                     TDateTime today, TScriptReading& reading) {
    // A NUL ends the text, and so the line that runs into it.
    const size_t nul = body.find('\0');
    const std::string text = body.substr(0, nul);
    const bool textEnded = bodyComplete || nul != std::string::npos;
    const size_t at = text.find(Marker);
    if (at == std::string::npos) return false;
    const size_t start = at + Marker.size();
    const size_t lineEnd = text.find_first_of("\r\n", start);
    if (lineEnd == std::string::npos && !textEnded) return false;
    const std::string line = text.substr(start, lineEnd - start);
    if (TrimText(line).empty()) return false;
    TParsedDateTime parsed;
    if (!ParseLocalDateTime(line, formats, today, parsed, true) || parsed.End == 0) return false;
    reading.Time = parsed;
    reading.LastByte = start + parsed.End - 1;
    return true;
}

#include "timesync/script_answer.h"

#include "net/netutil.h"

bool ExtractSyncTime(const std::string& body, bool bodyComplete, const TDateTimeFormats& formats,
                     TDateTime today, TScriptReading& reading) {
    // A NUL ends the text, and so the line that runs into it.
    const size_t nul = body.find('\0');
    const std::string text = body.substr(0, nul);
    const bool textEnded = bodyComplete || nul != std::string::npos;
    const std::string marker = "sync_time:";
    const size_t at = text.find(marker);
    if (at == std::string::npos) return false;
    const size_t start = at + marker.size();
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

#include "timesync/script_answer.h"

#include "net/netutil.h"

bool ExtractSyncTime(const std::string& body, bool bodyComplete, const TDateTimeFormats& formats,
                     TDateTime today, TDateTime& result, size_t& timeEnd) {
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
    const std::string rest = StripBlanks(text.substr(start, lineEnd - start));
    if (TrimText(rest).empty()) return false;
    if (!TryParseLocalDateTime(rest, formats, today, result, true)) return false;
    timeEnd =
        lineEnd != std::string::npos ? lineEnd : (nul != std::string::npos ? nul : body.size() - 1);
    return true;
}

#include "timesync/script_answer.h"

#include "net/netutil.h"
#include "toolkit/stringlist.h"

bool ExtractSyncTime(const std::string& body, const TDateTimeFormats& formats, TDateTime today,
                     TDateTime& result) {
    // A NUL ends the text; the lines are joined again with CR LF and trimmed.
    TStringList lines;
    lines.SetText(body.substr(0, body.find('\0')));
    const std::string text = TrimText(lines.Text());
    const std::string marker = "sync_time:";
    const size_t at = text.find(marker);
    if (at == std::string::npos) return false;
    const std::string rest = StripBlanks(text.substr(at + marker.size()));
    if (TrimText(rest).empty()) return false;
    return TryParseLocalDateTime(rest, formats, today, result);
}

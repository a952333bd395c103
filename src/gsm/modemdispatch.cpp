#include "gsm/modemdispatch.h"

#include <exception>

#include "gsm/modemdispatch_text.h"

using namespace dispatchtext;

namespace {

bool IsPduHeader(std::string_view line) {
    return StartsWith(line, "+CMT:") || StartsWith(line, "+CDS:") || StartsWith(line, "+CMGL:") ||
           StartsWith(line, "+CMGR:");
}

}  // namespace

TModemDispatch::TModemDispatch(TModemDispatchTarget& target)
    : FTarget(target), FDecoder([this](const std::string& m) { FTarget.Log(m); }) {}

// The steps run in a fixed order over the lines of one reply; each looks only for its
// own lines, so a reply cut anywhere loses no more than the cut line's own report.
void TModemDispatch::DispatchPiece(const std::string& text) {
    FInPiece = true;
    DispatchReply(text);
    FInPiece = false;
}

void TModemDispatch::DispatchReply(const std::string& text) {
    try {
        TLines lines = SplitLines(text);
        // A message whose PDU line came apart from its header in the last reply or piece.
        if (!FPendingHeader.empty()) {
            FCarriedLine = std::move(FPendingHeader);
            FPendingHeader.clear();
            if (!lines.empty() && IsHexLine(lines.front()))
                lines.insert(lines.begin(), std::string_view(FCarriedLine));
        }
        if (!lines.empty() && IsPduHeader(lines.back())) {
            FPendingHeader = lines.back();
            lines.pop_back();
        }
        const TDispatchSettings s = FTarget.Settings();
        PhoneBook(lines, s);
        ReadMessage(lines, s);
        ListedMessages(lines, s);
        NewMessageIndication(lines, s);
        RoutedMessages(lines, s);
        CallerIdentification(lines, s);
        Indicators(lines);
        Readings(lines, s);
        StatusReports(lines, s);
    } catch (const std::exception& e) {
        // Out of memory or a throwing event handler: the thread keeps running.
        FTarget.ReportQuietError(std::string("Thread (DispatchReply) ERROR: ") + e.what());
    }
}

std::string TModemDispatch::PduAfter(const TLines& lines, size_t i, const char* what) {
    if (i + 1 < lines.size() && IsHexLine(lines[i + 1])) return std::string(lines[i + 1]);
    FTarget.ReportQuietError(std::string("Thread (") + what + ") ERROR: no PDU after " +
                             std::string(lines[i].substr(0, 80)));
    return "";
}

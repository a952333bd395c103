// Sending one message part: the AT+CMGS exchange with its prompt and Ctrl-Z, the
// collection of the modem's answer, and the three-attempt rule.
#include "gsm/lugsmthread.h"
#include "gsm/modemreplies.h"
#include "gsm/smspartline.h"
#include "net/netutil.h"

namespace {

bool Has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// A numbered refusal ("+CMS ERROR: 500") ends the exchange as a bare ERROR does.
bool HasFinalResult(const std::string& text) {
    return Has(text, "OK\r") || Has(text, "ERROR\r") || !ErrorResultLine(text).empty();
}

bool IsRefusal(const std::string& text) {
    return Has(text, "+CMS ERROR") || Has(text, "+CME ERROR") || Has(text, "ERROR\r");
}

// The modem's code in parentheses, when it gave one.
std::string WithCode(const std::string& text, const std::string& answer) {
    const std::string code = ErrorResultLine(answer);
    return code.empty() ? text : text + " (" + code + ")";
}

// The reference after "+CMGS:", -1 when there is none.
int MessageReference(const std::string& text) {
    const size_t p = text.find("+CMGS:");
    if (p == std::string::npos) return -1;
    std::string rest = text.substr(p + 6);
    const size_t end = rest.find_first_of("\r\n,");
    if (end != std::string::npos) rest.erase(end);
    int ref = -1;
    return ReadBoundedInt(rest, 0, 0x7fffffff, ref) ? ref : -1;
}

constexpr long AttemptsBeforeRestart = 2;
constexpr long AttemptsBeforeGivingUp = 2;  // a line that failed more often is dropped

}  // namespace

// Reads up to the "> " prompt within the prompt time-out; an error result ends it too.
std::string TLuGSMThread::ReadPrompt() {
    std::string got;
    const uint32_t start = TickNow();
    while (got.find('>') == std::string::npos && !HasFinalResult(got) && got.size() < 4096) {
        const uint32_t spent = TickElapsed(start, TickNow());
        if (spent >= static_cast<uint32_t>(PromptTimeout)) break;
        if (!WaitInput(PromptTimeout - static_cast<int>(spent))) break;
        got += Serial.ReadChunk(0);
        if (PortFailed()) break;
    }
    return got;
}

// Reports that arrive while the answer is awaited (a burst of messages) are dispatched
// once they fill a piece; the answer's own lines stay.
std::string TLuGSMThread::CollectAnswer(std::string text) {
    int wait = FirstAnswerTimeout;
    while (!HasFinalResult(text) && !PortFailed()) {
        if (text.size() >= MaxReplyText) text = DispatchReportsOf(WholeLines(std::move(text)));
        if (!WaitInput(wait)) break;
        text += Serial.ReadChunk(0);
        wait = NextAnswerTimeout;
    }
    return WholeLines(std::move(text));
}

std::string TLuGSMThread::DispatchReportsOf(const std::string& lines) {
    std::string answer, reports;
    size_t start = 0;
    while (start < lines.size()) {
        size_t end = lines.find('\n', start);
        end = end == std::string::npos ? lines.size() : end + 1;
        const std::string line = lines.substr(start, end - start);
        (line.rfind("+CMGS:", 0) == 0 || line.rfind("> ", 0) == 0 ? answer : reports) += line;
        start = end;
    }
    Log(reports);
    DispatchPiece(reports);
    RaiseAfterComRx();
    return answer;
}

// The attempt count lives in the line's mark. The second failure restarts the link (with
// the built-in initialisation); a line that failed more than twice is given up.
void TLuGSMThread::CountFailedAttempt(const std::string& line) {
    long attempts = 0;
    {
        std::lock_guard<std::mutex> g(FLock);
        if (FSendQueue.Empty() || FSendQueue[0] != line) return;
        attempts = FSendQueue.Mark(0) + 1;
        FSendQueue.SetMark(0, attempts);
    }
    if (attempts == AttemptsBeforeRestart && FOwner->AutoModemINIT()) {
        Closing = true;
        ModemOff();
        ConnectRequest = crConnect;
        ReportError("TimeOUT --> Quiet Modem RESTART");
    }
}

bool TLuGSMThread::RemovePart(const std::string& line) {
    std::lock_guard<std::mutex> g(FLock);
    if (FSendQueue.Empty() || FSendQueue[0] != line) return false;
    FSendQueue.Delete(0);
    return true;
}

long TLuGSMThread::PartAttempts(const std::string& line) const {
    std::lock_guard<std::mutex> g(FLock);
    return !FSendQueue.Empty() && FSendQueue[0] == line ? FSendQueue.Mark(0) : 0;
}

void TLuGSMThread::RaiseAfterSend(const TPartLine& part, int ref, int status) {
    std::string marker = part.Marker;
    const std::string text = part.PlainText();
    const bool waitReport = FOwner->SMSReport();
    OnMain([&] {
        FOwner->DoAfterSend(marker, part.Number, status, text, ref, part.PartNumber, part.PartCount,
                            waitReport);
    });
    const int left = static_cast<int>(SendQueueCount());
    OnMain([this, left] { FOwner->DoSendProgress(left); });
}

void TLuGSMThread::GiveUpPart(const std::string& line, const TPartLine& part,
                              const std::string& text) {
    if (Has(text, "ERROR")) Log("ERROR SENDING SMS");
    RemovePart(line);
    RaiseAfterSend(part, -1, 0);
    ReportError(WithCode("SendSMS error: SMS REJECTED", text));
    Error = true;
    ModemOff();
}

void TLuGSMThread::PartSent(const std::string& line, const TPartLine& part,
                            const std::string& text) {
    Log("****** [ v.3.x Sending SMS ] ******\r\n" + text + "---END OF BUFFER---\r\n");
    RaiseAfterComRx();
    const int ref = MessageReference(text);
    RemovePart(line);
    RaiseAfterSend(part, ref, ref >= 0 ? 1 : 0);
    if (Has(text, "+CMT") || Has(text, "+CLIP") || Has(text, "+CDS")) DispatchReply(text);
}

std::string TLuGSMThread::ExchangePart(const TPartLine& part) {
    Serial.WriteText("AT+CMGS=" + std::to_string(part.TpduLength) + "\r");
    std::string text;
    if (WaitInput(PromptTimeout)) text = ReadPrompt();
    if (PortFailed()) {
        ReportError("SendPDU error: " + Serial.LastErrorDesc());
        return text;
    }
    // A refusal instead of the prompt: the body would only be taken for a command.
    if (HasFinalResult(text)) return text;
    Serial.AtTimeout = FOwner->ATTimeout();
    text += Serial.SendModemCommand(part.Pdu + '\x1A');
    if (PortFailed()) return text;
    return CollectAnswer(text);
}

void TLuGSMThread::SendMessagePart() {
    std::string line;
    {
        std::lock_guard<std::mutex> g(FLock);
        if (FSendQueue.Empty()) return;
        line = FSendQueue[0];
    }
    TPartLine part;
    if (!ParsePartLine(line, part)) {
        RemovePart(line);
        ReportError("SendSMS error: SMS REJECTED");
        return;
    }
    const TModemAbilities a = Abilities();
    if (!FKeepLinkSent && a.CMMS.Available) {
        Log(a.CMMS.Command);
        Log(SendSerialAT(a.CMMS.Command, true));
        FKeepLinkSent = true;
    }
    Step = 19;
    const std::string text = ExchangePart(part);
    Step = 0;
    if (PortFailed()) {
        // The modem went away mid-send: the part stays queued for the next connection.
        const std::string desc = Serial.LastErrorDesc();
        CountFailedAttempt(line);
        Error = true;
        ModemOff();
        ReportError("SendPDU error: " + desc);
        return;
    }
    const bool answered = Has(text, "+CMGS:") || HasFinalResult(text);
    if (answered && !IsRefusal(text)) {
        PartSent(line, part, text);
        if (SendQueueCount() == 0) FKeepLinkSent = false;
        return;
    }
    if (answered) {
        Log(text + "\r\nERROR SENDING SMS  TRY ONCE MORE\r\n");
        const std::string code = ErrorResultLine(text);
        ReportError(code.empty() ? "SendSMS error(timeout): ERROR SENDING SMS"
                                 : "SendSMS error: " + code);
        CountFailedAttempt(line);
    } else {
        Log("---- Buffer START ----\r\n" + text + "\r\nTimeOUT - ERROR / errorstep = 19\r\n");
        CountFailedAttempt(line);
        ReportError("SendSMS error: TimeOUT");
    }
    RaiseAfterComRx();
    if (PartAttempts(line) > AttemptsBeforeGivingUp) GiveUpPart(line, part, text);
}

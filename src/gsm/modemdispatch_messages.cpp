// Received messages: read by index (+CMGR), listed (+CMGL), announced by index (+CMTI),
// routed to the port (+CMT), and status reports (+CDS).
#include <algorithm>
#include <optional>
#include <string>

#include "gsm/codecs/hex.h"
#include "gsm/modemdispatch.h"
#include "gsm/modemdispatch_text.h"
#include "gsm/codecs/recordpdu.h"
#include "gsm/codecs/smscipher.h"
#include "gsm/codecs/utf.h"

using namespace dispatchtext;

namespace {

// The unread messages of each storage the modem has.
std::vector<std::string> ListingCommands(const TDispatchSettings& s) {
    if (!s.SimStorage && !s.PhoneStorage) return {"AT+CMGL=0"};
    std::vector<std::string> commands;
    if (s.SimStorage) commands.insert(commands.end(), {"AT+CPMS=\"SM\"", "AT+CMGL=0"});
    if (s.PhoneStorage) commands.insert(commands.end(), {"AT+CPMS=\"ME\"", "AT+CMGL=0"});
    return commands;
}

// The storage index in "+CMGL: <index>,..." or after the comma of "+CMTI: "SM",<index>".
std::optional<int> IndexAfter(std::string_view line, char separator) {
    const size_t at = separator == ':' ? line.find(':') : line.rfind(',');
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view rest = line.substr(at + 1);
    if (separator == ':') rest = rest.substr(0, rest.find(','));
    return ParseInt(rest);
}

bool TwoDigits(const std::string& s, size_t at) {
    return s[at] >= '0' && s[at] <= '9' && s[at + 1] >= '0' && s[at + 1] <= '9';
}

// "(02z03)" at the start of a text: the sender's own part numbering. Our own planner
// writes it with angle brackets, "<02z03>", so both are read.
bool HasNumberingPrefix(const std::string& t) {
    if (t.size() < 8 || t[3] != 'z' || !TwoDigits(t, 1) || !TwoDigits(t, 4)) return false;
    return (t[0] == '(' && t[6] == ')') || (t[0] == '<' && t[6] == '>');
}

int NumberOr27000(const std::string& digits, size_t from, size_t count) {
    if (from >= digits.size()) return 27000;
    return ParseInt(digits.substr(from, count)).value_or(27000);
}

// An enciphered text: framed "55" ... "AA", or "66" ... "BB" as the component sends them,
// so that what one sends the other reads.
bool IsEnciphered(const std::string& t) {
    if (t.size() < 4) return false;
    const std::string head = t.substr(0, 2), tail = t.substr(t.size() - 2);
    return (head == "55" && tail == "AA") || (head == "66" && tail == "BB");
}

// The enciphered text of a framed message, or "Decoding ERROR".
std::string Decipher(const std::string& framed, const std::string& pin) {
    const std::string key = SmsCipherKey(pin);
    const auto plain = DecipherSmsText(framed.substr(2, framed.size() - 4), key);
    if (!plain) return "Decoding ERROR";
    // The sender enciphers the key in front of the text.
    return StartsWith(*plain, key) ? plain->substr(key.size()) : *plain;
}

// A status report's recipient as messages name their senders: "+" for an international
// number (type of number 1), which the record decoder leaves out.
std::string RecipientNumber(const std::string& pdu, const std::string& digits) {
    int scOctets = 0, type = 0;
    if (digits.empty() || !TryReadOctet(pdu, 0, scOctets)) return digits;
    // Service centre, first octet, TP-MR and the address length come before the type.
    const size_t typePos = 2 * (1 + static_cast<size_t>(scOctets) + 3);
    if (!TryReadOctet(pdu, typePos, type) || ((type >> 4) & 7) != 1) return digits;
    return "+" + digits;
}

}  // namespace

void TModemDispatch::ReadMessage(const TLines& lines, const TDispatchSettings& s) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!StartsWith(lines[i], "+CMGR:")) continue;
        const std::string pdu = PduAfter(lines, i, "+CMGR:");
        if (!pdu.empty()) DeliveredMessage(pdu, s);
        const std::string command = FTarget.CurrentCommand();
        const size_t eq = command.find('=');
        const auto index =
            eq == std::string::npos ? std::nullopt : ParseInt(command.substr(eq + 1));
        FTarget.InsertCommandAfterCurrent(
            s.DeleteSMSafterRead && index ? "AT+CMGD=" + std::to_string(*index) : "AT");
        return;  // one message per read
    }
}

void TModemDispatch::ListedMessages(const TLines& lines, const TDispatchSettings& s) {
    // Deleted before the listing of the next storage selects it: an index names a message
    // of the storage selected now.
    std::vector<std::string> deletions;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!StartsWith(lines[i], "+CMGL:")) continue;
        const std::string pdu = PduAfter(lines, i, "+CMGL:");
        if (pdu.empty()) continue;
        TSmsPdu record;
        if (!DecodeRecordPdu(true, pdu, record)) {
            FTarget.ReportQuietError("Thread (+CMGL:) ERROR: PDU cannot be decoded: " +
                                     pdu.substr(0, 400));
            continue;
        }
        if (record.Kind == skStatusReport) {
            RaiseStatusReport(pdu, record);
        } else if (record.Kind == skDeliver) {
            if (!DeliveredMessage(pdu, s)) continue;  // kept on the modem
        } else {
            continue;
        }
        const auto index = IndexAfter(lines[i], ':');
        if (s.DeleteSMSafterRead && index) deletions.push_back("AT+CMGD=" + std::to_string(*index));
    }
    if (!deletions.empty()) FTarget.InsertCommandsAtFront(deletions);
}

void TModemDispatch::NewMessageIndication(const TLines& lines, const TDispatchSettings& s) {
    if (s.DisableIncomingSMS) return;
    bool any = false;
    int highest = 0;
    for (const std::string_view line : lines) {
        if (!StartsWith(line, "+CMTI:")) continue;
        any = true;
        highest = std::max(highest, IndexAfter(line, ',').value_or(1));
    }
    if (!any) return;
    // A capacity the modem did not tell (negative) says nothing about a full memory.
    if (s.SMSPhoneCapacity > 0 && highest > s.SMSPhoneCapacity - 10) FTarget.RaiseSMSMemoryFull();
    // One listing reads every new message: a burst of indications queues it once. A
    // listing already under way may have passed the storage that holds the new one.
    const std::vector<std::string> listing = ListingCommands(s);
    if (FTarget.HasCommand(listing.front())) return;
    for (const std::string& command : listing) FTarget.AppendCommand(command);
}

void TModemDispatch::RoutedMessages(const TLines& lines, const TDispatchSettings& s) {
    if (s.DisableIncomingSMS) return;
    bool any = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!StartsWith(lines[i], "+CMT:")) continue;
        const std::string pdu = PduAfter(lines, i, "+CMT:");
        if (pdu.empty()) continue;
        DeliveredMessage(pdu, s);
        any = true;
    }
    if (any && !FTarget.HasCommand("AT")) FTarget.AppendCommand("AT");
}

void TModemDispatch::StatusReports(const TLines& lines, const TDispatchSettings&) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!StartsWith(lines[i], "+CDS:")) continue;
        const std::string pdu = PduAfter(lines, i, "+CDS:");
        if (pdu.empty()) continue;
        TSmsPdu record;
        if (DecodeRecordPdu(true, pdu, record) && record.Kind == skStatusReport)
            RaiseStatusReport(pdu, record);
        else
            FTarget.ReportQuietError("Thread (+CDS:) ERROR: not a status report: " +
                                     pdu.substr(0, 400));
    }
}

void TModemDispatch::RaiseStatusReport(const std::string& pdu, const TSmsPdu& record) {
    TDispatchedSms sms;
    sms.Pdu = pdu;
    sms.Text = "Status REPORT ";
    sms.TelNr = RecipientNumber(pdu, record.Address);
    sms.UDHInfo.Reference = record.MessageReference;
    sms.UDHInfo.Delivered = record.Status < 3 ? 1 : 0;
    sms.UDHInfo.Status = record.Status;
    sms.TimeStamp = FTarget.DateTimeText(record.TimeStamp);
    sms.StatusReport = true;
    FTarget.RaiseAfterComRx();
    FTarget.RaiseNewSMS(sms);
}

bool TModemDispatch::DeliveredMessage(const std::string& pdu, const TDispatchSettings& s) {
    TDispatchedSms sms;
    sms.Pdu = pdu;
    FDecoder.ParsePdu(pdu);
    // Not a message from nobody dated 1899: an error that names the PDU.
    if (!FDecoder.Readable()) {
        FTarget.ReportQuietError("Thread (SMS) ERROR: PDU cannot be decoded: " + pdu.substr(0, 400));
        return false;
    }
    sms.TelNr = FDecoder.GetSender();
    sms.Text = Utf16ToUtf8(FDecoder.GetText());
    sms.IsUDH = FDecoder.HasHeader();
    if (sms.IsUDH) {
        const TConcatInfo concat = DecodeConcatInfo(pdu);
        sms.UDHInfo.Reference = concat.Reference;
        sms.UDHInfo.Total = concat.Total;
        sms.UDHInfo.Part = concat.Part;
    } else if (HasNumberingPrefix(sms.Text)) {
        NumberedPart(sms);
    }
    TRecipientResult r = ExtractRecipient(sms.Text, s);
    sms.Recipient = std::move(r.Recipient);
    sms.Text = std::move(r.Text);
    sms.TimeStamp = FTarget.DateTimeText(FDecoder.GetTimeStamp());
    FTarget.Log("\r\n[ NOWY SMS ]\r\n");
    FTarget.Log("\r\n[OD: " + sms.TelNr + "]\r\n");
    FTarget.Log("\r\n[TEXT: " + sms.Text + "]\r\n");
    FTarget.Log("\r\n[Time: " + sms.TimeStamp + "]\r\n");
    FTarget.Log("\r\n[ aRef: " + std::to_string(sms.UDHInfo.Reference) +
                ",     aTot: " + std::to_string(sms.UDHInfo.Total) +
                ",    aNum: " + std::to_string(sms.UDHInfo.Part) + " ]");
    RaiseReceivedText(sms, s);
    return true;
}

// A part numbered by the sender without a header: the reference is made from the
// sender's number so that parts of one sender's message share it.
void TModemDispatch::NumberedPart(TDispatchedSms& sms) const {
    const std::string& t = sms.Text;
    sms.IsUDH = true;
    sms.UDHInfo.Part = ParseInt(t.substr(1, 2)).value_or(0);
    sms.UDHInfo.Total = ParseInt(t.substr(4, 2)).value_or(1);
    const std::string digits = StartsWith(sms.TelNr, "+") ? sms.TelNr.substr(1) : sms.TelNr;
    int reference = 0;
    for (const char c : digits) reference ^= static_cast<unsigned char>(c);
    reference += NumberOr27000(digits, 0, 4) + NumberOr27000(digits, 4, 4) +
                 NumberOr27000(digits, 8, 3) + sms.UDHInfo.Total;
    sms.UDHInfo.Reference = reference;
    sms.Text.erase(0, 7);
}

void TModemDispatch::RaiseReceivedText(const TDispatchedSms& sms, const TDispatchSettings& s) {
    const std::string& t = sms.Text;
    if (IsEnciphered(t)) {
        FTarget.RaiseSecretSMS(Decipher(t, s.EncodePIN), sms.TelNr);
        return;
    }
    FTarget.RaiseAfterComRx();
    for (const std::string& question : s.PromoQuestions) {
        if (!question.empty() && StartsWithNoCase(t, question)) {
            FTarget.RaiseNewQuestion(sms, question);
            return;
        }
    }
    FTarget.RaiseNewSMS(sms);
}

// The dispatch of what a GSM modem reports, as the reply to a command or on its own:
// phone-book lines, received messages and status reports, new-message indications,
// calls, call-state indicators, battery and signal readings. It turns them into calls
// on a target (the modem thread and its component, or a test's fake), and never throws.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "gsm/codecs/smsdecoder.h"
#include "toolkit/datetime.h"

struct TSmsPdu;

// The component's properties that the dispatch reads, taken once per reply.
struct TDispatchSettings {
    bool DisableIncomingSMS = false;
    bool DeleteSMSafterRead = false;
    int SMSPhoneCapacity = 0;
    // Whether the modem told the size of each message storage: one it refused (a modem
    // without phone storage) is not listed.
    bool SimStorage = true;
    bool PhoneStorage = true;
    std::vector<std::string> PromoQuestions;
    std::string PrefixForCountry = "+48";
    bool HangUpVoiceConnection = false;
    int HangUpSignalCount = 0;
    bool CanCheckPower = true;
    bool CanCheckSignal = true;
    char RecipientSepStart = '=';  // character 0: none
    char RecipientSepStop = '.';
    std::vector<std::string> RecipientsTable;
    std::vector<std::string> RecipientsGroups;
    std::string EncodePIN;
    bool PhoneBookUcs2 = true;  // phone-book names arrive as UCS-2 hex
};

// Concatenation data of a received message; for a status report Reference is the
// message reference, Delivered is 1 when the status is below 3.
struct TDispatchUdh {
    int Reference = 0, Total = 0, Part = 0, Delivered = 0, Status = 0;
};

// The received-message fields that OnNewSMS passes.
struct TDispatchedSms {
    std::string Pdu, Text, TelNr, Recipient, TimeStamp;
    bool IsUDH = false, StatusReport = false;
    TDispatchUdh UDHInfo;
};

struct TDispatchReading {
    int Signal = -1;
    bool AcPower = false;
    int BatteryStatus = -1;
    std::string StringSignal;
};

// In the component's order: inCall, outCall, connectCall, noCall, connectedCall.
enum class TDispatchCallStatus { inCall, outCall, connectCall, noCall, connectedCall };

// Everything the dispatch asks of the modem thread and its component. Each Raise
// writes the component's fields it passes, then raises the event.
class TModemDispatchTarget {
public:
    virtual ~TModemDispatchTarget() = default;

    virtual TDispatchSettings Settings() const = 0;

    virtual void AddPhoneBookLine(const std::string& line) = 0;
    virtual void RaiseGetPhoneBook() = 0;
    virtual void RaiseNewSMS(const TDispatchedSms& sms) = 0;
    virtual void RaiseNewQuestion(const TDispatchedSms& sms, const std::string& question) = 0;
    virtual void RaiseSecretSMS(const std::string& text, const std::string& from) = 0;
    virtual void RaiseSMSMemoryFull() = 0;
    virtual void RaiseRing(const std::string& number) = 0;
    virtual void RaiseCallBusy(bool busy, TDispatchCallStatus status) = 0;
    virtual void RaiseCheckSignalPower(const TDispatchReading& reading) = 0;
    // Hands the thread's log lines out through OnAfterComRx.
    virtual void RaiseAfterComRx() = 0;
    // Sets LastErrorText and runs ReportQuietError.
    virtual void ReportQuietError(const std::string& lastErrorText) = 0;
    // One line to the thread's log lines.
    virtual void Log(const std::string& line) = 0;

    // The command whose reply is being dispatched; empty for unsolicited lines.
    virtual std::string CurrentCommand() const = 0;
    virtual bool HasCommand(const std::string& command) const = 0;
    virtual void AppendCommand(const std::string& command) = 0;
    // The commands run in the order given, before everything queued.
    virtual void InsertCommandsAtFront(const std::vector<std::string>& commands) = 0;
    virtual void InsertCommandAfterCurrent(const std::string& command) = 0;
    // Reads SendOneSignal and clears it.
    virtual bool TakeSendOneSignal() = 0;

    // A monotonic clock in milliseconds, for the ring rule.
    virtual int64_t NowMs() const = 0;
    // A time stamp in the default date-time format.
    virtual std::string DateTimeText(TDateTime stamp) const = 0;
};

// Which "+CIEV:" numbers stand for the call and call-setup indicators; 0 for none.
struct TIndicatorNumbers {
    int Call = 1;
    int CallSetup = 3;
    bool operator==(const TIndicatorNumbers&) const = default;
};

// The numbers from a modem's reply to "AT+CIND=?", by indicator name; 1 and 3 when the
// reply names no indicators, 0 for one that a readable list lacks.
TIndicatorNumbers ParseIndicatorList(std::string_view reply);

// The signal percentage of "+CSQ: <rssi>,<ber>": 0 for rssi 99 or an unreadable one.
int SignalPercent(std::string_view csqLine);

struct TRecipientResult {
    std::string Recipient;  // empty when none was found
    std::string Text;       // the text without the address, lead-in appended
};

// The recipient address at the start of a received text ("=!lamp. on", "kitchen. on").
TRecipientResult ExtractRecipient(const std::string& text, const TDispatchSettings& settings);

class TModemDispatch {
public:
    explicit TModemDispatch(TModemDispatchTarget& target);

    void DispatchReply(const std::string& text);
    // A piece of a reply still arriving: dispatched as a reply, except that what belongs
    // to the reply's end (OnGetPhoneBook) waits for DispatchReply of its last piece.
    void DispatchPiece(const std::string& text);
    void SetIndicatorNumbers(const TIndicatorNumbers& numbers) { FIndicators = numbers; }

private:
    using TLines = std::vector<std::string_view>;

    void PhoneBook(const TLines& lines, const TDispatchSettings& s);
    void ReadMessage(const TLines& lines, const TDispatchSettings& s);
    void ListedMessages(const TLines& lines, const TDispatchSettings& s);
    void NewMessageIndication(const TLines& lines, const TDispatchSettings& s);
    void RoutedMessages(const TLines& lines, const TDispatchSettings& s);
    void StatusReports(const TLines& lines, const TDispatchSettings& s);
    void CallerIdentification(const TLines& lines, const TDispatchSettings& s);
    void Indicators(const TLines& lines);
    void Readings(const TLines& lines, const TDispatchSettings& s);

    // A message as SMS-DELIVER (or a stored SMS-SUBMIT): decoded, logged and raised.
    // False (reported, nothing raised) for a PDU whose fields cannot be read.
    bool DeliveredMessage(const std::string& pdu, const TDispatchSettings& s);
    void NumberedPart(TDispatchedSms& sms) const;
    void RaiseReceivedText(const TDispatchedSms& sms, const TDispatchSettings& s);
    void RaiseStatusReport(const std::string& pdu, const TSmsPdu& record);
    // The PDU line after the header at index i; empty when it is missing.
    std::string PduAfter(const TLines& lines, size_t i, const char* what);

    TModemDispatchTarget& FTarget;
    TSMS FDecoder;
    TIndicatorNumbers FIndicators;
    int FRingCounter = 0;
    std::string FLastCaller;
    int64_t FLastRingMs = 0;
    bool FHasRung = false;
    // A PDU header ("+CMT:", "+CDS:", "+CMGL:", "+CMGR:") that ended a reply or a piece:
    // its PDU line comes with the next.
    std::string FPendingHeader;
    bool FInPiece = false;          // dispatching a piece of a longer reply
    bool FPhoneBookPending = false;  // a piece held phone-book lines
    std::string FCarriedLine;
};

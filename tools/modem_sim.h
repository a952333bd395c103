// A GSM modem on a pseudo-terminal, answering AT commands in PDU mode as 27.007 and
// 27.005 modems do, with switches that make it misbehave the ways real modems do.
// Used by tiktaal-modem (the command-line tool), the tests and the benchmarks.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct TModemSimOptions {
    std::string LinkPath;             // the symbolic link to the pseudo-terminal the engine opens
    int DelayMs = 0;                  // every answer comes this late
    // Commands (prefixes) answered this many ms late: a slow phone.
    std::vector<std::pair<std::string, int>> SlowCommands;
    bool Silent = false;              // reads everything, answers nothing
    bool Garbage = false;             // answers every command with noise and no result code
    bool HalfLine = false;            // answers every command with half a line, then nothing
    bool Flood = false;               // answers every command with a flood of bytes without CR
    bool NoPrompt = false;            // AT+CMGS gets no "> " prompt (the PDU is still taken)
    bool NoMessageReference = false;  // a sent message is answered "OK" without "+CMGS:"
    int RefuseSends = 0;              // the first N messages are refused
    // Real modems end a refusal with a numbered code: "+CME ERROR: n", "+CMS ERROR: n".
    bool ErrorCodes = false;
    std::string Charset = "UCS2";  // the TE character set at start (AT+CSCS)
    bool NoUcs2 = false;           // refuses AT+CSCS="UCS2"
    // Indicator names in the order of the AT+CIND=? reply.
    std::vector<std::string> Indicators = {"call",   "service", "callsetup", "battchg",
                                           "signal", "roam",    "smsfull"};
    std::vector<std::string> ErrorCommands;   // commands (prefixes) answered with an error
    std::vector<std::string> SilentCommands;  // commands (prefixes) never answered
    // Replies put in place of the usual ones: command (prefix) -> information lines.
    std::vector<std::pair<std::string, std::vector<std::string>>> Replies;
    // The far side closes (an unplugged modem) on receiving this command (prefix, or "PDU"
    // for a message body); each rule fires once.
    std::vector<std::string> VanishOn;
    int ReturnAfterMs = -1;  // after vanishing, come back on the same link (-1: stay away)
    std::string RecordPath;  // every received command, time-stamped, appended here
    std::vector<std::string> StoredPdus;  // unread messages on the SIM at start
    int StoredMessages = 0;               // and this many generated 160-character ones
    int PhoneBookEntries = 0;             // generated entries added to the SIM's phone book
    // Message storage sizes. A message the network delivers (control "deliver") is stored
    // on the SIM and announced with +CMTI; with the SIM full it is refused and lost.
    int SimCapacity = 30;
    int PhoneCapacity = 100;
    bool NoPhoneStorage = false;  // refuses AT+CPMS="ME": a modem with SIM storage only
};

// A 160-character 7-bit SMS-DELIVER from +48123456789 whose text begins "message <n> ";
// the simulator's own generated traffic, and what tests look for.
std::string GeneratedMessagePdu(int n);
std::string GeneratedMessageText(int n);
// An SMS-DELIVER of a 7-bit text (letters, digits, blanks and simple punctuation).
std::string DeliverPduOf(const std::string& text, const std::string& from = "48123456789");

struct TReceivedCommand {
    int64_t UnixMs = 0;
    std::string Text;  // a command without its CR, or a message body ending in "^Z"
};

class TModemSim {
public:
    explicit TModemSim(TModemSimOptions options);
    ~TModemSim();
    TModemSim(const TModemSim&) = delete;
    TModemSim& operator=(const TModemSim&) = delete;

    // Opens the pseudo-terminal, makes the link and starts answering on a thread of its own.
    bool Start();
    void Stop();
    // One control line (see tiktaal-modem --help); any thread.
    void Control(const std::string& line);

    std::vector<TReceivedCommand> Received() const;
    // Received commands that begin with prefix.
    int CountReceived(const std::string& prefix) const;
    // Message bodies taken and answered as sent.
    std::vector<std::string> SentPdus() const;
    bool Present() const { return FMaster >= 0; }
    int Vanishings() const { return FVanishings; }
    // Messages the network delivered while the SIM was full: lost.
    int RefusedDeliveries() const { return FRefusedDeliveries; }
    // Messages in each storage now.
    int StoredCount(const std::string& storage) const;
    const TModemSimOptions& Options() const { return FOptions; }

    // The answer to one command line, framed as on the wire (echo excluded); exposed for
    // tests of the simulator itself.
    std::string AnswerFor(const std::string& command);

private:
    struct TPhoneEntry {
        std::string Number, Name;  // name in UTF-8
    };
    struct TStoredMessage {
        int Index = 0;
        int Status = 0;  // 0 unread, 1 read
        std::string Pdu;
    };

    void Run();
    bool OpenPty();
    void ClosePty();
    void Vanish();
    void Write(const std::string& bytes);
    void TakeBytes(const char* data, size_t count);
    void TakeCommand(const std::string& command);
    void TakeMessageBody(const std::string& body);
    void Record(const std::string& text);
    bool VanishRuleFires(const std::string& text);
    void RunControlLines();
    void RunControl(const std::string& line);
    void Pause(int ms);

    // The answer's information lines and result code.
    struct TAnswer {
        std::vector<std::string> Lines;
        std::string Result = "OK";
        bool Prompt = false;
    };
    TAnswer Answer(const std::string& upper, const std::string& command);
    TAnswer AnswerQuery(const std::string& upper, const std::string& command);
    TAnswer AnswerStorage(const std::string& upper, const std::string& command);
    TAnswer AnswerPhoneBook(const std::string& upper, const std::string& command);
    TAnswer AnswerCharset(const std::string& upper, const std::string& command);
    TAnswer Refusal(int cmeCode) const;
    std::string Framed(const TAnswer& answer) const;
    std::string EncodeName(const std::string& utf8) const;
    std::string IndicatorRanges() const;
    std::string IndicatorValues() const;
    std::vector<TStoredMessage>& Storage(const std::string& name);
    // Stores on the SIM at the lowest free index; -1 when it is full.
    int StoreOnSim(const std::string& pdu);
    void Deliver(const std::string& pdu);

    TModemSimOptions FOptions;
    std::thread FThread;
    std::atomic<bool> FStop{false};
    int FWakePipe[2] = {-1, -1};
    std::atomic<int> FMaster{-1};
    int FSlave = -1;
    std::string FPtyName;
    std::atomic<int> FVanishings{0};
    std::atomic<int> FRefusedDeliveries{0};
    int64_t FReturnAt = -1;  // monotonic ms

    mutable std::mutex FLock;  // guards the control queue, the records and the storages
    std::deque<std::string> FControlQueue;
    std::vector<TReceivedCommand> FReceived;
    std::vector<std::string> FSentPdus;

    // Modem state: touched by the simulator's thread only (and by AnswerFor in tests).
    bool FEcho = true;
    std::string FInput;
    bool FInMessageBody = false;
    int FNextReference = 1;
    int FRefused = 0;
    std::string FCharset;
    std::string FMessageStorage = "SM";
    std::string FPhoneBook = "SM";
    std::map<std::string, std::vector<TPhoneEntry>> FPhoneBooks;
    std::map<std::string, std::vector<TStoredMessage>> FMessages;
    std::vector<bool> FVanishFired;
};

// The GSM modem thread: owns the serial port of one TLuGSM, connects and initialises the
// modem, sends queued AT commands and message parts, listens for what the modem reports on
// its own, and reports to the component through synchronous calls on the main thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gsm/lugsm.h"
#include "gsm/codecs/smsdecoder.h"
#include "serial/pollwait.h"
#include "serial/serialdevice.h"
#include "toolkit/stringlist.h"
#include "toolkit/thread.h"

// What the modem showed it can do, and the commands that use it.
struct TModemAbilities {
    TATCNMI CNMI;
    TATCMMS CMMS;
    TATCLIP CLIP;
    TATCBC CBC;
    TATCSQ CSQ;
    TATCIND CIND;
    TATCMER CMER;
    TATCMGF CMGF;
};

struct TPartLine;
class TModemDispatch;
class TThreadDispatchTarget;

class TLuGSMThread : public TThread {
public:
    // Runs on the main thread: marks the component active and raises its OnGSMActivate.
    explicit TLuGSMThread(TLuGSM* owner);
    ~TLuGSMThread() override;

    // Waits of the loop, in ms.
    static constexpr int IdleWait = 1000;  // connected, nothing to do: requests wake it
    static constexpr int PausedWait = 20;  // ThreadDelay of an idle or failed link
    static constexpr int ListingTimeout = 35000;
    static constexpr int PromptTimeout = 5000;
    static constexpr int FirstAnswerTimeout = 18500;
    static constexpr int NextAnswerTimeout = 4000;
    static constexpr int ListenTimeout = 5000;  // the longest one listening pass lasts
    // The most text one exchange gathers before it is handed on: a flood without end, or
    // a long burst of reports, comes in bounded pieces of whole lines.
    static constexpr size_t MaxReplyText = 65536;

    enum TConnectRequest : int { crNone = 0, crConnect = 1, crDisconnect = 2 };

    // ---- requests from the component (any thread)
    std::atomic<int> ConnectRequest{crNone};
    std::atomic<bool> SearchStop{false};
    // The stop request: ends the loop and cuts every wait short.
    void RequestStop();
    bool StopRequested() const { return FStopRequest; }
    void SetPort(const std::string& port, const std::string& baud);
    // Ends the idle wait so that a new request is served at once.
    void Wake() { FWake.Raise(); }

    // ---- the command queue (AT commands, oldest first; user commands run tolerant)
    void AddCommand(const std::string& command, bool user = false);
    // Puts commands in front of the queue so that they run in the order given.
    void InsertCommandsAtFront(const std::vector<std::string>& commands);
    // Puts a command right behind the one being sent (or at the front when none is).
    void InsertCommandAfterCurrent(const std::string& command);
    void ClearCommands();
    bool HasCommand(const std::string& command) const;
    size_t CommandCount() const;
    std::vector<std::string> Commands() const;

    // ---- the send queue (message part lines; the mark counts failed attempts)
    void AddMessageParts(const TStringList& parts);
    size_t SendQueueCount() const;
    std::vector<std::string> SendQueueLines() const;

    // ---- the log lines of the current exchange, handed out through OnAfterComRx
    void Log(const std::string& text);
    void SetLog(const std::string& text);  // the log lines become this text
    TStringList TakeLogLines();
    // Copies the log lines to the component and raises its OnAfterComRx.
    void RaiseAfterComRx();
    // Sets LastErrorText and runs ReportQuietError on the main thread.
    void ReportError(const std::string& text);

    // ---- state (read from any thread)
    std::atomic<bool> IsConnected{false};
    std::atomic<bool> Error{false};
    std::atomic<bool> Closing{false};
    std::atomic<bool> InputWaiting{false};
    std::atomic<int> Step{0};
    TModemAbilities Abilities() const;
    // The modem's raw reply to "AT+CIND=?" at connection (empty when refused).
    std::string IndicatorList() const;
    // The TE character set the modem uses now, as it reported it or as last selected
    // ("UCS2", "IRA", "GSM", ...); empty when unknown. Phone-book names come in it.
    std::string CharacterSet() const;
    long ThreadId() const { return FThreadId; }
    // Modem threads not yet freed, of every component.
    static int LiveCount() { return FLiveCount; }

    // ---- incoming-call bookkeeping (this thread only)
    int RingCounter = 0;
    std::string LastCaller;
    TDateTime LastRingTime = 0;

    TLuGSM* Owner() const { return FOwner; }
    TSMS& Decoder() { return FDecoder; }

    // One command/reply exchange; a failure is a reply holding "myERR".
    std::string SendSerialAT(const std::string& command, bool tolerant);
    // Acts on what the modem reported (replies and unsolicited lines).
    void DispatchReply(const std::string& text);
    // A piece of whole lines of a reply still arriving (see DispatchReply).
    void DispatchPiece(const std::string& text);
    // The queued command whose reply is being dispatched; empty while listening.
    std::string CurrentCommand() const {
        std::lock_guard<std::mutex> g(FLock);
        return FCurrentCommand;
    }
    // Whether phone-book names arrive as UCS-2 hex: the set selected for them, or the
    // modem's own when it refused UCS-2 (an unknown set is taken for UCS-2).
    bool PhoneBookUcs2() const {
        const std::string set = CharacterSet();
        return set.empty() || set == "UCS2";
    }
    // A pause that a stop request cuts short.
    void ThreadDelay(int ms);

protected:
    void Execute() override;

private:
    void RunLoop();
    bool ConnectModem();
    bool OpenAndConfigure();
    bool WakeModem();
    bool ProbeAbilities();
    void ProbeOne(const std::string& probe, TATAbility& ability, const std::string& notAvailable);
    bool InitialiseModem();
    void Identify();
    std::vector<std::string> ReadPhoneBookSizes(const std::string& book);
    void QueueStartCommands(const std::vector<std::string>& phoneBookReads);
    std::vector<std::string> InCharacterSetForNames(const std::vector<std::string>& reads);
    void NoteCharacterSet(const std::string& command, const std::string& reply);
    void ModemOff();
    void SendQueuedCommand();
    void SendMessagePart();
    std::string ExchangePart(const TPartLine& part);
    std::string ReadPrompt();
    void CountFailedAttempt(const std::string& line);
    long PartAttempts(const std::string& line) const;
    bool RemovePart(const std::string& line);
    void PartSent(const std::string& line, const TPartLine& part, const std::string& text);
    void GiveUpPart(const std::string& line, const TPartLine& part, const std::string& text);
    void RaiseAfterSend(const TPartLine& part, int ref, int status);
    void Listen();
    bool WaitInput(int ms);
    bool PortFailed() const;
    std::string CollectAnswer(std::string text);
    std::string DispatchReportsOf(const std::string& lines);
    void SerialStatus(THookSerialReason reason);
    TModemDispatch& Dispatch();
    // The whole lines of text; a partial last line goes back in front of the port's
    // buffer, to be completed by the bytes still to come.
    std::string WholeLines(std::string text);
    void PauseUntilWoken(int ms);
    friend class TThreadDispatchTarget;
    // Runs fn on the main thread; an exception from an event handler is dropped there.
    void OnMain(const std::function<void()>& fn);

    TLuGSM* FOwner;
    TSerialDevice Serial;
    TSMS FDecoder;
    std::atomic<bool> FStopRequest{false};
    TWakeSignal FWake;  // requests: ends the idle wait
    TWakeSignal FStop;  // the stop request: ends every wait, never cleared
    std::atomic<long> FThreadId{0};
    static std::atomic<int> FLiveCount;

    mutable std::mutex FLock;  // guards the queues, the log lines, port and abilities
    std::string FPort, FBaud;
    TStringList FCommandQueue;
    TStringList FSendQueue;
    TStringList FLogLines;
    TModemAbilities FAbilities;
    std::string FIndicatorList;
    std::string FCharacterSet;
    bool FKeepLinkSent = false;  // once per batch of message parts
    std::string FCurrentCommand;

    // The report dispatch, made at the first report.
    std::unique_ptr<TThreadDispatchTarget> FDispatchTarget;
    std::unique_ptr<TModemDispatch> FDispatch;
    std::string FDispatchIndicatorList;
};

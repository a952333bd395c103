#include "gsm/lugsmthread.h"

#include "gsm/lugsmthread_dispatch.h"
#include "gsm/modemreplies.h"
#include "net/netutil.h"
#include "toolkit/mainthread.h"
#include "toolkit/thread_id.h"

namespace {

constexpr size_t MaxLogLines = 2000;

bool Contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

std::atomic<int> TLuGSMThread::FLiveCount{0};

TLuGSMThread::TLuGSMThread(TLuGSM* owner)
    : FOwner(owner), FDecoder([this](const std::string& message) { Log(message); }) {
    ++FLiveCount;
    FPort = owner->ComPort();
    FBaud = owner->BaudRate();
    Serial.RaiseExcept = false;
    Serial.WakeHandle = FStop.Handle();
    Serial.InterPacketTimeout = false;
    Serial.MaxLineLength = 4096;
    Serial.OnStatus = [this](TSerialDevice*, THookSerialReason reason, const std::string&) {
        SerialStatus(reason);
    };
    owner->SetLastErrorText("OK");
}

TLuGSMThread::~TLuGSMThread() {
    TerminateAndWait();
    --FLiveCount;
}

// ---------------------------------------------------------------- requests and queues

void TLuGSMThread::RequestStop() {
    FStopRequest = true;
    FStop.Raise();
    FWake.Raise();
}

void TLuGSMThread::SetPort(const std::string& port, const std::string& baud) {
    std::lock_guard<std::mutex> g(FLock);
    FPort = port;
    FBaud = baud;
}

void TLuGSMThread::AddCommand(const std::string& command, bool user) {
    {
        std::lock_guard<std::mutex> g(FLock);
        FCommandQueue.Add(command, user ? 1 : 0);
    }
    Wake();
}

void TLuGSMThread::InsertCommandsAtFront(const std::vector<std::string>& commands) {
    {
        std::lock_guard<std::mutex> g(FLock);
        for (size_t i = 0; i < commands.size(); ++i) FCommandQueue.Insert(i, commands[i]);
    }
    Wake();
}

// The command being sent has left the queue already, so "right behind it" is the front.
void TLuGSMThread::InsertCommandAfterCurrent(const std::string& command) {
    InsertCommandsAtFront({command});
}

void TLuGSMThread::ClearCommands() {
    std::lock_guard<std::mutex> g(FLock);
    FCommandQueue.Clear();
}

bool TLuGSMThread::HasCommand(const std::string& command) const {
    std::lock_guard<std::mutex> g(FLock);
    return FCommandQueue.IndexOf(command) >= 0;
}

size_t TLuGSMThread::CommandCount() const {
    std::lock_guard<std::mutex> g(FLock);
    return FCommandQueue.Count();
}

std::vector<std::string> TLuGSMThread::Commands() const {
    std::lock_guard<std::mutex> g(FLock);
    std::vector<std::string> out;
    for (const auto& e : FCommandQueue) out.push_back(e.Text);
    return out;
}

void TLuGSMThread::AddMessageParts(const TStringList& parts) {
    {
        std::lock_guard<std::mutex> g(FLock);
        for (const auto& e : parts) FSendQueue.Add(e.Text, 0);
    }
    Wake();
}

size_t TLuGSMThread::SendQueueCount() const {
    std::lock_guard<std::mutex> g(FLock);
    return FSendQueue.Count();
}

std::vector<std::string> TLuGSMThread::SendQueueLines() const {
    std::lock_guard<std::mutex> g(FLock);
    std::vector<std::string> out;
    for (const auto& e : FSendQueue) out.push_back(e.Text);
    return out;
}

TModemAbilities TLuGSMThread::Abilities() const {
    std::lock_guard<std::mutex> g(FLock);
    return FAbilities;
}

std::string TLuGSMThread::IndicatorList() const {
    std::lock_guard<std::mutex> g(FLock);
    return FIndicatorList;
}

std::string TLuGSMThread::CharacterSet() const {
    std::lock_guard<std::mutex> g(FLock);
    return FCharacterSet;
}

void TLuGSMThread::NoteCharacterSet(const std::string& command, const std::string& reply) {
    const std::string set = SelectedCharacterSet(command);
    if (set.empty() || reply.find("OK") == std::string::npos) return;
    std::lock_guard<std::mutex> g(FLock);
    FCharacterSet = set;
}

// ---------------------------------------------------------------- log and reports

void TLuGSMThread::Log(const std::string& text) {
    TStringList lines;
    lines.SetText(text);
    std::lock_guard<std::mutex> g(FLock);
    for (const auto& e : lines) {
        // Without anyone taking the lines the list must not grow for ever.
        if (FLogLines.Count() >= MaxLogLines) FLogLines.Delete(0);
        FLogLines.Add(e.Text);
    }
}

void TLuGSMThread::SetLog(const std::string& text) {
    {
        std::lock_guard<std::mutex> g(FLock);
        FLogLines.Clear();
    }
    Log(text);
}

TStringList TLuGSMThread::TakeLogLines() {
    std::lock_guard<std::mutex> g(FLock);
    TStringList lines = FLogLines;
    FLogLines.Clear();
    return lines;
}

void TLuGSMThread::OnMain(const std::function<void()>& fn) {
    try {
        Synchronize(fn);
    } catch (...) {
        // A failing event handler must not end the modem thread.
    }
}

void TLuGSMThread::RaiseAfterComRx() {
    const TStringList lines = TakeLogLines();
    OnMain([this, &lines] { FOwner->DoAfterComRx(lines); });
}

void TLuGSMThread::ReportError(const std::string& text) {
    OnMain([this, &text] {
        FOwner->SetLastErrorText(text);
        FOwner->ReportQuietError();
    });
}

// ---------------------------------------------------------------- waits

void TLuGSMThread::SerialStatus(THookSerialReason reason) {
    if (reason == HR_SerialClose)
        IsConnected = false;
    else if (reason == HR_CanRead)
        InputWaiting = true;
    else if (reason == HR_Wait)
        InputWaiting = false;
}

void TLuGSMThread::ThreadDelay(int ms) { FStop.WaitRaised(ms); }

void TLuGSMThread::PauseUntilWoken(int ms) {
    WaitEitherRaised(FWake, FStop, ms);
    FWake.Clear();
}

// Input within ms; a stop request ends the wait at once.
bool TLuGSMThread::WaitInput(int ms) {
    if (!Serial.InstanceActive()) return false;
    if (!Serial.LineBuffer.empty()) return true;
    return Serial.WaitLineOrWoken(ms, FStop.Handle(), '\n');
}

// Errors that mean the port itself failed (a vanished modem), not a late or long reply.
bool TLuGSMThread::PortFailed() const {
    const int e = Serial.LastError();
    return e != 0 && e != ErrTimeout && e != ErrMaxBuffer && e != ErrNotRead;
}

// ---------------------------------------------------------------- one exchange

std::string TLuGSMThread::WholeLines(std::string text) {
    const size_t end = text.find_last_of('\n');
    const size_t keep = end == std::string::npos ? 0 : end + 1;
    // Noise without any line end is handed on rather than held for ever.
    if (keep == 0 && text.size() + Serial.LineBuffer.size() > MaxReplyText) return text;
    Serial.LineBuffer.insert(0, text, keep, std::string::npos);
    text.erase(keep);
    return text;
}

std::string TLuGSMThread::SendSerialAT(const std::string& command, bool tolerant) {
    const bool listing = Contains(command, "+CMGL") || Contains(command, "+COPS");
    Serial.AtTimeout = listing ? ListingTimeout : FOwner->ATTimeout();
    std::string reply = Serial.SendModemCommand(command);
    if (Serial.LastError() == 0 && Serial.ATResult()) {
        if (WaitInput(FOwner->ATDelay())) reply += WholeLines(Serial.ReadChunk(0));
        return reply;
    }
    // A numbered refusal keeps its code in the error text.
    const std::string refusal = ErrorResultLine(reply);
    const std::string error = Serial.LastError() != 0 ? Serial.LastErrorDesc()
                              : refusal.empty()       ? " *** ERROR *** / not AT result"
                                                      : refusal;
    reply = "myERR;" + error + "  ----> [ " + command + "]";
    ReportError("SendSerialAT error [" + FOwner->ComPort() + "] : " + reply);
    if (!tolerant) {
        Error = true;
        ModemOff();
    }
    return reply;
}

void TLuGSMThread::ModemOff() {
    const bool wasOpen = Serial.InstanceActive();
    if (IsConnected && wasOpen) {
        SetLog("MODEM OFF (without software RESET)\r\n");
        if (FOwner->ResetModemOnClose()) {
            if (Error) {
                SetLog("Modem OFF with ERROR #ErrorStep = " + std::to_string(Step) + "\r\n");
                ReportError("Modem RESET with ERROR");
            } else {
                const std::string reset = FOwner->ResetCMD();
                Serial.AtTimeout = FOwner->ATTimeout();
                const std::string reply = Serial.SendModemCommand(reset);
                SetLog("Modem OFF with soft RESET: [" + reset + "] " + reply + "\r\n");
            }
        }
        RaiseAfterComRx();
    }
    Serial.ClosePort();
    Serial.LineBuffer.clear();
    IsConnected = false;
    FKeepLinkSent = false;
    if (wasOpen) OnMain([this] { FOwner->DoDisconnected(); });
}

// ---------------------------------------------------------------- queued commands

void TLuGSMThread::SendQueuedCommand() {
    std::string command;
    bool user = false;
    {
        std::lock_guard<std::mutex> g(FLock);
        if (FCommandQueue.Empty()) return;
        command = FCommandQueue[0];
        user = FCommandQueue.Mark(0) != 0;
        FCommandQueue.Delete(0);
    }
    {
        std::lock_guard<std::mutex> g(FLock);
        FCurrentCommand = command;
    }
    if (command == "AT+CPBS=\"ME\"" || command == "AT+CPBS=\"SM\"") {
        const std::string head = command == "AT+CPBS=\"ME\"" ? "PHONE" : "SIM";
        OnMain([this, &head] { FOwner->AddPhoneBookLine(head); });
    }
    // A long reply (a full listing, a big phone book, a burst of reports) is logged and
    // dispatched piece by piece while it arrives.
    bool pieces = false;
    Serial.OnReplyPiece = [&](const std::string& piece) {
        if (!pieces) {
            Log("******* AT Command ********");
            Log(command);
            pieces = true;
        }
        Log("> " + piece);
        DispatchPiece(piece);
        RaiseAfterComRx();
    };
    const std::string reply = SendSerialAT(command, user);
    Serial.OnReplyPiece = nullptr;
    if (Contains(reply, "myERR")) {
        Log("******* AT Command [error] ********");
        Log(command);
        Log(">< Błąd wykonania polecenia ><");
        Log(">: (bufRx) -> " + reply + " :<");
        {
            std::lock_guard<std::mutex> g(FLock);
            FCurrentCommand.clear();
        }
        RaiseAfterComRx();
        return;
    }
    if (!pieces) {
        Log("******* AT Command ********");
        Log(command);
    }
    Log("> " + reply);
    NoteCharacterSet(command, reply);
    DispatchReply(reply);
    {
        std::lock_guard<std::mutex> g(FLock);
        FCurrentCommand.clear();
    }
    Log("----------- BufComRx END #1 ---");
    RaiseAfterComRx();
}

// ---------------------------------------------------------------- listening

void TLuGSMThread::Listen() {
    // The idle wait: a whole line, new input, a request or the stop request ends it. A
    // partial line held from the last pass waits for the bytes that complete it.
    const bool readable = Serial.WaitLineOrWoken(IdleWait, FWake.Handle(), '\n');
    FWake.Clear();
    if (!readable && !PortFailed()) return;
    std::string text;
    text.swap(Serial.LineBuffer);
    const uint32_t start = TickNow();
    while (!PortFailed() && text.size() <= MaxReplyText && !Contains(text, "OK") &&
           !Contains(text, "ERROR") && TickElapsed(start, TickNow()) <= ListenTimeout &&
           Serial.WaitLineOrWoken(100, FStop.Handle(), '\n'))
        text += Serial.ReadChunk(0);
    // Only whole lines are dispatched: a report cut by the end of this pass comes whole
    // with the next one.
    text = WholeLines(std::move(text));
    if (PortFailed()) {
        const std::string desc = Serial.LastErrorDesc();
        Closing = true;
        ModemOff();
        Closing = false;
        ReportError("SerialReceivePacket error: " + desc);
        return;
    }
    if (text.empty()) return;
    Log(text);
    RaiseAfterComRx();
    DispatchReply(text);
}

// ---------------------------------------------------------------- the loop

void TLuGSMThread::RunLoop() {
    for (;;) {
        if (FStopRequest) {
            if (IsConnected && !Error) ModemOff();
            break;
        }
        if (SearchStop.exchange(false)) ConnectRequest = crDisconnect;
        const int request = ConnectRequest.exchange(crNone);
        if (request == crConnect && !IsConnected) {
            ClearCommands();
            if (ConnectModem()) {
                OnMain([this] { FOwner->DoConnected(); });
                ReportError("OK");
            } else {
                ModemOff();
            }
            continue;
        }
        if (request == crDisconnect && IsConnected && !Closing) {
            ClearCommands();
            ModemOff();
            continue;
        }
        if (CommandCount() > 0 && Serial.InstanceActive() && !Closing) {
            SendQueuedCommand();
        } else if (SendQueueCount() > 0 && IsConnected && !Error) {
            SendMessagePart();
        } else if (IsConnected && !Error) {
            Listen();
        } else {
            PauseUntilWoken(IdleWait);
        }
    }
}

void TLuGSMThread::Execute() {
    FThreadId = CurrentThreadId();
    try {
        RunLoop();
    } catch (...) {
        // Nothing escapes the thread; the port is closed below either way.
    }
    const bool wasOpen = Serial.InstanceActive();
    Serial.ClosePort();
    IsConnected = false;
    if (wasOpen) OnMain([this] { FOwner->DoDisconnected(); });
}

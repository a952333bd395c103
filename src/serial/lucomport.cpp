#include "serial/lucomport.h"

#include <cmath>

#include "serial/comportlist.h"
#include "serial/lineframe.h"
#include "serial/lucomthread.h"
#include "toolkit/mainthread.h"
#include "toolkit/messagebox.h"

// ---------------------------------------------------------------- AT command collection

TATCommandItem& TATCommands::Add() {
    FItems.push_back(std::make_unique<TATCommandItem>());
    return *FItems.back();
}

void TATCommands::Delete(size_t i) {
    if (i < FItems.size()) FItems.erase(FItems.begin() + static_cast<long>(i));
}

void TATCommands::Assign(const TATCommands& source) {
    if (&source == this) return;
    FItems.clear();
    for (const auto& item : source.FItems) Add().Assign(*item);
}

// ---------------------------------------------------------------- construction

namespace {
unsigned TimerMs(int ms) { return ms < 0 ? 0u : static_cast<unsigned>(ms); }
}  // namespace

TLuComPort::TLuComPort(TComponent* owner) : FOwner(owner), FATCommands(this) {
    // The defaults (COM1, 9600, 8, AT, ...) are the members' own initialisers.
    EnumComPorts(FPortList);

    FCheckTimer.SetOnTimer([this] { CheckTimerTick(); });
    FCheckTimer.SetInterval(TimerMs(FCheckInterval));
    FCheckTimer.SetEnabled(FEnableCheckTimer);

    // A quarter of the check interval on top, rounded half to even; the timer starts
    // enabled as every new timer does and is switched by Loaded or EnableCheckTimer.
    FAnswerTimer.SetOnTimer([this] { AnswerTimerTick(); });
    FAnswerTimer.SetInterval(
        TimerMs(FCheckInterval + static_cast<int>(std::nearbyint(FCheckInterval / 4.0))));

    FUseCRC = false;
    FUseRS485 = false;
    FGeneralCall = false;
}

TLuComPort::~TLuComPort() {
    // The thread calls into this object until it ends; it must be gone first.
    FOnActive = FOnConnected = FOnDisconnected = FOnGetCTS = FOnGetDSR = FOnGetDCD = FOnGetRING =
        FOnATTimeOut = nullptr;
    FOnComError = nullptr;
    FOnRxString = nullptr;
    FOnSendStr = nullptr;
    StopThreadAndWait();
    FCheckTimer.SetEnabled(false);
    FAnswerTimer.SetEnabled(false);
    FCheckTimer.SetOnTimer(nullptr);
    FAnswerTimer.SetOnTimer(nullptr);
}

void TLuComPort::Loaded() {
    TComponent::Loaded();
    SetActive(FActive);
    SetRTS_(FRTS);
    SetDTR_(FDTR);
}

// ---------------------------------------------------------------- settings

std::string TLuComPort::ComPort() const {
    std::lock_guard<std::mutex> g(FSettingsLock);
    return FComPort;
}

void TLuComPort::SetComPort(const std::string& value) {
    std::lock_guard<std::mutex> g(FSettingsLock);
    FComPort = value;
}

std::string TLuComPort::BaudRate() const {
    std::lock_guard<std::mutex> g(FSettingsLock);
    return FBaudRate;
}

void TLuComPort::SetBaudRate(const std::string& value) {
    std::lock_guard<std::mutex> g(FSettingsLock);
    FBaudRate = value;
}

std::string TLuComPort::DataBits() const {
    std::lock_guard<std::mutex> g(FSettingsLock);
    return FDataBits;
}

void TLuComPort::SetDataBits(const std::string& value) {
    std::lock_guard<std::mutex> g(FSettingsLock);
    FDataBits = value;
}

std::string TLuComPort::RS485adr() const {
    std::lock_guard<std::mutex> g(FSettingsLock);
    return FRS485adr;
}

void TLuComPort::SetRS485adr(const std::string& value) {
    std::lock_guard<std::mutex> g(FSettingsLock);
    FRS485adr = value;
}

TLuComPort::TLinkSettings TLuComPort::LinkSettings() const {
    TLinkSettings s;
    {
        std::lock_guard<std::mutex> g(FSettingsLock);
        s.ComPort = FComPort;
        s.BaudRate = FBaudRate;
        s.DataBits = FDataBits;
        s.RS485adr = FRS485adr;
    }
    s.Parity = FParityBits;
    s.Stop = FStopBits;
    s.UseCRC = FUseCRC;
    s.UseRS485 = FUseRS485;
    s.DeadlockTimeout = FDeadlockTimeout;
    return s;
}

// The thread polls Connected; the wake lets it open the port now instead of after its pause.
void TLuComPort::SetConnected(bool value) {
    FConnected = value;
    if (FComThread) FComThread->Wake();
}

void TLuComPort::SetRTS_(bool value) {
    FRTS = value;
    if (FComThread && FComThread->PortOpen) FComThread->ApplyRTS(value);
}

void TLuComPort::SetDTR_(bool value) {
    FDTR = value;
    if (FComThread && FComThread->PortOpen) FComThread->ApplyDTR(value);
}

void TLuComPort::SetCheckInterval(int ms) {
    FCheckInterval = ms;
    FAnswerTimer.SetInterval(TimerMs(ms) * 3u);
}

void TLuComPort::SetEnableCheckTimer(bool value) {
    FEnableCheckTimer = value;
    FCheckTimer.SetEnabled(value);
    FAnswerTimer.SetEnabled(value);
}

// ---------------------------------------------------------------- starting and stopping

void TLuComPort::SetActive(bool value) {
    if (value == FActive && Loading()) return;
    FActive = value;
    if (value && !Loading()) {
        if (FComThread) {
            FComThread->StopRequest = false;  // a thread asked to stop carries on
            return;
        }
        auto* thread = new TLuComThread(this);
        FComThread = thread;
        thread->SetOnTerminate([this](TThread*) { ThreadTerminated(); });
        thread->StopRequest = false;
        thread->Start();
        return;
    }
    FCheckTimer.SetEnabled(false);
    FAnswerTimer.SetEnabled(false);
    if (FComThread) {
        FComThread->StopRequest = true;
        FComThread->Wake();
        DelayWithMessages(200);
        if (FComThread) FComThread->Terminate();
    }
}

void TLuComPort::ThreadTerminated() { FComThread = nullptr; }

// Every wait of the thread is bounded (a write by DeadlockTimeout, a reply by its silence
// limit), so this ends; the messages keep the thread's calls into the main thread served.
void TLuComPort::StopThreadAndWait() {
    if (!FComThread) return;
    FComThread->StopRequest = true;
    FComThread->Wake();
    while (FComThread) {
        ProcessMessages();
        WaitForSynchronize(5);
    }
    WaitThreadFreed();
}

// The thread object frees itself from the message queue just after its end handler; let
// that happen so that nothing of it outlives the owner.
void TLuComPort::WaitThreadFreed() {
    for (int i = 0; i < 100 && TLuComThread::LiveCount() > 0; ++i) DelayWithMessages(1);
}

void TLuComPort::OwnerCloseQuery(bool& canClose) {
    if (!canClose || !FComThread) return;
    FComThread->StopRequest = true;
    FComThread->Wake();
    for (int i = 0; i < 301 && FComThread; ++i) DelayWithMessages(10);
    // A thread cannot be killed without leaving the port locked and this object in use;
    // it ends within its own bounds, so waiting on is the safe way out.
    StopThreadAndWait();
    WaitThreadFreed();
}

// ---------------------------------------------------------------- lines and ports

bool TLuComPort::LinkReady() const {
    return FActive && FConnected && FComThread && FComThread->PortOpen;
}

void TLuComPort::SendStr(const std::string& AString, bool AGeneralCall) {
    if (!LinkReady()) return;
    const bool general = AGeneralCall || FGeneralCall;
    FLastSentStr = AString;
    DoSendStr();
    // The handler may have stopped the link; the thread may be gone by now.
    if (!FComThread) return;
    {
        std::lock_guard<std::mutex> g(FQueueLock);
        FComThread->SendQueue.Add(AString, general ? 1 : 0);
    }
    FComThread->Wake();
}

void TLuComPort::SendStrAt(const std::string& AString, bool AGeneralCall,
                           std::chrono::system_clock::time_point due) {
    if (!LinkReady()) return;
    FLastSentStr = AString;
    DoSendStr();
    if (!FComThread) return;
    {
        std::lock_guard<std::mutex> g(FQueueLock);
        FComThread->TimedLine = {AString, AGeneralCall || FGeneralCall, due, true};
    }
    FComThread->Wake();
}

std::chrono::microseconds TLuComPort::WireTime(size_t characters) const {
    const TLinkSettings s = LinkSettings();
    const int baud = StrToIntOr(s.BaudRate, 9600);
    const int bits = StrToIntOr(s.DataBits, 8);
    const int perChar = 1 + bits + (s.Parity == prNone ? 0 : 1) + (s.Stop == sbTwoStopBits ? 2 : 1);
    if (baud <= 0) return std::chrono::microseconds(0);
    return std::chrono::microseconds(static_cast<int64_t>(characters) * perChar * 1000000 / baud);
}

std::chrono::microseconds TLuComPort::LineLead(const std::string& line, bool general) const {
    const TLinkSettings s = LinkSettings();
    const std::string framed =
        FrameLine(line, general || FGeneralCall, s.UseCRC, s.UseRS485, s.RS485adr);
    return WireTime(framed.size() + 1) + std::chrono::microseconds(FWriteLatencyUs.load());
}

TStringList& TLuComPort::GetComPortList() {
    EnumComPorts(FPortList);
    return FPortList;
}

void TLuComPort::EnumComPorts(TStringList& list) {
    try {
        std::vector<std::string> names;
        if (!ReadComPortNames(names)) ShowMessage(ComPortEnumError);
        SortPortNamesAsText(names);
        list.Clear();
        for (const std::string& n : names) list.Add(n);
    } catch (...) {
        // The list keeps what it held.
    }
}

// ---------------------------------------------------------------- timers

void TLuComPort::CheckTimerTick() {
    if (!FComThread) return;
    FCheckTimer.SetInterval(TimerMs(FCheckInterval));
    {
        std::lock_guard<std::mutex> g(FQueueLock);
        if (!FComThread->SendQueue.Empty()) return;
        FComThread->SendQueue.Insert(0, FCheckCmd, 0);
    }
    FComThread->Wake();
}

void TLuComPort::AnswerTimerTick() {
    if (FActive && FConnected && FComThread && FCheckTimer.Enabled()) {
        FComThread->ReconnectRequest = true;
        FComThread->Wake();
    }
    if (FCheckTimer.Enabled()) DoATTimeOut();
}

void TLuComPort::RestartAnswerTimer() {
    FAnswerTimer.SetEnabled(false);
    FAnswerTimer.SetEnabled(true);
}

// ---------------------------------------------------------------- dispatchers

void TLuComPort::DoActive() {
    if (FOnActive) FOnActive(this);
}

void TLuComPort::DoConnected() {
    if (FOnConnected) FOnConnected(this);
}

void TLuComPort::DoDisconnected() {
    FConnected = false;
    FAT_WORK = false;
    if (FOnDisconnected) FOnDisconnected(this);
}

void TLuComPort::DoComError() {
    if (FComThread && FOnComError) FOnComError(this, FComThread->ErrorCode, FComThread->ErrorText);
}

void TLuComPort::DoRxString() {
    if (FOnRxString) FOnRxString(this, FRxString);
    FAnswerTimer.SetEnabled(false);
    FCheckTimer.SetEnabled(false);
    if (FEnableCheckTimer) FCheckTimer.SetEnabled(true);
}

void TLuComPort::DoGetCTS() {
    if (FOnGetCTS) FOnGetCTS(this);
}

void TLuComPort::DoGetDSR() {
    if (FOnGetDSR) FOnGetDSR(this);
}

void TLuComPort::DoGetDCD() {
    if (FOnGetDCD) FOnGetDCD(this);
}

void TLuComPort::DoGetRING() {
    if (FOnGetRING) FOnGetRING(this);
}

void TLuComPort::DoATTimeOut() {
    if (FOnATTimeOut) FOnATTimeOut(this);
}

void TLuComPort::DoSendStr() {
    if (FOnSendStr) FOnSendStr(this, FLastSentStr);
}

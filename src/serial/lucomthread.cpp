#include "serial/lucomthread.h"

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>

#include "net/netutil.h"
#include "serial/lineframe.h"
#include "serial/lucomport.h"

namespace {

const char CR = '\r';

// Sleeps to a moment of the PC clock, then watches the clock for the last stretch: a wake-up
// from sleep comes a tenth of a millisecond late and, on a busy machine, now and then several
// milliseconds; a thread that is already running is on time.
constexpr auto WatchedStretch = std::chrono::milliseconds(2);

void WaitUntilPrecisely(std::chrono::system_clock::time_point when) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        (when - WatchedStretch).time_since_epoch())
                        .count();
    if (ns > 0) {
        const timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        while (clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
    }
    while (std::chrono::system_clock::now() < when) {
    }
}
constexpr int ThreadExceptionCode = -200;

// Receive-side line errors that the driver reports with a write; the write itself moved.
bool IsLineError(int code) { return code >= ErrFrame && code <= ErrRxParity; }

std::string WriteNotice(int code, const std::string& desc) {
    if (code <= ErrAlreadyOwned) return "err - " + desc;
    return std::to_string(code) + " - Serial Eror: " + TSerialDevice::GetErrorName(code);
}

}  // namespace

std::atomic<int> TLuComThread::FLiveCount{0};

TLuComThread::TLuComThread(TLuComPort* owner) : Owner(owner) {
    ++FLiveCount;
    Serial.DeadlockTimeout = 1000;
    Serial.AtTimeout = 1000;
    Serial.MaxLineLength = MaxReplyLength;
    Serial.PurgeBuffers();  // the port is still closed: this only sets LastError
    Serial.OnStatus = [this](TSerialDevice*, THookSerialReason reason, const std::string&) {
        SerialStatus(reason);
    };
    StopRequest = false;
    ReconnectRequest = false;
    Owner->FActive = true;
    Owner->DoActive();
}

TLuComThread::~TLuComThread() {
    TerminateAndWait();
    --FLiveCount;
}

std::string TLuComThread::FrameLine(const std::string& line, bool general, bool useCRC,
                                    bool useRS485, const std::string& rs485adr) {
    return ::FrameLine(line, general, useCRC, useRS485, rs485adr);
}

void TLuComThread::ApplyDTR(bool value) {
    if (!PortOpen) return;
    FPendingDTR = value ? 0 : 1;
    Wake();
}

void TLuComThread::ApplyRTS(bool value) {
    if (!PortOpen) return;
    FPendingRTS = value ? 0 : 1;
    Wake();
}

void TLuComThread::ApplyPendingLines() {
    const int dtr = FPendingDTR.exchange(-1);
    const int rts = FPendingRTS.exchange(-1);
    if (!PortOpen) return;
    if (dtr >= 0) Serial.SetDTRLine(dtr == 1);
    if (rts >= 0) Serial.SetRTSLine(rts == 1);
}

void TLuComThread::SerialStatus(THookSerialReason reason) {
    if (reason == HR_SerialClose) PortOpen = false;
}

// A request (connect, stop) cuts the pause short.
void TLuComThread::Delay(int ms) { FWake.Wait(ms); }

void TLuComThread::ReportError(int code, const std::string& text) {
    ErrorCode = code;
    ErrorText = text;
    Synchronize([this] { Owner->DoComError(); });
}

void TLuComThread::OpenLink() {
    const TLuComPort::TLinkSettings s = Owner->LinkSettings();
    const int baud = StrToIntOr(s.BaudRate, 9600);
    const int bits = StrToIntOr(s.DataBits, 8);
    const char parity = "NOEMS"[static_cast<int>(s.Parity) % 5];
    const int stop = s.Stop == sbTwoStopBits ? 2 : 0;

    Serial.PurgeBuffers();
    Serial.DeadlockTimeout = s.DeadlockTimeout;
    Serial.OpenPort(s.ComPort);
    if (Serial.LastError() != 0) ReportError(Serial.LastError(), Serial.LastErrorDesc());
    // Configuring a port that did not open fails too, so a failed open gives two notices.
    Serial.ConfigurePort(baud, bits, parity, stop, false, false);
    if (Serial.LastError() != 0) {
        ReportError(Serial.LastError(), Serial.LastErrorDesc());
        StopRequest = true;
        return;
    }
    PortOpen = true;
    ReconnectRequest = false;
    FLinkDown = false;
    FHeadSent = 0;
    FNextModemCheck = TickNow();  // lines already on raise their events at once
    Synchronize([this] { Owner->DoConnected(); });
}

void TLuComThread::CloseLink() {
    PortOpen = false;
    Serial.PurgeBuffers();
    Serial.ClosePort();
}

// How long this pass may wait for input: not at all while a line waits to be written,
// else until the timed line must start or the modem lines are due, and never past
// QuietWait, so the presence probe runs that often on a quiet link. A hang-up ends the
// wait at once.
int TLuComThread::InputWait() {
    int32_t limit = QuietWait;
    if (!FLinkDown) {
        std::lock_guard<std::mutex> g(Owner->FQueueLock);
        if (!SendQueue.Empty()) return 0;
        if (TimedLine.Pending) {
            const auto left = TimedStart(TimedLine) - std::chrono::system_clock::now();
            // The last stretch is slept precisely by WriteTimedLine, not by poll().
            limit = static_cast<int32_t>(std::clamp<int64_t>(
                std::chrono::duration_cast<std::chrono::milliseconds>(left).count() - TimedSleep, 0,
                QuietWait));
        }
    }
    const auto left = static_cast<int32_t>(FNextModemCheck - TickNow());
    return std::clamp<int32_t>(left, 0, limit);
}

// Reply lines are taken as far as they have come and never waited for: a board that ends
// its replies with CR LF leaves a lone LF behind, and waiting for the rest of that would
// hold back every line queued meanwhile. A partial line stays in LineBuffer until more
// input completes it.
void TLuComThread::ReceiveLine() {
    const bool readable = Serial.WaitLineOrWoken(InputWait(), FWake.Handle(), CR);
    // Every request made before this point is seen later in this pass or at the top of
    // the next one; a later one leaves the signal raised for the next wait.
    FWake.Clear();
    if (!readable) return;
    std::string line = Serial.ReadUntil(0, std::string(1, CR));
    const int err = Serial.LastError();
    const auto arrival = std::chrono::system_clock::now();
    // A CR LF reply leaves its LF at the front of the next line.
    if (!line.empty() && line[0] == '\n') line.erase(0, 1);
    if (err == ErrMaxBuffer) ReportError(err, Serial.LastErrorDesc());
    if (line.empty()) return;
    Synchronize([this, &line, arrival] {
        Owner->FRxString = line;
        Owner->FRxTime = arrival;
        Owner->DoRxString();
        Owner->RestartAnswerTimer();
    });
    Owner->FAT_WORK = true;
}

bool TLuComThread::ProbeDevice() {
    Serial.FetchCommState();
    if (Serial.LastError() == 0) return true;
    StopRequest = true;
    ReportError(Serial.LastError(), Serial.LastErrorDesc());
    return false;
}

// The modem lines change no descriptor state that poll() could wait on: they are read
// every QuietWait ms, not in every pass, which also spares a real adapter four requests
// per line written.
bool TLuComThread::ModemCheckDue() {
    const uint32_t now = TickNow();
    if (static_cast<int32_t>(now - FNextModemCheck) < 0) return false;
    FNextModemCheck = now + QuietWait;
    return true;
}

void TLuComThread::CheckModemLines() {
    struct TLine {
        bool (TSerialDevice::*Read)();
        std::atomic<bool> TLuComPort::*State;
        void (TLuComPort::*Dispatch)();
    };
    static const TLine Lines[] = {
        {&TSerialDevice::CTSOn, &TLuComPort::FCTSState, &TLuComPort::DoGetCTS},
        {&TSerialDevice::DSROn, &TLuComPort::FDSRState, &TLuComPort::DoGetDSR},
        {&TSerialDevice::CarrierOn, &TLuComPort::FDCDState, &TLuComPort::DoGetDCD},
        {&TSerialDevice::RingOn, &TLuComPort::FRINGState, &TLuComPort::DoGetRING},
    };
    for (const TLine& l : Lines) {
        const bool on = (Serial.*l.Read)();
        if (on == (Owner->*l.State).load()) continue;
        (Owner->*l.State) = on;
        // Plain copies in the closure: GCC 12's vptr check misreads a member-function
        // pointer called through a captured this.
        TLuComPort* owner = Owner;
        void (TLuComPort::*dispatch)() = l.Dispatch;
        Synchronize([owner, dispatch] { (owner->*dispatch)(); });
    }
}

void TLuComThread::DropHead(bool wholeQueue) {
    std::lock_guard<std::mutex> g(Owner->FQueueLock);
    if (wholeQueue)
        SendQueue.Clear();
    else if (!SendQueue.Empty())
        SendQueue.Delete(0);
    FHeadSent = 0;
}

void TLuComThread::WriteHead(int& failures) {
    std::string line;
    bool general = false;
    {
        std::lock_guard<std::mutex> g(Owner->FQueueLock);
        if (SendQueue.Empty()) return;
        line = SendQueue[0];
        general = SendQueue.Mark(0) == 1;
    }
    const TLuComPort::TLinkSettings s = Owner->LinkSettings();
    CurrentLine = FrameLine(line, general, s.UseCRC, s.UseRS485, s.RS485adr);
    const std::string wire = CurrentLine + CR;
    if (FHeadSent > wire.size()) FHeadSent = 0;
    const std::string rest = wire.substr(FHeadSent);

    int written = 0;
    int err = 0;
    std::string desc;
    if (s.UseCRC) {
        written = Serial.WriteBuffer(rest.data(), static_cast<int>(rest.size()));
        err = Serial.LastError();
        desc = Serial.LastErrorDesc();
    } else {
        if (Serial.WaitWritable(WritableWait)) {
            written = Serial.WriteBuffer(rest.data(), static_cast<int>(rest.size()));
            err = Serial.LastError();
            desc = Serial.LastErrorDesc();
        } else {
            // A port that never drains has not taken the line: count it as a failed write
            // instead of dropping the line as if it had gone out.
            err = Serial.LastError() != 0 ? Serial.LastError() : ErrTimeout;
            desc = TSerialDevice::GetErrorDesc(err);
        }
        if (err != 0) ReportError(err, WriteNotice(err, desc));
    }
    FHeadSent += static_cast<size_t>(written);
    const bool complete = FHeadSent >= wire.size();
    // A receive error flagged during a complete write must not send the line again.
    if (err == 0 || (complete && IsLineError(err))) {
        DropHead(false);
        return;
    }
    ++failures;
    if (err == ErrFrame || failures < WriteFailureLimit) return;

    failures = 0;
    ErrorCode = err;
    ErrorText = err <= ErrAlreadyOwned ? "err - " + desc : "999 - Serial ErrFrame";
    Synchronize([this] { Owner->DoComError(); });
    // Lines queued behind the dropped one are stale by the time the link is back.
    DropHead(true);
    FLinkDown = true;
    Synchronize([this] { Owner->DoDisconnected(); });
}

std::chrono::system_clock::time_point TLuComThread::TimedStart(const TTimedLine& line) const {
    return line.Due - Owner->LineLead(line.Text, line.General);
}

void TLuComThread::WriteTimedLine() {
    TTimedLine line;
    {
        std::lock_guard<std::mutex> g(Owner->FQueueLock);
        if (!TimedLine.Pending) return;
        line = TimedLine;
    }
    const auto start = TimedStart(line);
    const auto now = std::chrono::system_clock::now();
    if (start - now > std::chrono::milliseconds(TimedSleep)) return;
    if (now - line.Due > std::chrono::seconds(1)) {
        std::lock_guard<std::mutex> g(Owner->FQueueLock);
        if (TimedLine.Due == line.Due) TimedLine.Pending = false;
        return;
    }
    const TLuComPort::TLinkSettings s = Owner->LinkSettings();
    const std::string wire =
        FrameLine(line.Text, line.General, s.UseCRC, s.UseRS485, s.RS485adr) + CR;
    WaitUntilPrecisely(start);
    const auto started = std::chrono::system_clock::now();
    Serial.WriteBuffer(wire.data(), static_cast<int>(wire.size()));
    const int err = Serial.LastError();
    {
        std::lock_guard<std::mutex> g(Owner->FQueueLock);
        // A newer line may have taken the slot meanwhile; it waits for its own moment.
        if (TimedLine.Due == line.Due && TimedLine.Text == line.Text) TimedLine.Pending = false;
    }
    // A late retry would land on the wrong second: a failed timed line is reported, not
    // written again.
    if (err != 0 && !IsLineError(err)) {
        ReportError(err, WriteNotice(err, Serial.LastErrorDesc()));
        return;
    }
    MeasureWriteLatency(started, wire.size());
}

// The write latency is what draining the line took beyond its time on the wire; smoothed,
// since one slow drain should not move the next line by much.
void TLuComThread::MeasureWriteLatency(std::chrono::system_clock::time_point started,
                                       size_t characters) {
    const auto limit = started + std::chrono::milliseconds(Serial.DeadlockTimeout);
    while (Serial.OutputCount() > 0 && Serial.LastError() == 0 &&
           std::chrono::system_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    const auto drained = std::chrono::system_clock::now();
    // A port held back by flow control says nothing about its latency.
    if (drained >= limit || Serial.LastError() != 0) return;
    const int64_t spent =
        std::chrono::duration_cast<std::chrono::microseconds>(drained - started).count() -
        Owner->WireTime(characters).count();
    const int64_t latency = std::clamp<int64_t>(spent, 0, MaxWriteLatencyUs);
    const int64_t old = Owner->FWriteLatencyUs;
    Owner->FWriteLatencyUs = FLatencyKnown ? (3 * old + latency) / 4 : latency;
    FLatencyKnown = true;
}

void TLuComThread::RunLoop() {
    if (Owner->FConnected && !PortOpen) OpenLink();
    int failures = 0;
    Owner->FAT_WORK = false;
    // A plain Terminate does not end the loop; StopRequest does.
    for (;;) {
        if (StopRequest) break;
        ApplyPendingLines();
        if (ReconnectRequest) {
            ReconnectRequest = false;
            CloseLink();
            Synchronize([this] { Owner->DoDisconnected(); });
        }
        if (!PortOpen && Owner->FConnected) OpenLink();
        if (!PortOpen) {
            Delay(IdleWait);
            continue;
        }
        if (FLinkDown && Owner->FConnected) {
            FLinkDown = false;
            Synchronize([this] { Owner->DoConnected(); });
        }
        ReceiveLine();
        if (!ProbeDevice()) break;
        if (ModemCheckDue()) CheckModemLines();
        if (!FLinkDown) {
            WriteTimedLine();
            WriteHead(failures);
        }
    }
    const bool wasOpen = PortOpen;
    // Closing also releases a port that opened but failed its configuration.
    CloseLink();
    if (wasOpen) Synchronize([this] { Owner->DoDisconnected(); });
    Owner->FActive = false;
    Synchronize([this] { Owner->DoActive(); });
}

void TLuComThread::Execute() {
    SetFreeOnTerminate(true);
    try {
        RunLoop();
    } catch (...) {
        PortOpen = false;
        Serial.ClosePort();
        ErrorCode = ThreadExceptionCode;
        ErrorText = "Thread exception";
        try {
            Synchronize([this] { Owner->DoComError(); });
        } catch (...) {
            // The handler failed again; the final notice below still goes out.
        }
    }
    try {
        Synchronize([this] { Owner->DoDisconnected(); });
    } catch (...) {
    }
}

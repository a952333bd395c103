// The link thread: owns the serial port for one TLuComPort, opens it on request, reads
// reply lines, probes the device, writes the queued lines and reports on the main thread.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "serial/pollwait.h"
#include "serial/serialdevice.h"
#include "toolkit/stringlist.h"
#include "toolkit/thread.h"

class TLuComPort;

class TLuComThread : public TThread {
public:
    // Runs on the main thread: marks the owner active and raises its OnActive.
    explicit TLuComThread(TLuComPort* owner);
    ~TLuComThread() override;

    // Pauses and limits of the loop, in ms.
    static constexpr int IdleWait = 10;
    // The longest an open link with nothing to do waits for input before it probes the
    // device again; also the period of the modem-line check.
    static constexpr int QuietWait = 100;
    static constexpr int WritableWait = 100;
    // The last stretch before a timed line's start is slept precisely, not polled.
    static constexpr int TimedSleep = 5;
    // The most write latency a timed line is moved forward by (µs).
    static constexpr int64_t MaxWriteLatencyUs = 100000;
    static constexpr int WriteFailureLimit = 4;
    // The longest reply line handed on in one piece; a flood without CR comes in pieces.
    static constexpr int MaxReplyLength = 4096;

    // Link threads not yet freed, of every component. A finished thread frees itself a
    // moment after its end handler ran; waiting for 0 lets owners know it is really gone.
    static int LiveCount() { return FLiveCount; }

    std::atomic<bool> StopRequest{false};
    std::atomic<bool> PortOpen{false};
    std::atomic<bool> ReconnectRequest{false};
    // What OnComError reports; written by the thread just before it reports.
    int ErrorCode = 0;
    std::string ErrorText;
    // Lines waiting, oldest first; Mark 1 = general call. Guarded by the owner's QueueLock.
    TStringList SendQueue;
    std::string CurrentLine;
    // The one line that is due at a moment (SendStrAt); guarded by the owner's QueueLock.
    struct TTimedLine {
        std::string Text;
        bool General = false;
        std::chrono::system_clock::time_point Due;
        bool Pending = false;
    } TimedLine;

    // The line as it goes on the wire, before the CR: optional checksum frame, then the
    // optional RS-485 address byte in front.
    static std::string FrameLine(const std::string& line, bool general, bool useCRC, bool useRS485,
                                 const std::string& rs485adr);

    // Drive the output lines inverted (True clears the line) while the port is open; the
    // thread applies the change at its next pass, since it alone touches the port.
    void ApplyDTR(bool value);
    void ApplyRTS(bool value);
    // Ends the thread's current wait, so that a request made just before is served now
    // and not at the end of the wait. Any thread may call it.
    void Wake() { FWake.Raise(); }

protected:
    void Execute() override;

private:
    void RunLoop();
    void OpenLink();
    void CloseLink();
    void ApplyPendingLines();
    int InputWait();
    void ReceiveLine();
    bool ModemCheckDue();
    bool ProbeDevice();
    void CheckModemLines();
    void WriteHead(int& failures);
    // Writes the timed line once its start has come (sleeping the last stretch precisely);
    // one that is a whole second past its moment is stale and dropped.
    void WriteTimedLine();
    std::chrono::system_clock::time_point TimedStart(const TTimedLine& line) const;
    void MeasureWriteLatency(std::chrono::system_clock::time_point started, size_t characters);
    void DropHead(bool wholeQueue);
    void ReportError(int code, const std::string& text);
    void Delay(int ms);
    void SerialStatus(THookSerialReason reason);

    TLuComPort* Owner;
    TSerialDevice Serial;
    // -1 nothing pending, else the wanted line level (0 or 1).
    std::atomic<int> FPendingDTR{-1}, FPendingRTS{-1};
    // Bytes of the head line already accepted by the driver: a retry sends only the rest,
    // so no part of a line reaches the board twice.
    size_t FHeadSent = 0;
    // The write-failure rule dropped the link while the port stayed open: nothing is
    // written until the owner asks to connect again.
    bool FLinkDown = false;
    TWakeSignal FWake;
    uint32_t FNextModemCheck = 0;  // tick
    bool FLatencyKnown = false;
    static std::atomic<int> FLiveCount;
};

// The com-port component: holds the port settings, starts and stops the link thread,
// queues command lines for it and raises every link event on the main thread.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "toolkit/component.h"
#include "toolkit/stringlist.h"
#include "toolkit/timer.h"

class TLuComThread;

enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TStopBits { sbOneStopBit, sbTwoStopBits };

using TOnComError = std::function<void(TComponent* sender, int error, const std::string& desc)>;
using TOnRxString = std::function<void(TComponent* sender, const std::string& buf)>;
using TOnSendStr = std::function<void(TComponent* sender, const std::string& line)>;
using TOnATCommandRx = std::function<void(TComponent* sender, const std::string& params)>;

// One entry of the AT command collection; kept for the design, never read at run time.
class TATCommandItem {
public:
    std::string ATcmd;
    TOnATCommandRx OnATCommandRx;
    std::string DisplayName() const { return ATcmd; }
    // Copies the command text only; the handler stays.
    void Assign(const TATCommandItem& source) { ATcmd = source.ATcmd; }
};

class TATCommands {
public:
    explicit TATCommands(TComponent* owner) : FOwner(owner) {}
    TATCommands(const TATCommands&) = delete;
    TATCommands& operator=(const TATCommands&) = delete;

    TComponent* Owner() const { return FOwner; }
    size_t Count() const { return FItems.size(); }
    TATCommandItem& Items(size_t i) { return *FItems.at(i); }
    const TATCommandItem& Items(size_t i) const { return *FItems.at(i); }
    TATCommandItem& Add();
    void Delete(size_t i);
    void Clear() { FItems.clear(); }
    // Replaces the entries with copies of the source's.
    void Assign(const TATCommands& source);

private:
    TComponent* FOwner;
    std::vector<std::unique_ptr<TATCommandItem>> FItems;
};

class TLuComPort : public TComponent {
public:
    explicit TLuComPort(TComponent* owner = nullptr);
    // Stops a thread that is still running (waiting with messages) before anything goes.
    ~TLuComPort() override;
    TLuComPort(const TLuComPort&) = delete;
    TLuComPort& operator=(const TLuComPort&) = delete;

    void Loaded() override;

    bool Active() const { return FActive; }
    void SetActive(bool value);
    bool Connected() const { return FConnected; }
    void SetConnected(bool value);
    std::string ComPort() const;
    void SetComPort(const std::string& value);
    std::string BaudRate() const;
    void SetBaudRate(const std::string& value);
    std::string DataBits() const;
    void SetDataBits(const std::string& value);
    TParityBits ParityBits() const { return FParityBits; }
    void SetParityBits(TParityBits value) { FParityBits = value; }
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits value) { FStopBits = value; }
    TATCommands& ATCommands() { return FATCommands; }
    void SetATCommands(const TATCommands& value) { FATCommands.Assign(value); }
    // The inverted control-line switches (_RTS and _DTR): True clears the line.
    bool RTS_() const { return FRTS; }
    void SetRTS_(bool value);
    bool DTR_() const { return FDTR; }
    void SetDTR_(bool value);
    bool AT_WORK() const { return FAT_WORK; }
    int CheckInterval() const { return FCheckInterval; }
    void SetCheckInterval(int ms);
    std::string CheckCmd() const { return FCheckCmd; }
    void SetCheckCmd(const std::string& value) { FCheckCmd = value; }
    bool EnableCheckTimer() const { return FEnableCheckTimer; }
    void SetEnableCheckTimer(bool value);
    bool UseCRC() const { return FUseCRC; }
    void SetUseCRC(bool value) { FUseCRC = value; }
    std::string RS485adr() const;
    void SetRS485adr(const std::string& value);
    bool UseRS485() const { return FUseRS485; }
    void SetUseRS485(bool value) { FUseRS485 = value; }
    bool GeneralCall() const { return FGeneralCall; }
    void SetGeneralCall(bool value) { FGeneralCall = value; }
    // Longest wait for one write to the port, in ms (1000 unless a test shortens it).
    int DeadlockTimeout() const { return FDeadlockTimeout; }
    void SetDeadlockTimeout(int ms) { FDeadlockTimeout = ms; }

    void SetOnActive(TNotifyEvent h) { FOnActive = std::move(h); }
    void SetOnConnected(TNotifyEvent h) { FOnConnected = std::move(h); }
    void SetOnDisconnected(TNotifyEvent h) { FOnDisconnected = std::move(h); }
    void SetOnComError(TOnComError h) { FOnComError = std::move(h); }
    void SetOnRxString(TOnRxString h) { FOnRxString = std::move(h); }
    void SetOnGetCTS(TNotifyEvent h) { FOnGetCTS = std::move(h); }
    void SetOnGetDSR(TNotifyEvent h) { FOnGetDSR = std::move(h); }
    void SetOnGetDCD(TNotifyEvent h) { FOnGetDCD = std::move(h); }
    void SetOnGetRING(TNotifyEvent h) { FOnGetRING = std::move(h); }
    void SetOnATTimeOut(TNotifyEvent h) { FOnATTimeOut = std::move(h); }
    void SetOnSendStr(TOnSendStr h) { FOnSendStr = std::move(h); }

    // Re-enumerates the ports into the component's own list and returns it.
    TStringList& GetComPortList();
    // Fills list with the port names in text order; shows ComPortEnumError when the
    // system's list cannot be read (the list is then empty).
    void EnumComPorts(TStringList& list);
    // Queues one command line (the thread adds the CR). Dropped silently unless the port
    // is open; OnSendStr is raised before the line is queued.
    void SendStr(const std::string& AString, bool AGeneralCall);
    // Queues a line whose CR is to reach the far side at `due` (the PC clock): the thread
    // starts writing it earlier by its time on the wire and the port's write latency. One
    // such line waits at a time (a newer one replaces it); other lines do not wait for it.
    // Dropped, like SendStr, unless the port is open; OnSendStr is raised at once.
    void SendStrAt(const std::string& AString, bool AGeneralCall,
                   std::chrono::system_clock::time_point due);
    // The time `characters` take on the wire at the port's settings (start bit, data bits,
    // parity, stop bits at BaudRate).
    std::chrono::microseconds WireTime(size_t characters) const;
    // How long before its due moment SendStrAt's line starts out: the framed line and its
    // CR on the wire plus the write latency measured at the last such line.
    std::chrono::microseconds LineLead(const std::string& line, bool general) const;
    // The owner window calls this when it is about to close: with canClose True it stops
    // the link thread and returns once the thread is gone and the port released.
    void OwnerCloseQuery(bool& canClose);

    // Read access for the owner and for tests.
    TLuComThread* ComThread() const { return FComThread; }
    TTimer& CheckTimer() { return FCheckTimer; }
    TTimer& AnswerTimer() { return FAnswerTimer; }
    // The last reply line and when its end was read (the PC clock), for OnRxString handlers.
    const std::string& RxString() const { return FRxString; }
    std::chrono::system_clock::time_point RxTime() const { return FRxTime; }
    bool CTSState() const { return FCTSState; }
    bool DSRState() const { return FDSRState; }
    bool DCDState() const { return FDCDState; }
    bool RINGState() const { return FRINGState; }
    // Guards the thread's send queue; held by SendStr, the check timer and the thread.
    std::mutex& QueueLock() { return FQueueLock; }

protected:
    virtual void DoComError();
    virtual void DoRxString();
    void DoActive();
    void DoConnected();
    void DoDisconnected();
    void DoGetCTS();
    void DoGetDSR();
    void DoGetDCD();
    void DoGetRING();
    void DoATTimeOut();
    void DoSendStr();

private:
    friend class TLuComThread;

    // What the thread needs to open and frame, copied under one lock.
    struct TLinkSettings {
        std::string ComPort, BaudRate, DataBits, RS485adr;
        TParityBits Parity = prNone;
        TStopBits Stop = sbOneStopBit;
        bool UseCRC = false, UseRS485 = false;
        int DeadlockTimeout = 1000;
    };
    TLinkSettings LinkSettings() const;
    bool LinkReady() const;

    void CheckTimerTick();
    void AnswerTimerTick();
    void ThreadTerminated();
    void RestartAnswerTimer();
    void StopThreadAndWait();
    void WaitThreadFreed();

    TComponent* FOwner;
    mutable std::mutex FSettingsLock;
    std::mutex FQueueLock;
    std::atomic<bool> FActive{false};
    std::atomic<bool> FConnected{false};
    std::string FComPort = "COM1", FBaudRate = "9600", FDataBits = "8", FRS485adr;
    std::atomic<TParityBits> FParityBits{prNone};
    std::atomic<TStopBits> FStopBits{sbOneStopBit};
    TATCommands FATCommands;
    bool FRTS = true, FDTR = true;
    std::atomic<bool> FAT_WORK{false};
    int FCheckInterval = 5000;
    std::string FCheckCmd = "AT";
    bool FEnableCheckTimer = false;
    std::atomic<bool> FUseCRC{false}, FUseRS485{false}, FGeneralCall{false};
    std::atomic<int> FDeadlockTimeout{1000};
    std::atomic<int64_t> FWriteLatencyUs{0};  // measured by the thread at each timed line

    TStringList FPortList;
    TLuComThread* FComThread = nullptr;
    std::string FRxString;
    std::chrono::system_clock::time_point FRxTime;
    std::string FLastSentStr;
    TTimer FCheckTimer;
    TTimer FAnswerTimer;
    std::atomic<bool> FCTSState{false}, FDSRState{false}, FDCDState{false}, FRINGState{false};

    TNotifyEvent FOnActive, FOnConnected, FOnDisconnected, FOnGetCTS, FOnGetDSR, FOnGetDCD,
        FOnGetRING, FOnATTimeOut;
    TOnComError FOnComError;
    TOnRxString FOnRxString;
    TOnSendStr FOnSendStr;
};

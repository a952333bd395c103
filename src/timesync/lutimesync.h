// The time-sync component: once active, a synchronisation cycle at once and then every
// SyncInterval minutes. A cycle asks every distinct source at the same time, one worker
// each; the first time delivered wins (a coarse one only after a short wait for a finer
// one), sets the PC clock (with SetLocalTime) and fires OnSync. No time within 20 s, or a
// clock that refuses the step, fires OnSyncError.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "timesync/source_answer.h"
#include "toolkit/component.h"
#include "toolkit/datetime.h"
#include "toolkit/stringlist.h"
#include "toolkit/thread.h"
#include "toolkit/timer.h"

using TOnSync = std::function<void(TComponent* sender, TDateTime timeStamp)>;

class TLuTimeSync;
// Makes the (suspended) worker that asks one source; tests put their own workers here.
using TSyncWorkerFactory = std::function<TThread*(TLuTimeSync& owner, const TSyncRequest& request)>;

class TLuTimeSync : public TComponent {
public:
    TLuTimeSync();
    // Frees the lists and timers, then waits for running workers while processing
    // messages; a time they deliver meanwhile is dropped.
    ~TLuTimeSync() override;
    TLuTimeSync(const TLuTimeSync&) = delete;
    TLuTimeSync& operator=(const TLuTimeSync&) = delete;

    void Loaded() override;

    bool Active() const { return FActive; }
    void SetActive(bool value);
    int SyncInterval() const;
    void SetSyncInterval(int minutes);
    const TStringList& TimeServerList() const { return *FTimeServerList; }
    void SetTimeServerList(const TStringList& list);
    const TStringList& PHPsyncList() const { return *FPHPsyncList; }
    void SetPHPsyncList(const TStringList& list);
    bool SetLocalTime() const { return FSetLocalTime; }
    void SetSetLocalTime(bool value) { FSetLocalTime = value; }
    // With SetLocalTime: leave the clock alone while a time service of the system keeps
    // it synchronised (the cycles, the event lines and OnSync go on).
    bool DeferToTimeService() const { return FDeferToTimeService; }
    void SetDeferToTimeService(bool value) { FDeferToTimeService = value; }
    // The trusted authorities for NTS servers and https scripts; empty: the system's store.
    const std::string& TimeCaFile() const { return FTimeCaFile; }
    void SetTimeCaFile(const std::string& file) { FTimeCaFile = file; }
    bool SyncPHP() const { return FSyncPHP; }
    void SetSyncPHP(bool value) { FSyncPHP = value; }
    bool SyncSNTP() const { return FSyncSNTP; }
    void SetSyncSNTP(bool value) { FSyncSNTP = value; }
    bool GetDefault() const { return FGetDefault; }
    void SetGetDefault(bool value);
    void SetOnSync(TOnSync handler) { FOnSync = std::move(handler); }
    void SetOnSyncError(TNotifyEvent handler) { FOnSyncError = std::move(handler); }

    // A cycle 50 ms from now, then periodic cycles, whether or not Active is set.
    void SyncNow();

    TDateTime LastSync() const { return FLastSync; }
    bool CycleDone() const { return FCycleDone; }
    int IntervalMs() const { return FIntervalMs; }
    TTimer& SyncTimer() { return *FSyncTimer; }
    TTimer& TimeoutTimer() { return *FTimeoutTimer; }
    size_t WorkerCount() const;
    // Asks the running workers to give up their waits; they end within about 100 ms and
    // deliver nothing. The destructor does this too.
    void StopWorkers();
    void SetWorkerFactory(TSyncWorkerFactory factory) { FWorkerFactory = std::move(factory); }

    // Called by the workers on the main thread: a time, aged by what passed since it
    // arrived. Only an answer of the open cycle counts, and not after its sync error. One
    // far from the PC clock (beyond MaxSyncDiff) counts only when a second source (another
    // peer) of the cycle agrees with it, or when it is the only source there is. One
    // coarser than CoarseAnswerNs waits up to CoarseWaitMs while a server of the cycle is
    // still being asked, and gives way to a finer answer in that time.
    void AcceptTime(const TSourceAnswer& answer);
    void WorkerTerminated(TThread* sender);
    // The sources a cycle asks: the non-blank entries of the lists that are switched on,
    // each distinct source once, in list order.
    std::vector<TTimeSource> CycleSources() const;
    unsigned Cycle() const { return FCycle; }

    static const std::vector<std::string>& DefaultServers();
    // How far (s) one source alone may move the clock; two that agree within
    // AgreementSeconds may move it further.
    static constexpr double MaxSyncDiff = 3600.0;
    static constexpr double AgreementSeconds = 2.0;
    // An answer written to a millisecond or finer is taken at once; a coarser one (whole
    // seconds, tenths, hundredths) waits this long for a server's answer.
    static constexpr int64_t CoarseAnswerNs = 1000000;
    static constexpr unsigned CoarseWaitMs = 300;

    // Timer handlers, public so that tests can drive a cycle tick by tick.
    void SyncTimerTick();
    void TimeoutTimerTick();
    void HoldTimerTick();
    TTimer& HoldTimer() { return *FHoldTimer; }

private:
    struct TWorkerEntry {
        TThread* Thread;
        TSourceKind Kind;
        unsigned Cycle;
    };

    void RestartSyncTimer(unsigned periodMs);
    void StartWorker(const TTimeSource& source);
    void FillDefaultServers();
    bool CycleOpen() const { return !FCycleDone && !FCycleFailed; }
    bool ServerStillAsked() const;
    void HoldCoarseAnswer(const TSourceAnswer& answer);
    void ReleaseHeldAnswer();
    void TakeAnswer(const TSourceAnswer& answer);
    bool FarTimeAgreed(double offsetSeconds, const TSourceAnswer& answer);
    bool StepClock(double offsetSeconds);
    void SetClockUnlessDeferred(double offsetSeconds);
    void FailCycle(const std::string& reason);
    void DoSync();
    void DoSyncError();

    bool FActive = false;
    TDateTime FLastSync = 0;
    bool FCycleDone = false;
    bool FCycleFailed = false;  // the open cycle ended in a sync error
    unsigned FCycle = 0;
    // Far times of this cycle still waiting for a second: who gave them, and the offset.
    std::vector<std::pair<std::string, double>> FFarOffsets;
    std::optional<TSourceAnswer> FHeld;  // a coarse answer waiting for a finer one
    int FIntervalMs = 1800000;
    std::unique_ptr<TStringList> FTimeServerList;
    std::unique_ptr<TStringList> FPHPsyncList;
    bool FSetLocalTime = false;
    bool FDeferToTimeService = false;
    bool FDeferralTold = false;
    std::string FTimeCaFile;
    bool FSyncPHP = true;
    bool FSyncSNTP = true;
    bool FGetDefault = false;
    std::unique_ptr<TTimer> FSyncTimer;
    std::unique_ptr<TTimer> FTimeoutTimer;
    std::unique_ptr<TTimer> FHoldTimer;
    mutable std::mutex FWorkersLock;
    std::vector<TWorkerEntry> FWorkers;
    bool FDestroying = false;
    TOnSync FOnSync;
    TNotifyEvent FOnSyncError;
    TSyncWorkerFactory FWorkerFactory;
};

// The time-sync component: once active, a synchronisation cycle at once and then every
// SyncInterval minutes. A cycle asks every source at the same time, one worker each; the
// first time delivered wins, sets the PC clock (with SetLocalTime) and fires OnSync. No
// time within 20 s fires OnSyncError.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "timesync/time_sample.h"
#include "toolkit/component.h"
#include "toolkit/datetime.h"
#include "toolkit/stringlist.h"
#include "toolkit/thread.h"
#include "toolkit/timer.h"

using TOnSync = std::function<void(TComponent* sender, TDateTime timeStamp)>;

class TLuTimeSync;
// Makes the (suspended) worker that asks one source; tests put their own workers here.
using TSyncWorkerFactory = std::function<TThread*(TLuTimeSync& owner, const std::string& source)>;

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
    // arrived. One far from the PC clock (beyond MaxSyncDiff) counts only when a second
    // source of the cycle agrees with it, or when it is the only source there is.
    void AcceptTime(const TTimeSample& sample, const std::string& source = std::string());
    void WorkerTerminated(TThread* sender);

    static const std::vector<std::string>& DefaultServers();
    // How far (s) one source alone may move the clock; two that agree within
    // AgreementSeconds may move it further.
    static constexpr double MaxSyncDiff = 3600.0;
    static constexpr double AgreementSeconds = 2.0;

    // Timer handlers, public so that tests can drive a cycle tick by tick.
    void SyncTimerTick();
    void TimeoutTimerTick();

private:
    void RestartSyncTimer(unsigned periodMs);
    void StartWorkers(const TStringList& sources);
    void FillDefaultServers();
    bool FarTimeAgreed(double offsetSeconds, const std::string& source);
    size_t ConfiguredSourceCount() const;
    void SetClockUnlessDeferred(double offsetSeconds);
    void DoSync();
    void DoSyncError();

    bool FActive = false;
    TDateTime FLastSync = 0;
    bool FCycleDone = false;
    std::vector<double> FFarOffsets;  // far times of this cycle still waiting for a second
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
    mutable std::mutex FWorkersLock;
    std::vector<TThread*> FWorkers;
    bool FDestroying = false;
    TOnSync FOnSync;
    TNotifyEvent FOnSyncError;
    TSyncWorkerFactory FWorkerFactory;
};

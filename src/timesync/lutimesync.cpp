#include "timesync/lutimesync.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "net/netutil.h"
#include "platform/clock.h"
#include "timesync/syncthread.h"
#include "toolkit/eventlog.h"
#include "toolkit/mainthread.h"

namespace {
constexpr unsigned ActivationDelayMs = 100;
constexpr unsigned SyncNowDelayMs = 50;
constexpr unsigned CycleTimeoutMs = 20000;

std::string OffsetText(double seconds) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%+.6f s", seconds);
    return buf;
}

std::string SourceName(const std::string& source) {
    return source.empty() ? std::string("a source") : source;
}
}  // namespace

const std::vector<std::string>& TLuTimeSync::DefaultServers() {
    static const std::vector<std::string> servers = {
        "pool.ntp.org",   "0.pool.ntp.org",      "1.pool.ntp.org", "2.pool.ntp.org",
        "3.pool.ntp.org", "europe.pool.ntp.org", "pool.ntp.org"};
    return servers;
}

TLuTimeSync::TLuTimeSync()
    : FTimeServerList(std::make_unique<TStringList>()),
      FPHPsyncList(std::make_unique<TStringList>()) {
    FillDefaultServers();
    SetSyncInterval(30);  // only stores the period: the timers do not exist yet
    FSyncTimer = std::make_unique<TTimer>();
    FSyncTimer->SetEnabled(false);
    FSyncTimer->SetInterval(static_cast<unsigned>(FIntervalMs));
    FSyncTimer->SetOnTimer([this] { SyncTimerTick(); });
    FTimeoutTimer = std::make_unique<TTimer>();
    FTimeoutTimer->SetEnabled(false);
    FTimeoutTimer->SetInterval(CycleTimeoutMs);
    FTimeoutTimer->SetOnTimer([this] { TimeoutTimerTick(); });
    FLastSync = NowLocal();
    FWorkerFactory = [](TLuTimeSync& owner, const std::string& source) -> TThread* {
        return new TLuSyncThread(&owner, source);
    };
}

TLuTimeSync::~TLuTimeSync() {
    FDestroying = true;
    FPHPsyncList.reset();
    FTimeServerList.reset();
    FSyncTimer.reset();
    FTimeoutTimer.reset();
    StopWorkers();
    // Finishing workers still need the main thread for their last calls.
    while (WorkerCount() > 0) {
        ProcessMessages();
        WaitForSynchronize(5);
    }
}

void TLuTimeSync::Loaded() {
    TComponent::Loaded();
    SetActive(FActive);
}

void TLuTimeSync::RestartSyncTimer(unsigned periodMs) {
    FSyncTimer->SetInterval(periodMs);
    FSyncTimer->SetEnabled(false);
    FSyncTimer->SetEnabled(true);
}

void TLuTimeSync::SetActive(bool value) {
    FActive = value;
    if (Loading()) return;  // Loaded applies the stored value
    if (value) {
        RestartSyncTimer(ActivationDelayMs);
    } else {
        FSyncTimer->SetInterval(ActivationDelayMs);
        FSyncTimer->SetEnabled(false);
    }
}

int TLuTimeSync::SyncInterval() const {
    return static_cast<int>(std::lround(FIntervalMs / 60.0 / 1000.0));
}

void TLuTimeSync::SetSyncInterval(int minutes) {
    FIntervalMs = minutes < 1 ? 60000 : std::min(minutes, 35791) * 60 * 1000;
    if (Loading() || !FSyncTimer) return;
    RestartSyncTimer(static_cast<unsigned>(FIntervalMs));
}

void TLuTimeSync::FillDefaultServers() {
    FTimeServerList->Clear();
    for (const std::string& s : DefaultServers()) FTimeServerList->Add(s);
}

void TLuTimeSync::SetTimeServerList(const TStringList& list) {
    if (TrimText(list.Text()).empty()) {
        FTimeServerList->Clear();
        FTimeServerList->Add(DefaultServers().front());
        return;
    }
    FTimeServerList->SetText(list.Text());
}

void TLuTimeSync::SetPHPsyncList(const TStringList& list) { FPHPsyncList->SetText(list.Text()); }

void TLuTimeSync::SetGetDefault(bool value) {
    FGetDefault = value;
    if (!value) return;
    FGetDefault = false;
    FillDefaultServers();
}

void TLuTimeSync::SyncNow() { RestartSyncTimer(SyncNowDelayMs); }

size_t TLuTimeSync::WorkerCount() const {
    std::lock_guard<std::mutex> g(FWorkersLock);
    return FWorkers.size();
}

void TLuTimeSync::StopWorkers() {
    std::lock_guard<std::mutex> g(FWorkersLock);
    for (TThread* w : FWorkers) w->Terminate();
}

void TLuTimeSync::SyncTimerTick() {
    FSyncTimer->SetInterval(static_cast<unsigned>(FIntervalMs));
    FCycleDone = false;
    FFarOffsets.clear();
    FTimeoutTimer->SetEnabled(true);
    if (FSyncSNTP) StartWorkers(*FTimeServerList);
    if (FSyncPHP) StartWorkers(*FPHPsyncList);
}

void TLuTimeSync::StartWorkers(const TStringList& sources) {
    for (const auto& entry : sources) {
        if (TrimText(entry.Text).empty()) continue;
        TThread* worker = FWorkerFactory(*this, entry.Text);
        if (!worker) continue;
        worker->SetOnTerminate([this](TThread* sender) { WorkerTerminated(sender); });
        {
            std::lock_guard<std::mutex> g(FWorkersLock);
            FWorkers.push_back(worker);
        }
        worker->Start();
    }
}

void TLuTimeSync::AcceptTime(const TTimeSample& sample, const std::string& source) {
    if (FDestroying || FCycleDone) return;
    const TClockStamp now = ClockStampNow();
    const int64_t timeNs = SampleTimeAt(sample, now);
    const double offset = static_cast<double>(timeNs - now.RealNs) / 1e9;
    if (!FarTimeAgreed(offset, source)) return;
    FLastSync = UtcToLocal(UnixNsToDateTime(timeNs));
    LogEvent("time from " + SourceName(source) + (sample.Authenticated ? " (authenticated)" : "") + ": " +
             FormatDateTime("yyyy-MM-dd HH:mm:ss.zzz", FLastSync) + ", PC clock off by " +
             OffsetText(offset));
    // A clock that cannot be set throws back to the worker: no OnSync, and the cycle
    // ends in OnSyncError when its time runs out.
    if (FSetLocalTime) SetClockUnlessDeferred(offset);
    DoSync();
    FTimeoutTimer->SetEnabled(false);
    FCycleDone = true;
}

bool TLuTimeSync::FarTimeAgreed(double offsetSeconds, const std::string& source) {
    if (std::fabs(offsetSeconds) <= MaxSyncDiff) return true;
    if (ConfiguredSourceCount() <= 1) {
        LogEvent("time from " + SourceName(source) + " is " + OffsetText(offsetSeconds) +
                 " from the PC clock; it is the only source, so there is none to compare");
        return true;
    }
    for (double other : FFarOffsets)
        if (std::fabs(other - offsetSeconds) <= AgreementSeconds) return true;
    FFarOffsets.push_back(offsetSeconds);
    LogEvent("time from " + SourceName(source) + " refused: " + OffsetText(offsetSeconds) +
             " from the PC clock, and no second source agrees yet");
    return false;
}

size_t TLuTimeSync::ConfiguredSourceCount() const {
    std::set<std::string> sources;
    auto add = [&sources](const TStringList& list) {
        for (const auto& entry : list)
            if (!TrimText(entry.Text).empty()) sources.insert(TrimText(entry.Text));
    };
    if (FSyncSNTP && FTimeServerList) add(*FTimeServerList);
    if (FSyncPHP && FPHPsyncList) add(*FPHPsyncList);
    return sources.size();
}

void TLuTimeSync::SetClockUnlessDeferred(double offsetSeconds) {
    if (!FDeferToTimeService || !ClockKeptByTimeService()) {
        StepPCClock(offsetSeconds);
        return;
    }
    if (FDeferralTold) return;
    FDeferralTold = true;
    LogEvent(
        "the system's time service keeps the PC clock synchronised: leaving it alone "
        "(--set-clock=always sets it anyway)");
}

void TLuTimeSync::WorkerTerminated(TThread* sender) {
    std::lock_guard<std::mutex> g(FWorkersLock);
    FWorkers.erase(std::remove(FWorkers.begin(), FWorkers.end(), sender), FWorkers.end());
}

void TLuTimeSync::TimeoutTimerTick() {
    FTimeoutTimer->SetEnabled(false);
    DoSyncError();
}

void TLuTimeSync::DoSync() {
    if (FOnSync) FOnSync(this, FLastSync);
}

void TLuTimeSync::DoSyncError() {
    LogEvent("sync error: no time source answered within 20 s");
    if (FOnSyncError) FOnSyncError(this);
}

#include "timesync/lutimesync.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <stdexcept>

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
    // An offset that rounds to nothing is +0, never "-0.000000".
    if (std::fabs(seconds) < 5e-7) seconds = 0;
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
    FHoldTimer = std::make_unique<TTimer>();
    FHoldTimer->SetEnabled(false);
    FHoldTimer->SetInterval(CoarseWaitMs);
    FHoldTimer->SetOnTimer([this] { HoldTimerTick(); });
    FLastSync = NowLocal();
    FWorkerFactory = [](TLuTimeSync& owner, const TSyncRequest& request) -> TThread* {
        return new TLuSyncThread(&owner, request);
    };
}

TLuTimeSync::~TLuTimeSync() {
    FDestroying = true;
    FPHPsyncList.reset();
    FTimeServerList.reset();
    FSyncTimer.reset();
    FTimeoutTimer.reset();
    FHoldTimer.reset();
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
    for (const TWorkerEntry& w : FWorkers) w.Thread->Terminate();
}

void TLuTimeSync::SyncTimerTick() {
    FSyncTimer->SetInterval(static_cast<unsigned>(FIntervalMs));
    ++FCycle;
    FCycleDone = false;
    FCycleFailed = false;
    FFarOffsets.clear();
    FHeld.reset();
    FHoldTimer->SetEnabled(false);
    // Each cycle has its own 20 s: a timer left running by the last one would end this
    // one early.
    FTimeoutTimer->SetEnabled(false);
    FTimeoutTimer->SetEnabled(true);
    for (const TTimeSource& source : CycleSources()) StartWorker(source);
}

std::vector<TTimeSource> TLuTimeSync::CycleSources() const {
    std::vector<TTimeSource> sources;
    std::set<std::string> seen;
    auto add = [&](const TStringList& list, bool scripts) {
        for (const auto& entry : list) {
            if (TrimText(entry.Text).empty()) continue;
            const TSourceKind kind =
                scripts ? TSourceKind::Script : ServerListEntryKind(entry.Text);
            TTimeSource source = MakeTimeSource(entry.Text, kind);
            // A repeated entry is one source: asking it twice would let it agree with itself.
            if (seen.insert(source.Identity).second) sources.push_back(std::move(source));
        }
    };
    if (FSyncSNTP && FTimeServerList) add(*FTimeServerList, false);
    if (FSyncPHP && FPHPsyncList) add(*FPHPsyncList, true);
    return sources;
}

void TLuTimeSync::StartWorker(const TTimeSource& source) {
    TThread* worker = FWorkerFactory(*this, TSyncRequest{source, FCycle});
    if (!worker) return;
    worker->SetOnTerminate([this](TThread* sender) { WorkerTerminated(sender); });
    {
        std::lock_guard<std::mutex> g(FWorkersLock);
        FWorkers.push_back({worker, source.Kind, FCycle});
    }
    worker->Start();
}

void TLuTimeSync::AcceptTime(const TSourceAnswer& answer) {
    if (FDestroying || answer.Cycle != FCycle || !CycleOpen()) return;
    if (answer.Sample.UncertaintyNs >= CoarseAnswerNs && ServerStillAsked()) {
        HoldCoarseAnswer(answer);
        return;
    }
    TakeAnswer(answer);
}

bool TLuTimeSync::ServerStillAsked() const {
    std::lock_guard<std::mutex> g(FWorkersLock);
    return std::any_of(FWorkers.begin(), FWorkers.end(), [this](const TWorkerEntry& w) {
        return w.Cycle == FCycle && w.Kind != TSourceKind::Script;
    });
}

void TLuTimeSync::HoldCoarseAnswer(const TSourceAnswer& answer) {
    // The finest of the coarse answers waits; its age is kept with it.
    if (FHeld && FHeld->Sample.UncertaintyNs <= answer.Sample.UncertaintyNs) return;
    FHeld = answer;
    if (!FHoldTimer->Enabled()) FHoldTimer->SetEnabled(true);
}

void TLuTimeSync::ReleaseHeldAnswer() {
    FHoldTimer->SetEnabled(false);
    if (!FHeld) return;
    const TSourceAnswer held = *FHeld;
    FHeld.reset();
    if (held.Cycle == FCycle && CycleOpen()) TakeAnswer(held);
}

void TLuTimeSync::HoldTimerTick() { ReleaseHeldAnswer(); }

void TLuTimeSync::TakeAnswer(const TSourceAnswer& answer) {
    const TClockStamp now = ClockStampNow();
    const int64_t timeNs = SampleTimeAt(answer.Sample, now);
    const double offset = static_cast<double>(timeNs - now.RealNs) / 1e9;
    if (!FarTimeAgreed(offset, answer)) return;
    FLastSync = UtcToLocal(UnixNsToDateTime(timeNs));
    LogEvent("time from " + SourceName(answer.Source) +
             (answer.Sample.Authenticated ? " (authenticated)" : "") + ": " +
             FormatDateTime("yyyy-MM-dd HH:mm:ss.zzz", FLastSync) + ", PC clock off by " +
             OffsetText(offset));
    if (FSetLocalTime && !StepClock(offset)) return;
    FHeld.reset();
    FHoldTimer->SetEnabled(false);
    DoSync();
    FTimeoutTimer->SetEnabled(false);
    FCycleDone = true;
}

bool TLuTimeSync::FarTimeAgreed(double offsetSeconds, const TSourceAnswer& answer) {
    if (std::fabs(offsetSeconds) <= MaxSyncDiff) return true;
    if (CycleSources().size() <= 1) {
        LogEvent("time from " + SourceName(answer.Source) + " is " + OffsetText(offsetSeconds) +
                 " from the PC clock; it is the only source, so there is none to compare");
        return true;
    }
    // Only another peer can vouch: two entries that reach one server are one source.
    const std::string peer = answer.Peer.empty() ? TrimText(answer.Source) : answer.Peer;
    for (const auto& [otherPeer, other] : FFarOffsets)
        if (otherPeer != peer && std::fabs(other - offsetSeconds) <= AgreementSeconds) return true;
    FFarOffsets.emplace_back(peer, offsetSeconds);
    LogEvent("time from " + SourceName(answer.Source) + " refused: " + OffsetText(offsetSeconds) +
             " from the PC clock, and no second source agrees yet");
    return false;
}

// A step the clock refuses ends the cycle at once in a sync error with the reason; the
// board gets no line for a time the PC clock did not take.
bool TLuTimeSync::StepClock(double offsetSeconds) {
    try {
        SetClockUnlessDeferred(offsetSeconds);
        return true;
    } catch (const std::exception& e) {
        FailCycle(std::string("the PC clock was not stepped: ") + e.what());
    } catch (...) {
        FailCycle("the PC clock was not stepped");
    }
    return false;
}

void TLuTimeSync::SetClockUnlessDeferred(double offsetSeconds) {
    if (!FDeferToTimeService || !ClockKeptByTimeService()) {
        if (!StepPCClock(offsetSeconds)) throw std::runtime_error("the system refused the step");
        return;
    }
    if (FDeferralTold) return;
    FDeferralTold = true;
    LogEvent(
        "the system's time service keeps the PC clock synchronised: leaving it alone "
        "(--set-clock=always sets it anyway)");
}

void TLuTimeSync::WorkerTerminated(TThread* sender) {
    {
        std::lock_guard<std::mutex> g(FWorkersLock);
        FWorkers.erase(std::remove_if(FWorkers.begin(), FWorkers.end(),
                                      [sender](const TWorkerEntry& w) { return w.Thread == sender; }),
                       FWorkers.end());
    }
    // Every server of the cycle has finished: nothing finer can come.
    if (!FDestroying && FHeld && !ServerStillAsked()) ReleaseHeldAnswer();
}

void TLuTimeSync::TimeoutTimerTick() {
    FTimeoutTimer->SetEnabled(false);
    // A coarse answer still waiting is better than none.
    if (FHeld) ReleaseHeldAnswer();
    if (CycleOpen()) FailCycle("no time source answered within 20 s");
}

void TLuTimeSync::FailCycle(const std::string& reason) {
    FCycleFailed = true;
    FHeld.reset();
    FHoldTimer->SetEnabled(false);
    FTimeoutTimer->SetEnabled(false);
    LogEvent("sync error: " + reason);
    DoSyncError();
}

void TLuTimeSync::DoSync() {
    if (FOnSync) FOnSync(this, FLastSync);
}

void TLuTimeSync::DoSyncError() {
    if (FOnSyncError) FOnSyncError(this);
}

#include "timesync/lutimesync.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "platform/clock.h"
#include "support/wait.h"
#include "toolkit/eventlog.h"

namespace {

// A worker that delivers a time (offset from the PC clock, in seconds) or nothing as the
// real ones do: through a synchronous call into the main thread, after an optional gate.
class TFakeWorker : public TThread {
public:
    TFakeWorker(TLuTimeSync& owner, const TSyncRequest& request, double offset, bool deliver,
                std::atomic<bool>* gate, int64_t uncertaintyNs = 0)
        : FOwner(owner), FDeliver(deliver), FGate(gate) {
        FResult.Sample.Arrival = ClockStampNow();
        FResult.Sample.OffsetNs = static_cast<int64_t>(offset * 1e9);
        FResult.Sample.UncertaintyNs = uncertaintyNs;
        FResult.Source = "fake";
        FResult.Peer = request.Source.Identity;
        FResult.Kind = request.Source.Kind;
        FResult.Cycle = request.Cycle;
    }
    ~TFakeWorker() override { TerminateAndWait(); }

protected:
    void Execute() override {
        SetFreeOnTerminate(true);
        while (FGate && !*FGate) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (!FDeliver) return;
        try {
            Synchronize([this] { FOwner.AcceptTime(FResult); });
        } catch (...) {
        }
    }

private:
    TLuTimeSync& FOwner;
    TSourceAnswer FResult;
    bool FDeliver;
    std::atomic<bool>* FGate;
};

class TimeSyncTest : public ::testing::Test {
protected:
    void SetUp() override {
        FPreviousSink = SetEventLogSink([this](const std::string& l) { Log.push_back(l); });
        FPreviousSetter = SetClockSetter([this](double offset) {
            ClockSets.push_back(offset);
            if (ClockRefused)
                throw std::system_error(EPERM, std::generic_category(), "Operation not permitted");
            return true;
        });
        FPreviousProbe = SetClockServiceProbe([this] { return ServiceKeepsClock; });
        Sync.SetOnSync([this](TComponent*, TDateTime t) { Synced.push_back(t); });
        Sync.SetOnSyncError([this](TComponent*) { ++Errors; });
        Sync.SetWorkerFactory([this](TLuTimeSync& owner, const TSyncRequest& request) -> TThread* {
            Sources.push_back(request.Source.Text);
            const size_t n = Sources.size();
            const double offset = n <= Offsets.size() ? Offsets[n - 1] : 0.001 * double(n);
            return new TFakeWorker(owner, request, offset, n <= Delivering, Gate);
        });
    }
    void TearDown() override {
        SetClockSetter(FPreviousSetter);
        SetClockServiceProbe(FPreviousProbe);
        SetEventLogSink(FPreviousSink);
    }
    void RunCycle() {
        Sync.SyncTimerTick();
        ASSERT_TRUE(WaitUntil([this] { return Sync.WorkerCount() == 0; }));
        ASSERT_TRUE(WaitUntil([] { return TThread::LiveCount() == 0; }));
    }
    static TStringList Lines(const std::string& text) {
        TStringList l;
        l.SetText(text);
        return l;
    }
    // An answer of the open cycle, as a worker of that source would give it.
    TSourceAnswer Answer(double offset, const std::string& peer, int64_t uncertaintyNs = 0) {
        TSourceAnswer a;
        a.Sample.Arrival = ClockStampNow();
        a.Sample.OffsetNs = static_cast<int64_t>(offset * 1e9);
        a.Sample.UncertaintyNs = uncertaintyNs;
        a.Source = a.Peer = peer;
        a.Cycle = Sync.Cycle();
        return a;
    }
    // The signed number of seconds a log line gives right after MARKER (NaN when none).
    static double LoggedSeconds(const std::string& line, const std::string& marker) {
        const size_t at = line.find(marker);
        if (at == std::string::npos) return std::nan("");
        return std::strtod(line.c_str() + at + marker.size(), nullptr);
    }
    size_t LogLinesWith(const std::string& text) const {
        return static_cast<size_t>(std::count_if(Log.begin(), Log.end(), [&](const std::string& l) {
            return l.find(text) != std::string::npos;
        }));
    }

    TLuTimeSync Sync;
    std::vector<std::string> Sources;
    std::vector<TDateTime> Synced;
    std::vector<double> ClockSets, Offsets;
    std::vector<std::string> Log;
    int Errors = 0;
    size_t Delivering = 100;
    bool ClockRefused = false;
    bool ServiceKeepsClock = false;
    std::atomic<bool>* Gate = nullptr;

private:
    TEventLogSink FPreviousSink;
    TClockSetter FPreviousSetter;
    TClockServiceProbe FPreviousProbe;
};

}  // namespace

TEST_F(TimeSyncTest, DefaultsAndPropertyRules) {
    EXPECT_FALSE(Sync.Active());
    EXPECT_EQ(Sync.SyncInterval(), 30);
    EXPECT_EQ(Sync.IntervalMs(), 1800000);
    ASSERT_EQ(Sync.TimeServerList().Count(), 7u);
    EXPECT_EQ(Sync.TimeServerList()[0], Sync.TimeServerList()[6]);
    EXPECT_FALSE(Sync.SyncTimer().Enabled());
    EXPECT_EQ(Sync.TimeoutTimer().Interval(), 20000u);

    Sync.SetSyncInterval(0);
    EXPECT_EQ(Sync.IntervalMs(), 60000);
    EXPECT_EQ(Sync.SyncInterval(), 1);
    Sync.SetSyncInterval(-5);
    EXPECT_EQ(Sync.IntervalMs(), 60000);
    EXPECT_TRUE(Sync.SyncTimer().Enabled());  // a new interval starts the timer

    Sync.SetTimeServerList(Lines("  \r\n\t\r\n"));
    ASSERT_EQ(Sync.TimeServerList().Count(), 1u);
    EXPECT_EQ(Sync.TimeServerList()[0], TLuTimeSync::DefaultServers()[0]);
    Sync.SetGetDefault(true);
    EXPECT_FALSE(Sync.GetDefault());
    EXPECT_EQ(Sync.TimeServerList().Count(), 7u);
}

TEST_F(TimeSyncTest, ActivationSyncNowAndThePeriod) {
    Sync.SetActive(true);
    EXPECT_TRUE(Sync.SyncTimer().Enabled());
    EXPECT_EQ(Sync.SyncTimer().Interval(), 100u);
    Sync.SetTimeServerList(Lines(""));
    RunCycle();
    EXPECT_EQ(Sync.SyncTimer().Interval(), 1800000u);  // counted from the first tick
    Sync.SetActive(true);                              // again while active: a new cycle soon
    EXPECT_EQ(Sync.SyncTimer().Interval(), 100u);
    Sync.SetActive(false);
    EXPECT_FALSE(Sync.SyncTimer().Enabled());
    Sync.SyncNow();
    EXPECT_FALSE(Sync.Active());
    EXPECT_TRUE(Sync.SyncTimer().Enabled());
    EXPECT_EQ(Sync.SyncTimer().Interval(), 50u);
}

TEST_F(TimeSyncTest, FirstResultWinsAndSetsTheClockOnce) {
    Sync.SetSetLocalTime(true);
    Sync.SetTimeServerList(Lines(" a.example \r\n\r\nb.example\r\n"));
    Sync.SetPHPsyncList(Lines("http://c.example/t.php"));
    const double before = NowLocal();
    RunCycle();
    const double after = NowLocal();
    EXPECT_EQ(Sources,
              (std::vector<std::string>{" a.example ", "b.example", "http://c.example/t.php"}));
    ASSERT_EQ(Synced.size(), 1u);
    ASSERT_EQ(ClockSets.size(), 1u);
    // A step by the offset the winner measured, however long ago that was: 1, 2 or 3 ms.
    EXPECT_NEAR(ClockSets[0], std::round(ClockSets[0] * 1000) / 1000, 1e-6);
    // The corrected time handed on was read during the cycle, however long a busy machine
    // made that cycle take.
    const double readAt = Synced[0] - ClockSets[0] / SecsPerDay, slack = 0.001 / SecsPerDay;
    EXPECT_GE(readAt, before - slack);
    EXPECT_LE(readAt, after + slack);
    EXPECT_DOUBLE_EQ(Sync.LastSync(), Synced[0]);
    EXPECT_TRUE(Sync.CycleDone());
    EXPECT_FALSE(Sync.TimeoutTimer().Enabled());
    EXPECT_EQ(Errors, 0);
    ASSERT_FALSE(Log.empty());
    EXPECT_NE(Log[0].find("time from fake"), std::string::npos);
    // To the microsecond, give or take the one between reading the two clocks.
    const double logged = LoggedSeconds(Log[0], "PC clock off by ");
    EXPECT_NEAR(logged, std::round(logged * 1000) / 1000, 2e-6) << Log[0];
    EXPECT_TRUE(logged >= 0.001 - 2e-6 && logged <= 0.003 + 2e-6) << Log[0];
}

TEST_F(TimeSyncTest, ListsAreSkippedWhenSwitchedOff) {
    Sync.SetTimeServerList(Lines("a.example"));
    Sync.SetPHPsyncList(Lines("http://c.example/t.php"));
    Sync.SetSyncSNTP(false);
    RunCycle();
    EXPECT_EQ(Sources, (std::vector<std::string>{"http://c.example/t.php"}));
    Sync.SetSyncPHP(false);
    Sources.clear();
    RunCycle();
    EXPECT_TRUE(Sources.empty());
    EXPECT_TRUE(Sync.TimeoutTimer().Enabled());
    Sync.TimeoutTimerTick();
    EXPECT_EQ(Errors, 1);
    EXPECT_FALSE(Sync.TimeoutTimer().Enabled());
}

TEST_F(TimeSyncTest, WithoutSetLocalTimeTheClockIsLeftAlone) {
    Sync.SetTimeServerList(Lines("a.example"));
    RunCycle();
    EXPECT_TRUE(ClockSets.empty());
    EXPECT_EQ(Synced.size(), 1u);
}

TEST_F(TimeSyncTest, AutoModeLeavesASynchronisedClockToTheTimeService) {
    Sync.SetSetLocalTime(true);
    Sync.SetDeferToTimeService(true);
    ServiceKeepsClock = true;
    Sync.SetTimeServerList(Lines("a.example"));
    RunCycle();
    RunCycle();
    EXPECT_TRUE(ClockSets.empty());
    EXPECT_EQ(Synced.size(), 2u);  // the board still gets its line every cycle
    EXPECT_EQ(std::count_if(
                  Log.begin(), Log.end(),
                  [](const std::string& l) { return l.find("time service") != std::string::npos; }),
              1);
    ServiceKeepsClock = false;  // the service stopped: the clock is ours again
    RunCycle();
    EXPECT_EQ(ClockSets.size(), 1u);
}

TEST_F(TimeSyncTest, AFarTimeNeedsASecondSourceThatAgrees) {
    Sync.SetSetLocalTime(true);
    Delivering = 0;  // the times come by hand, in a known order
    Sync.SetTimeServerList(Lines("a.example\r\nb.example\r\nc.example"));
    RunCycle();
    auto deliver = [this](double offset, const char* source) {
        Sync.AcceptTime(Answer(offset, source));
    };
    const double yearAhead = 86400 * 365.0;
    deliver(-2e9, "a.example");  // 1963
    deliver(yearAhead, "b.example");
    EXPECT_TRUE(ClockSets.empty());
    EXPECT_FALSE(Sync.CycleDone());
    ASSERT_EQ(Log.size(), 2u);  // one line per refusal, naming the source and the offset
    EXPECT_NEAR(LoggedSeconds(Log[0], "a.example refused: "), -2e9, 2e-6) << Log[0];
    deliver(yearAhead + 1.5, "c.example");  // agrees with b within 2 s
    ASSERT_EQ(ClockSets.size(), 1u);
    EXPECT_NEAR(ClockSets[0], yearAhead + 1.5, 1e-3);

    RunCycle();  // a new cycle forgets the old far times
    deliver(yearAhead, "b.example");
    EXPECT_EQ(ClockSets.size(), 1u);
    deliver(0.2, "a.example");  // a near time needs no second
    EXPECT_EQ(ClockSets.size(), 2u);

    // Two entries that reach one server are one source: it cannot agree with itself.
    RunCycle();
    deliver(yearAhead, "192.0.2.1:123");
    deliver(yearAhead + 0.5, "192.0.2.1:123");
    EXPECT_EQ(ClockSets.size(), 2u);
    deliver(yearAhead + 0.7, "192.0.2.2:123");
    EXPECT_EQ(ClockSets.size(), 3u);
}

TEST_F(TimeSyncTest, ARepeatedEntryIsAskedOnce) {
    Sync.SetTimeServerList(Lines("Pool.Example\r\npool.example.:123\r\n[::1]:0123\r\n::1\r\n"
                                 "pool.example:124\r\nhttp://s.example/t\r\n"));
    Sync.SetPHPsyncList(Lines("http://s.example/t\r\n http://s.example/t \r\nhttp://s.example/u"));
    RunCycle();
    EXPECT_EQ(Sources, (std::vector<std::string>{"Pool.Example", "[::1]:0123", "pool.example:124",
                                                 "http://s.example/t", "http://s.example/u"}));
    // The built-in list names one pool twice: it is asked once.
    Sync.SetGetDefault(true);
    Sync.SetPHPsyncList(Lines(""));
    Sources.clear();
    RunCycle();
    EXPECT_EQ(Sources.size(), 6u);
}

TEST_F(TimeSyncTest, ACoarseAnswerWaitsForAFinerOne) {
    Sync.SetSetLocalTime(true);
    Delivering = 0;
    std::atomic<bool> gate{false};
    Gate = &gate;  // the server's worker runs until the test opens the gate
    Sync.SetTimeServerList(Lines("a.example"));
    Sync.SetPHPsyncList(Lines("http://s.example/t"));
    Sync.SyncTimerTick();
    const int64_t halfSecond = 500000000;
    Sync.AcceptTime(Answer(0.7, "http://s.example/t", halfSecond));  // whole seconds
    EXPECT_TRUE(ClockSets.empty());
    EXPECT_TRUE(Sync.HoldTimer().Enabled());
    EXPECT_EQ(Sync.HoldTimer().Interval(), TLuTimeSync::CoarseWaitMs);
    Sync.AcceptTime(Answer(0.000123, "127.0.0.1:123"));  // the server, within the wait
    ASSERT_EQ(ClockSets.size(), 1u);
    EXPECT_NEAR(ClockSets[0], 0.000123, 1e-6);
    EXPECT_FALSE(Sync.HoldTimer().Enabled());
    EXPECT_EQ(Synced.size(), 1u);

    // No finer answer within the wait: the coarse one is taken when it ends.
    Sync.SyncTimerTick();
    Sync.AcceptTime(Answer(0.7, "http://s.example/t", halfSecond));
    Sync.AcceptTime(Answer(0.2, "http://s.example/t", 50000000));  // tenths: finer, waits instead
    EXPECT_TRUE(ClockSets.size() == 1u && Sync.HoldTimer().Enabled());
    Sync.HoldTimerTick();
    ASSERT_EQ(ClockSets.size(), 2u);
    EXPECT_NEAR(ClockSets[1], 0.2, 1e-3);

    // A millisecond answer is fine enough to be taken at once.
    Sync.SyncTimerTick();
    Sync.AcceptTime(Answer(0.3, "http://s.example/t", 500000));
    EXPECT_EQ(ClockSets.size(), 3u);

    // Once every server has finished without a time, a waiting answer is taken at once.
    Sync.SyncTimerTick();
    Sync.AcceptTime(Answer(0.4, "http://s.example/t", halfSecond));
    EXPECT_EQ(ClockSets.size(), 3u);
    gate = true;
    ASSERT_TRUE(WaitUntil([this] { return Sync.WorkerCount() == 0; }));
    ASSERT_EQ(ClockSets.size(), 4u);
    EXPECT_NEAR(ClockSets[3], 0.4, 1e-3);
    ASSERT_TRUE(WaitUntil([] { return TThread::LiveCount() == 0; }));
}

TEST_F(TimeSyncTest, AnAuthenticatedFarTimeStillNeedsASecondSourceAndIsLoggedAsSuch) {
    Sync.SetSetLocalTime(true);
    Delivering = 0;
    Sync.SetTimeServerList(Lines("nts://a.example\r\nb.example"));
    RunCycle();
    auto deliver = [this](double offset, const char* source, bool authenticated) {
        TSourceAnswer answer = Answer(offset, source);
        answer.Sample.Authenticated = authenticated;
        Sync.AcceptTime(answer);
    };
    deliver(7200, "nts://a.example", true);
    EXPECT_TRUE(ClockSets.empty());
    deliver(7200.5, "b.example", false);
    ASSERT_EQ(ClockSets.size(), 1u);
    ASSERT_EQ(Log.size(), 2u);
    EXPECT_NE(Log[1].find("time from b.example: "), std::string::npos) << Log[1];
    RunCycle();
    deliver(0.1, "nts://a.example", true);
    EXPECT_NE(Log.back().find("time from nts://a.example (authenticated): "), std::string::npos)
        << Log.back();
}

TEST_F(TimeSyncTest, TheOnlySourceMayMoveTheClockFarAndSaysSo) {
    Sync.SetSetLocalTime(true);
    Offsets = {-2e9};
    Delivering = 1;
    Sync.SetTimeServerList(Lines("only.example\r\n only.example "));  // one, written twice
    RunCycle();
    ASSERT_EQ(ClockSets.size(), 1u);
    EXPECT_NE(Log[0].find("only source"), std::string::npos);
}

TEST_F(TimeSyncTest, ARefusedStepIsASyncErrorWithItsReasonAndNoLine) {
    Sync.SetSetLocalTime(true);
    ClockRefused = true;
    Sync.SetTimeServerList(Lines("a.example\r\nb.example"));
    RunCycle();
    EXPECT_EQ(ClockSets.size(), 1u);  // the cycle ends at the first refusal
    EXPECT_TRUE(Synced.empty());
    EXPECT_EQ(Errors, 1);
    EXPECT_FALSE(Sync.TimeoutTimer().Enabled());
    EXPECT_EQ(LogLinesWith("sync error"), 1u);
    EXPECT_EQ(LogLinesWith("sync error: the PC clock was not stepped: Operation not permitted"), 1u);
    // A setter that says no without a reason is a refusal too.
    ClockRefused = false;
    SetClockSetter([this](double offset) {
        ClockSets.push_back(offset);
        return false;
    });
    RunCycle();
    EXPECT_TRUE(Synced.empty());
    EXPECT_EQ(Errors, 2);
}

TEST_F(TimeSyncTest, AnAnswerAfterItsCyclesSyncErrorIsDropped) {
    Sync.SetTimeServerList(Lines("a.example"));
    std::atomic<bool> gate{false};
    Gate = &gate;
    Sync.SyncTimerTick();
    Sync.TimeoutTimerTick();
    EXPECT_EQ(Errors, 1);
    EXPECT_EQ(LogLinesWith("sync error: no time source answered within 20 s"), 1u);
    gate = true;
    ASSERT_TRUE(WaitUntil([this] { return Sync.WorkerCount() == 0; }));
    ASSERT_TRUE(WaitUntil([] { return TThread::LiveCount() == 0; }));
    EXPECT_TRUE(Synced.empty());
    // Nor does an answer of an earlier cycle count for a later one.
    Gate = nullptr;
    Sync.SyncTimerTick();
    TSourceAnswer old = Answer(0.1, "a.example");
    old.Cycle = Sync.Cycle() - 1;
    Sync.AcceptTime(old);
    EXPECT_TRUE(Synced.empty());
    ASSERT_TRUE(WaitUntil([this] { return Sync.WorkerCount() == 0; }));
    EXPECT_EQ(Synced.size(), 1u);
    ASSERT_TRUE(WaitUntil([] { return TThread::LiveCount() == 0; }));
}

TEST_F(TimeSyncTest, AnOffsetThatRoundsToNothingIsPositive) {
    Sync.SetTimeServerList(Lines("a.example"));
    Delivering = 0;
    RunCycle();
    Sync.AcceptTime(Answer(-1e-8, "a.example"));
    ASSERT_EQ(Synced.size(), 1u);
    EXPECT_EQ(LogLinesWith("-0.000000"), 0u);
    EXPECT_EQ(LogLinesWith("PC clock off by +0.000000 s"), 1u);
}

TEST(TimeSyncLifetime, ResultDuringDestructionIsDropped) {
    std::atomic<bool> gate{false};
    int synced = 0;
    {
        TLuTimeSync sync;
        sync.SetOnSync([&](TComponent*, TDateTime) { ++synced; });
        sync.SetWorkerFactory([&](TLuTimeSync& owner, const TSyncRequest& request) -> TThread* {
            return new TFakeWorker(owner, request, 0.5, true, &gate);
        });
        TStringList one;
        one.Add("a.example");
        sync.SetTimeServerList(one);
        sync.SyncTimerTick();
        QueueOnMainThread([&] { gate = true; });  // opens while the destructor waits
    }
    EXPECT_EQ(synced, 0);
    EXPECT_TRUE(WaitUntil([] { return TThread::LiveCount() == 0; }));
}

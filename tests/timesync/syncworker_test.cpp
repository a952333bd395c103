// The workers as the component runs them, against real peers on loopback: an SNTP server
// written here and an HTTP time script.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "net/loopback_peers.h"
#include "support/ntp_reply.h"
#include "support/scoped_env.h"
#include "support/wait.h"
#include "timesync/lutimesync.h"
#include "timesync/syncthread.h"
#include "toolkit/eventlog.h"

using peers::TConnection;
using peers::TTcpServer;
using peers::TUdpResponder;

namespace {

constexpr uint32_t Ntp2020Noon = 3786868800u;  // 2020-01-01 12:00:00 UTC

class SyncWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        FPreviousSink = SetEventLogSink([](const std::string&) {});
        Env.Set("TZ", "CET-1")  // UTC+1 all year
            .Set("TIKTAAL_DATE_FORMAT", "yyyy-MM-dd")
            .Set("TIKTAAL_TIME_FORMAT", "HH:mm:ss");
        Sync.SetOnSync([this](TComponent*, TDateTime t) { Synced.push_back(t); });
        Sync.SetTimeServerList(Lines(""));  // one default host: replaced by each test
    }
    void TearDown() override {
        EXPECT_TRUE(WaitUntil([] { return TThread::LiveCount() == 0; }, 8000));
        SetEventLogSink(FPreviousSink);
    }
    static TStringList Lines(const std::string& text) {
        TStringList l;
        l.SetText(text);
        return l;
    }
    void RunCycle() {
        Sync.SyncTimerTick();
        ASSERT_TRUE(WaitUntil([this] { return Sync.WorkerCount() == 0; }, 8000));
    }
    std::string Result(size_t i = 0) const {
        return i < Synced.size() ? FormatDateTime("yyyy-MM-dd HH:mm:ss", Synced[i]) : "(none)";
    }

    TScopedEnv Env;
    TLuTimeSync Sync;
    std::vector<TDateTime> Synced;

private:
    TEventLogSink FPreviousSink;
};

TTcpServer::TScript Answer(const std::string& body) {
    return [body](TConnection& c) {
        c.ReadHead();
        c.Send("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n" + body);
    };
}

}  // namespace

TEST_F(SyncWorkerTest, ServerTimeArrivesAsLocalTime) {
    TUdpResponder server([](TUdpResponder& r, const std::string& request, const sockaddr_in& to) {
        r.Send(TUdpResponder::FromServer, ValidReply(request, Ntp2020Noon, 0), to);
    });
    Sync.SetTimeServerList(Lines("127.0.0.1:" + server.PortText()));
    RunCycle();
    EXPECT_EQ(Result(), "2020-01-01 13:00:00");
}

TEST_F(SyncWorkerTest, ScriptAnswerIsReadInTheUserFormats) {
    TTcpServer script(Answer("<html><body>\r\nsync_time: 2011-05-04 12:34:56\r\n</body></html>"));
    Sync.SetSyncSNTP(false);
    Sync.SetPHPsyncList(Lines(script.Url("/TIME.PHP?zone=local")));
    RunCycle();
    EXPECT_EQ(Result(), "2011-05-04 12:34:56");  // local time as given, no zone applied
}

TEST_F(SyncWorkerTest, ScriptsWithoutAUsableAnswerGiveNothing) {
    TTcpServer noMarker(Answer("2011-05-04 12:34:56"));
    TTcpServer capitals(Answer("SYNC_TIME: 2011-05-04 12:34:56"));
    TTcpServer dateThenText(Answer("sync_time: 2011-05-04\r\nmore"));
    TTcpServer huge(Answer(std::string(3 << 20, 'x') + "sync_time: 2011-05-04 12:34:56"));
    Sync.SetSyncSNTP(false);
    Sync.SetPHPsyncList(Lines(noMarker.Url("/t.php") + "\r\n" + capitals.Url("/t.php") + "\r\n" +
                              dateThenText.Url("/t.php") + "\r\n" + huge.Url("/t.php")));
    RunCycle();
    EXPECT_EQ(Result(), "(none)");
}

namespace {
// A reset instead of an orderly close when the connection ends.
void ResetOnClose(TConnection& c) {
    const linger abort{1, 0};
    setsockopt(c.Fd(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
}
}  // namespace

TEST_F(SyncWorkerTest, ACutOffScriptAnswerIsNoTime) {
    Sync.SetSyncSNTP(false);
    // Closed cleanly after a time without its seconds, and reset after a cut-off line.
    TTcpServer closed([](TConnection& c) {
        c.ReadHead();
        c.Send("HTTP/1.0 200 OK\r\n\r\nsync_time: 2026-12-08 07:4");
    });
    TTcpServer reset([](TConnection& c) {
        c.ReadHead();
        c.Send("HTTP/1.0 200 OK\r\n\r\nsync_time: 2026-12-08 07:45:1");
        c.Idle(100);
        ResetOnClose(c);
    });
    for (TTcpServer* server : {&closed, &reset}) {
        Sync.SetPHPsyncList(Lines(server->Url("/t.php")));  // alone, so a far time would count
        RunCycle();
    }
    EXPECT_EQ(Result(), "(none)");
}

TEST_F(SyncWorkerTest, AScriptTimeIsAsOldAsItsArrival) {
    Sync.SetSyncSNTP(false);
    // The answer in the middle of a second, which a time to the whole second stands for,
    // then the connection held open for 2 s.
    TTcpServer script([](TConnection& c) {
        c.ReadHead();
        const auto now = std::chrono::system_clock::now();
        std::this_thread::sleep_until(std::chrono::ceil<std::chrono::seconds>(now) +
                                      std::chrono::milliseconds(500));
        c.Send("HTTP/1.0 200 OK\r\n\r\nsync_time: " +
               FormatDateTime("yyyy-MM-dd HH:mm:ss", NowLocal()) + "\r\n");
        c.Hold(2000);
    });
    Sync.SetPHPsyncList(Lines(script.Url("/t.php")));
    std::vector<double> offsets;
    Sync.SetOnSync(
        [&](TComponent*, TDateTime t) { offsets.push_back((t - NowLocal()) * SecsPerDay); });
    const TClockStamp start = ClockStampNow();
    RunCycle();
    ASSERT_EQ(offsets.size(), 1u);
    EXPECT_NEAR(offsets[0], 0.0, 0.3);  // not 2 s stale
    // Nor was the held connection waited for once the answer's line was complete.
    EXPECT_LT(ClockStampNow().MonoNs - start.MonoNs, int64_t{1900000000});
}

namespace {
// A reply whose receive and transmit times are the PC clock now, shifted by offsetSeconds.
std::string ReplyNow(const std::string& request, double offsetSeconds) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    const double now = static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9 + offsetSeconds;
    const auto seconds = static_cast<uint32_t>(static_cast<int64_t>(now) + 2208988800);
    const auto fraction = static_cast<uint32_t>((now - std::floor(now)) * 4294967296.0);
    std::string reply = ValidReply(request, seconds, fraction);
    PutWord(reply, 36, fraction);
    return reply;
}

// The local time now plus offsetSeconds in the script's formats, to the millisecond or
// to the whole second.
std::string ScriptTime(double offsetSeconds, bool milliseconds) {
    return FormatDateTime(milliseconds ? "yyyy-MM-dd HH:mm:ss.zzz" : "yyyy-MM-dd HH:mm:ss",
                          NowLocal() + offsetSeconds / SecsPerDay);
}
}  // namespace

TEST_F(SyncWorkerTest, AScriptOfAnyNameIsFetchedAndItsFractionKept) {
    Sync.SetSyncSNTP(false);
    TTcpServer script([](TConnection& c) {
        c.ReadHead();
        c.Send("HTTP/1.0 200 OK\r\n\r\nsync_time: " + ScriptTime(0.25, true) + "\r\n");
    });
    Sync.SetPHPsyncList(Lines(script.Url("/time")));
    std::vector<double> offsets;
    Sync.SetOnSync(
        [&](TComponent*, TDateTime t) { offsets.push_back((t - NowLocal()) * SecsPerDay); });
    RunCycle();
    ASSERT_EQ(offsets.size(), 1u);
    EXPECT_NEAR(offsets[0], 0.25, 0.05);  // its milliseconds kept, not the second's start
}

TEST_F(SyncWorkerTest, ATimeIsAsOldAsTheBytesThatCarryItNotItsLineEnd) {
    Sync.SetSyncSNTP(false);
    TTcpServer script([](TConnection& c) {
        c.ReadHead();
        c.Send("HTTP/1.0 200 OK\r\n\r\nsync_time: " + ScriptTime(0, true));
        c.Idle(1500);
        c.Send(" \r\n");
    });
    Sync.SetPHPsyncList(Lines(script.Url("/t.php")));
    std::vector<double> offsets;
    Sync.SetOnSync(
        [&](TComponent*, TDateTime t) { offsets.push_back((t - NowLocal()) * SecsPerDay); });
    RunCycle();
    ASSERT_EQ(offsets.size(), 1u);
    EXPECT_NEAR(offsets[0], 0.0, 0.1);  // not 1.5 s behind
}

TEST_F(SyncWorkerTest, AWholeSecondScriptGivesWayToAServerOfTheSameCycle) {
    // The script answers at once, 3 s ahead and to the second; the server 150 ms later
    // with the PC's own time.
    TTcpServer script([](TConnection& c) {
        c.ReadHead();
        c.Send("HTTP/1.0 200 OK\r\n\r\nsync_time: " + ScriptTime(3, false) + "\r\n");
    });
    TUdpResponder server([](TUdpResponder& r, const std::string& request, const sockaddr_in& to) {
        std::string reply = ReplyNow(request, 0);  // received now, sent 150 ms later
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        reply.replace(40, 8, ReplyNow(request, 0).substr(40, 8));
        r.Send(TUdpResponder::FromServer, reply, to);
    });
    Sync.SetTimeServerList(Lines("127.0.0.1:" + server.PortText()));
    Sync.SetPHPsyncList(Lines(script.Url("/t")));
    std::vector<double> offsets;
    Sync.SetOnSync(
        [&](TComponent*, TDateTime t) { offsets.push_back((t - NowLocal()) * SecsPerDay); });
    RunCycle();
    ASSERT_EQ(offsets.size(), 1u);
    EXPECT_NEAR(offsets[0], 0.0, 0.01);

    // A server that stays silent: the script's time is taken once the short wait is over.
    TUdpResponder silent([](TUdpResponder&, const std::string&, const sockaddr_in&) {});
    Sync.SetTimeServerList(Lines("127.0.0.1:" + silent.PortText()));
    const TClockStamp start = ClockStampNow();
    double tookMs = 0;
    Sync.SetOnSync([&](TComponent*, TDateTime t) {
        offsets.push_back((t - NowLocal()) * SecsPerDay);
        tookMs = static_cast<double>(ClockStampNow().MonoNs - start.MonoNs) / 1e6;
    });
    RunCycle();
    ASSERT_EQ(offsets.size(), 2u);
    EXPECT_NEAR(offsets[1], 3.0, 0.6);  // the middle of the second it named
    EXPECT_GE(tookMs, TLuTimeSync::CoarseWaitMs * 0.9);  // Qt's timers may fire 5 % early
    EXPECT_LT(tookMs, 4000);  // long before the server's 5 s are up
}

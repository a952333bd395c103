// The workers as the component runs them, against real peers on loopback: an SNTP server
// written here and an HTTP time script.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
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
    // The answer right after a second begins, then the connection held open for 2 s.
    TTcpServer script([](TConnection& c) {
        c.ReadHead();
        const auto now = std::chrono::system_clock::now();
        std::this_thread::sleep_until(std::chrono::ceil<std::chrono::seconds>(now) +
                                      std::chrono::milliseconds(5));
        c.Send("HTTP/1.0 200 OK\r\n\r\nsync_time: " +
               FormatDateTime("yyyy-MM-dd HH:mm:ss", NowLocal()) + "\r\n");
        c.Hold(2000);
    });
    Sync.SetPHPsyncList(Lines(script.Url("/t.php")));
    std::vector<double> offsets;
    Sync.SetOnSync(
        [&](TComponent*, TDateTime t) { offsets.push_back((t - NowLocal()) * SecsPerDay); });
    RunCycle();
    ASSERT_EQ(offsets.size(), 1u);
    EXPECT_NEAR(offsets[0], 0.0, 0.3);  // not 2 s stale
}

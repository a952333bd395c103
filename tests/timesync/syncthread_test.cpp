#include "timesync/syncthread.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/clock.h"
#include "support/scoped_env.h"
#include "timesync/script_answer.h"

namespace {
const TDateTimeFormats Iso{"yyyy-MM-dd", "HH:mm:ss"};
const TDateTime Today = EncodeDate(2026, 12, 8);

std::string Extracted(const std::string& body, bool complete = true) {
    TDateTime r = 0;
    size_t end = 0;
    if (!ExtractSyncTime(body, complete, Iso, Today, r, end)) return "(none)";
    return FormatDateTime("yyyy-MM-dd HH:mm:ss", r) + " @" + std::to_string(end);
}

}  // namespace

TEST(SyncSource, ScriptsAreRecognisedByTheirExtensionAnywhere) {
    EXPECT_TRUE(TLuSyncThread::IsScriptSource("http://h/TIME.PHP?x=1"));
    EXPECT_TRUE(TLuSyncThread::IsScriptSource("a.php.example.org"));
    EXPECT_FALSE(TLuSyncThread::IsScriptSource("http://h/time.asp"));
    EXPECT_FALSE(TLuSyncThread::IsScriptSource("pool.ntp.org"));
}

TEST(ScriptAnswer, MarkerThenLocalTime) {
    EXPECT_EQ(Extracted("<html>sync_time: 2011-05-04 12:34:56\r\n"), "2011-05-04 12:34:56 @36");
    EXPECT_EQ(Extracted("sync_time:2011-05-04 12:34:56\r\n</html>\r\nmore"),
              "2011-05-04 12:34:56 @29");
    EXPECT_EQ(Extracted("x\r\nsync_time: 2011-05-04 \r\n"), "(none)");  // no time of day
    EXPECT_EQ(Extracted("sync_time: 2011-05-04\r\nmore text"), "(none)");
    EXPECT_EQ(Extracted("SYNC_TIME: 2011-05-04 12:34:56"), "(none)");
    EXPECT_EQ(Extracted("no marker 2011-05-04 12:34:56"), "(none)");
    EXPECT_EQ(Extracted("sync_time:   \r\n\t"), "(none)");
    EXPECT_EQ(Extracted("sync_time: yesterday"), "(none)");
    EXPECT_EQ(Extracted(std::string("sync_time: 2011-05-04 12:34:56", 30) + '\0' + "junk", false),
              "2011-05-04 12:34:56 @30");
    EXPECT_EQ(Extracted(std::string("a\0sync_time: 2011-05-04 12:34:56", 33)), "(none)");
    EXPECT_EQ(Extracted(""), "(none)");
}

TEST(ScriptAnswer, ACutOffAnswerIsNoTime) {
    // Cut off mid-line: nothing, however the connection ended.
    EXPECT_EQ(Extracted("sync_time: 2026-12-08 07:4", false), "(none)");
    EXPECT_EQ(Extracted("sync_time: 2026-12-08 07:4", true), "(none)");  // no seconds
    EXPECT_EQ(Extracted("sync_time: 2026-12-08 07:45", true), "(none)");
    EXPECT_EQ(Extracted("sync_time: 2026-12-08 07:45:12", false), "(none)");
    // Whole: the line ended, or the body ended as its framing says.
    EXPECT_EQ(Extracted("sync_time: 2026-12-08 07:45:12\n", false), "2026-12-08 07:45:12 @30");
    EXPECT_EQ(Extracted("sync_time: 2026-12-08 07:45:12", true), "2026-12-08 07:45:12 @29");
    EXPECT_EQ(Extracted("sync_time: 2026-12-08 7:45:12 PM\r", false), "2026-12-08 19:45:12 @32");
}

TEST(TimeZone, UtcToLocalAppliesTheZoneOfThatDate) {
    {
        TScopedEnv cet("TZ", "CET-1");  // UTC+1, no daylight saving
        EXPECT_EQ(FormatDateTime("yyyy-MM-dd HH:mm:ss.zzz",
                                 UtcToLocal(EncodeDateTime(2020, 1, 1, 12, 0, 0, 250))),
                  "2020-01-01 13:00:00.250");
    }
    {
        TScopedEnv warsaw("TZ", "Europe/Warsaw");
        EXPECT_EQ(FormatDateTime("HH:mm", UtcToLocal(EncodeDateTime(2020, 7, 1, 12, 0, 0))),
                  "14:00");
        EXPECT_EQ(FormatDateTime("HH:mm", UtcToLocal(EncodeDateTime(2020, 1, 1, 12, 0, 0))),
                  "13:00");
        EXPECT_NEAR(LocalToUtc(EncodeDateTime(2020, 7, 1, 14, 0, 0)),
                    EncodeDateTime(2020, 7, 1, 12, 0, 0), 1e-9);
    }
}

TEST(ClockSeam, InjectedSetterIsUsedAndRestored) {
    double seen = 0;
    TClockSetter previous = SetClockSetter([&](double offset) {
        seen = offset;
        return true;
    });
    EXPECT_TRUE(StepPCClock(-0.25));
    EXPECT_DOUBLE_EQ(seen, -0.25);
    SetClockSetter(previous);
}

TEST(SyncSource, ServerSourcesMayCarryAPort) {
    std::string host, port;
    SplitServerSource("pool.ntp.org", host, port);
    EXPECT_EQ(host + "|" + port, "pool.ntp.org|123");
    SplitServerSource("127.0.0.2:12300", host, port);
    EXPECT_EQ(host + "|" + port, "127.0.0.2|12300");
    SplitServerSource("[::1]:12301", host, port);
    EXPECT_EQ(host + "|" + port, "::1|12301");
    SplitServerSource("fe80::1", host, port);
    EXPECT_EQ(host + "|" + port, "fe80::1|123");
    SplitServerSource("[::1]", host, port);
    EXPECT_EQ(host + "|" + port, "::1|123");
    SplitServerSource(" spaced ", host, port);
    EXPECT_EQ(host, " spaced ");  // passed on as given
}

TEST(SyncSource, NtsSourcesNameTheKeyExchangePort) {
    std::string host, port;
    EXPECT_TRUE(IsNtsSource("NTS://time.example"));
    EXPECT_FALSE(IsNtsSource("nts.example"));
    SplitNtsSource("nts://time.example", host, port);
    EXPECT_EQ(host + "|" + port, "time.example|4460");
    SplitNtsSource("nts://127.0.0.1:123", host, port);
    EXPECT_EQ(host + "|" + port, "127.0.0.1|123");
    SplitNtsSource("nts://[::1]", host, port);
    EXPECT_EQ(host + "|" + port, "::1|4460");
    SplitNtsSource("nts://[::1]:4461", host, port);
    EXPECT_EQ(host + "|" + port, "::1|4461");
    SplitNtsSource("nts://fe80::123", host, port);
    EXPECT_EQ(host + "|" + port, "fe80::123|4460");
}

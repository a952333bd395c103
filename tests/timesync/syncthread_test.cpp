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

std::string Extracted(const std::string& body) {
    TDateTime r = 0;
    if (!ExtractSyncTime(body, Iso, Today, r)) return "(none)";
    return FormatDateTime("yyyy-MM-dd HH:mm:ss", r);
}

}  // namespace

TEST(SyncSource, ScriptsAreRecognisedByTheirExtensionAnywhere) {
    EXPECT_TRUE(TLuSyncThread::IsScriptSource("http://h/TIME.PHP?x=1"));
    EXPECT_TRUE(TLuSyncThread::IsScriptSource("a.php.example.org"));
    EXPECT_FALSE(TLuSyncThread::IsScriptSource("http://h/time.asp"));
    EXPECT_FALSE(TLuSyncThread::IsScriptSource("pool.ntp.org"));
}

TEST(ScriptAnswer, MarkerThenLocalTime) {
    EXPECT_EQ(Extracted("<html>sync_time: 2011-05-04 12:34:56\r\n"), "2011-05-04 12:34:56");
    EXPECT_EQ(Extracted("sync_time:2011-05-04 12:34:56\r\n</html>\r\nmore"), "2011-05-04 12:34:56");
    EXPECT_EQ(Extracted("x\r\nsync_time: 2011-05-04 \r\n"), "2011-05-04 00:00:00");
    EXPECT_EQ(Extracted("sync_time: 2011-05-04\r\nmore text"), "(none)");
    EXPECT_EQ(Extracted("SYNC_TIME: 2011-05-04 12:34:56"), "(none)");
    EXPECT_EQ(Extracted("no marker 2011-05-04 12:34:56"), "(none)");
    EXPECT_EQ(Extracted("sync_time:   \r\n\t"), "(none)");
    EXPECT_EQ(Extracted("sync_time: yesterday"), "(none)");
    EXPECT_EQ(Extracted(std::string("sync_time: 2011-05-04 12:34:56", 30) + '\0' + "junk"),
              "2011-05-04 12:34:56");
    EXPECT_EQ(Extracted(std::string("a\0sync_time: 2011-05-04 12:34:56", 33)), "(none)");
    EXPECT_EQ(Extracted(""), "(none)");
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
    TDateTime seen = 0;
    TClockSetter previous = SetClockSetter([&](TDateTime t) {
        seen = t;
        return true;
    });
    EXPECT_TRUE(SetPCDateTime(42.5));
    EXPECT_DOUBLE_EQ(seen, 42.5);
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

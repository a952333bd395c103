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

// The time found, with its fraction digits if any, and the offset of its last byte.
std::string Extracted(const std::string& body, bool complete = true) {
    TScriptReading r;
    if (!ExtractSyncTime(body, complete, Iso, Today, r)) return "(none)";
    std::string text = FormatDateTime("yyyy-MM-dd HH:mm:ss", r.Time.WholeSecond);
    if (r.Time.FractionDigits > 0)
        text += "+" + std::to_string(r.Time.FractionNs) + "ns/" + std::to_string(r.Time.FractionDigits);
    return text + " @" + std::to_string(r.LastByte);
}

}  // namespace

TEST(SyncSource, KindsOfTheServerListsEntries) {
    EXPECT_EQ(ServerListEntryKind("http://h/TIME.PHP?x=1"), TSourceKind::Script);
    EXPECT_EQ(ServerListEntryKind("a.php.example.org"), TSourceKind::Script);
    EXPECT_EQ(ServerListEntryKind(" HTTP://h/time.asp"), TSourceKind::Script);
    EXPECT_EQ(ServerListEntryKind("https://h/time"), TSourceKind::Script);
    EXPECT_EQ(ServerListEntryKind("nts://time.example:4461"), TSourceKind::Nts);
    EXPECT_EQ(ServerListEntryKind("pool.ntp.org"), TSourceKind::Server);
}

TEST(SyncSource, OneIdentityPerSourceHoweverItIsWritten) {
    auto id = [](const std::string& entry, TSourceKind kind = TSourceKind::Server) {
        return MakeTimeSource(entry, kind).Identity;
    };
    EXPECT_EQ(id("Pool.NTP.org"), "pool.ntp.org:123");
    EXPECT_EQ(id(" pool.ntp.org.:0123 "), "pool.ntp.org:123");
    EXPECT_EQ(id("[::1]"), "[::1]:123");
    EXPECT_EQ(id("::1"), "[::1]:123");
    EXPECT_EQ(id("[::1]:12301"), "[::1]:12301");
    EXPECT_NE(id("pool.ntp.org:124"), id("pool.ntp.org"));
    EXPECT_EQ(id("nts://Time.Example", TSourceKind::Nts), "nts://time.example:4460");
    EXPECT_EQ(id(" http://h/t ", TSourceKind::Script), "http://h/t");
    EXPECT_NE(id("http://h/t", TSourceKind::Script), id("http://h/u", TSourceKind::Script));
}

TEST(SyncSource, BracketsMustHoldAnAddressAndOnlyAPortMayFollow) {
    EXPECT_EQ(ServerSourceProblem("[::1]:123"), "");
    EXPECT_EQ(ServerSourceProblem("[::1]"), "");
    EXPECT_NE(ServerSourceProblem("[::1").find("no closing ']'"), std::string::npos);
    EXPECT_NE(ServerSourceProblem("[::1]x").find("'x' after its ']'"), std::string::npos);
    EXPECT_NE(ServerSourceProblem("[::1]:").find("port ''"), std::string::npos);
    EXPECT_NE(ServerSourceProblem("[host]:123").find("no IPv6 address"), std::string::npos);
}

TEST(ScriptAnswer, TheWatchSeesTheAnswersLineCompleteAsItArrives) {
    TAnswerLineWatch watch;
    std::string body;
    for (const char* piece : {"<html>sync_", "time: 2011-05-04 12:3", "4:56", "\r\nmore"}) {
        body += piece;
        EXPECT_EQ(watch.LineComplete(body), body.find('\r') != std::string::npos) << body;
    }
    TAnswerLineWatch noMarker;
    EXPECT_FALSE(noMarker.LineComplete("sync_tim\r\n"));
    EXPECT_TRUE(noMarker.LineComplete(std::string("sync_tim\r\nx\0", 12)));  // the text ended
    TAnswerLineWatch nulEnds;
    EXPECT_TRUE(nulEnds.LineComplete(std::string("sync_time: 2011-05-04 12:34:56\0", 31)));
}

TEST(ScriptAnswer, FractionsOfASecondAreKeptAndTheTimeEndsAtItsLastByte) {
    EXPECT_EQ(Extracted("sync_time: 2011-05-04 12:34:56.789\r\n"),
              "2011-05-04 12:34:56+789000000ns/3 @33");
    EXPECT_EQ(Extracted("sync_time: 2011-05-04 12:34:56,5 CET\n"),
              "2011-05-04 12:34:56+500000000ns/1 @31");
    EXPECT_EQ(Extracted("sync_time: 2011-05-04 12:34:56.123456789123\n"),
              "2011-05-04 12:34:56+123456789ns/9 @42");
    EXPECT_EQ(Extracted("sync_time: 2011-05-04 12:34:56. \n"), "2011-05-04 12:34:56 @29");
    EXPECT_EQ(HalfOfLastDigitNs(0), 500000000);
    EXPECT_EQ(HalfOfLastDigitNs(3), 500000);
    EXPECT_EQ(HalfOfLastDigitNs(9), 0);
}

TEST(ScriptAnswer, MarkerThenLocalTime) {
    EXPECT_EQ(Extracted("<html>sync_time: 2011-05-04 12:34:56\r\n"), "2011-05-04 12:34:56 @35");
    EXPECT_EQ(Extracted("sync_time:2011-05-04 12:34:56\r\n</html>\r\nmore"),
              "2011-05-04 12:34:56 @28");
    EXPECT_EQ(Extracted("x\r\nsync_time: 2011-05-04 \r\n"), "(none)");  // no time of day
    EXPECT_EQ(Extracted("sync_time: 2011-05-04\r\nmore text"), "(none)");
    EXPECT_EQ(Extracted("SYNC_TIME: 2011-05-04 12:34:56"), "(none)");
    EXPECT_EQ(Extracted("no marker 2011-05-04 12:34:56"), "(none)");
    EXPECT_EQ(Extracted("sync_time:   \r\n\t"), "(none)");
    EXPECT_EQ(Extracted("sync_time: yesterday"), "(none)");
    EXPECT_EQ(Extracted(std::string("sync_time: 2011-05-04 12:34:56", 30) + '\0' + "junk", false),
              "2011-05-04 12:34:56 @29");
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
    EXPECT_EQ(Extracted("sync_time: 2026-12-08 07:45:12\n", false), "2026-12-08 07:45:12 @29");
    EXPECT_EQ(Extracted("sync_time: 2026-12-08 07:45:12", true), "2026-12-08 07:45:12 @29");
    EXPECT_EQ(Extracted("sync_time: 2026-12-08 7:45:12 PM\r", false), "2026-12-08 19:45:12 @31");
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

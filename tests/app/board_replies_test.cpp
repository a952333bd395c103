#include "app/board_replies.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "support/scoped_env.h"

TEST(BoardReplies, EscapedAndCut) {
    EXPECT_EQ(EscapeReply("OK"), "OK");
    EXPECT_EQ(EscapeReply(std::string("a\\b\r\n\t\0\x7F\xC5", 9)),
              "a\\\\b\\r\\n\\t\\x00\\x7F\\xC5");
    const std::string cut = EscapeReply(std::string(500, 'x'));
    EXPECT_EQ(cut.size(), 200u);
    EXPECT_EQ(cut.substr(197), "...");
    // An escape is never split by the cut.
    EXPECT_EQ(EscapeReply(std::string(196, 'x') + "\x01"), std::string(196, 'x') + "\\x01");
    EXPECT_EQ(EscapeReply(std::string(197, 'x') + "\x01"), std::string(197, 'x') + "...");
}

TEST(BoardReplies, AtMostTenLinesASecondAndTheRestCounted) {
    TReplyRateLimit limit;
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(limit.Admit("r", 1000 + i));
    EXPECT_FALSE(limit.Admit("r", 1500));
    EXPECT_FALSE(limit.Admit("r", 1999));
    EXPECT_EQ(limit.Admit("r", 2000).value_or(""), "r (2 more not shown)");
}

TEST(BoardReplies, BoardTimeInTheLinesFormatsWithOrWithoutMilliseconds) {
    TScopedEnv tz("TZ", "UTC");
    tzset();
    const auto t = FindBoardTime("+CZAS: 2026-12-08,08:30:01.004\r", "yyyy-MM-dd", "HH:mm:ss");
    ASSERT_TRUE(t);
    EXPECT_TRUE(t->HasMillis);
    EXPECT_EQ(t->UnixMs, 1796718601004LL);
    EXPECT_EQ(BoardOffsetText(*t, 1796718601030LL, 30), "board clock off by +0.004 s");

    const auto whole = FindBoardTime("08.12.26,8:30:01 PM", "dd.MM.yy", "h:mm:ss AP");
    ASSERT_TRUE(whole);
    EXPECT_FALSE(whole->HasMillis);
    EXPECT_EQ(whole->UnixMs, 1796761801000LL);
    EXPECT_EQ(BoardOffsetText(*whole, 1796761802999LL, 0), "board clock off by -1 s");
    EXPECT_EQ(FindBoardTime("+CZAS: 2026-12-08,08:30:01.5", "yyyy-MM-dd", "HH:mm:ss")->UnixMs,
              1796718601500LL);

    EXPECT_FALSE(FindBoardTime("OK", "yyyy-MM-dd", "HH:mm:ss"));
    EXPECT_FALSE(FindBoardTime("2026-13-08,08:30:01", "yyyy-MM-dd", "HH:mm:ss"));
    EXPECT_FALSE(FindBoardTime("2026-12-08,08:30:01", "", ""));
}

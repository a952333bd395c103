#include "timesync/datetime_parser.h"

#include <gtest/gtest.h>

namespace {
const TDateTime Today = EncodeDate(2026, 12, 8);

std::string Parsed(const std::string& text, const TDateTimeFormats& f) {
    TDateTime r = 0;
    if (!TryParseLocalDateTime(text, f, Today, r)) return "(none)";
    return FormatDateTime("yyyy-MM-dd HH:mm:ss.zzz", r);
}
}  // namespace

TEST(DateTimeParser, FollowsTheOrderAndSeparatorsOfTheFormats) {
    const TDateTimeFormats iso{"yyyy-MM-dd", "HH:mm:ss"};
    const TDateTimeFormats polish{"dd.MM.yyyy", "HH:mm:ss"};
    const TDateTimeFormats us{"MM/dd/yy", "hh:mm:ss AP"};
    EXPECT_EQ(Parsed("2011-05-04 12:34:56", iso), "2011-05-04 12:34:56.000");
    EXPECT_EQ(Parsed("04.05.2011 12:34:56", polish), "2011-05-04 12:34:56.000");
    EXPECT_EQ(Parsed("05/04/11 12:34:56 PM", us), "2011-05-04 12:34:56.000");
    EXPECT_EQ(Parsed("05/04/11 12:34:56 am", us), "2011-05-04 00:34:56.000");
    EXPECT_EQ(Parsed("05/04/11 PM 1:02", us), "2011-05-04 13:02:00.000");
    // The wrong separator for the format is no date.
    EXPECT_EQ(Parsed("2011.05.04 12:34:56", iso), "(none)");
}

TEST(DateTimeParser, PartialDatesAndTimes) {
    const TDateTimeFormats polish{"dd.MM.yyyy", "HH:mm:ss"};
    EXPECT_EQ(Parsed("04.05", polish), "2026-05-04 00:00:00.000");  // this year
    EXPECT_EQ(Parsed("04.05.99", polish), "1999-05-04 00:00:00.000");
    EXPECT_EQ(Parsed("04.05.20", polish), "2020-05-04 00:00:00.000");
    EXPECT_EQ(Parsed("04.05.75", polish), "2075-05-04 00:00:00.000");
    EXPECT_EQ(Parsed("04.05.76", polish), "1976-05-04 00:00:00.000");
    EXPECT_EQ(Parsed("04.05.2011 7", polish), "2011-05-04 07:00:00.000");
    EXPECT_EQ(Parsed("04.05.2011 7:08", polish), "2011-05-04 07:08:00.000");
    EXPECT_EQ(Parsed("04.05.2011 07:08:09.123", polish), "2011-05-04 07:08:09.123");
}

TEST(DateTimeParser, TextAfterACompleteTimeIsIgnoredButNotAfterADate) {
    const TDateTimeFormats iso{"yyyy-MM-dd", "HH:mm:ss"};
    EXPECT_EQ(Parsed("2011-05-04 12:34:56</body>\r\nmore", iso), "2011-05-04 12:34:56.000");
    EXPECT_EQ(Parsed("2011-05-04\r\nmore", iso), "(none)");
    EXPECT_EQ(Parsed("2011-05-04 later", iso), "(none)");
}

TEST(DateTimeParser, RejectsWhatIsNoDateOrTime) {
    const TDateTimeFormats iso{"yyyy-MM-dd", "HH:mm:ss"};
    for (const char* bad : {"", "   ", "x", "2011", "2011-13-01", "2011-02-30", "2011-05-04 24:00",
                            "2011-05-04 12:60", "2011-05-04 12:34:61", "99999-01-01",
                            "2011-05-04 13:00 PM", "-1-05-04"})
        EXPECT_EQ(Parsed(bad, iso), "(none)") << bad;
}

#include "toolkit/datetime.h"

#include <gtest/gtest.h>

TEST(DateTime, EncodesKnownDays) {
    EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_DOUBLE_EQ(EncodeDate(1970, 1, 1), UnixDateDelta);
    EXPECT_DOUBLE_EQ(EncodeDate(2000, 1, 1), 36526.0);
    EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 29), -1.0);
    EXPECT_DOUBLE_EQ(EncodeTime(12, 0, 0, 0), 0.5);
}

TEST(DateTime, RejectsInvalidParts) {
    TDateTime r = 42;
    EXPECT_FALSE(TryEncodeDate(2023, 2, 29, r));
    EXPECT_FALSE(TryEncodeDate(2023, 13, 1, r));
    EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, r));
    EXPECT_FALSE(TryEncodeTime(0, 0, 60, 0, r));
    EXPECT_DOUBLE_EQ(r, 42);
    EXPECT_TRUE(TryEncodeDate(2024, 2, 29, r));
    EXPECT_THROW(EncodeDate(2100, 2, 29), std::invalid_argument);
}

TEST(DateTime, DecodeRoundsToMillisecondAndCarriesMidnight) {
    const TDateTime dt = EncodeDateTime(2011, 5, 4, 12, 34, 56, 789);
    const TDateParts d = DecodeDate(dt);
    const TTimeParts t = DecodeTime(dt);
    EXPECT_EQ(d.Year, 2011);
    EXPECT_EQ(d.Month, 5);
    EXPECT_EQ(d.Day, 4);
    EXPECT_EQ(t.Hour, 12);
    EXPECT_EQ(t.Minute, 34);
    EXPECT_EQ(t.Second, 56);
    EXPECT_EQ(t.MilliSecond, 789);

    const TDateTime nearlyMidnight = EncodeDate(2020, 12, 31) + 0.99999999999;
    EXPECT_EQ(DecodeDate(nearlyMidnight).Year, 2021);
    EXPECT_EQ(DecodeTime(nearlyMidnight).Hour, 0);
}

TEST(DateTime, UnixMillisecondsBothWays) {
    EXPECT_EQ(DateTimeToUnixMs(UnixDateDelta), 0);
    const TDateTime dt = EncodeDateTime(2036, 2, 7, 6, 28, 16);
    EXPECT_EQ(DateTimeToUnixMs(dt), 2085978496000LL);
    EXPECT_EQ(DateTimeToUnixMs(UnixMsToDateTime(-1500)), -1500);
    EXPECT_EQ(DecodeDate(UnixMsToDateTime(-1)).Year, 1969);
}

TEST(DateTime, WeekdaysStartOnSunday) {
    EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7);  // Saturday
    EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 6)), 1);   // Sunday
}

TEST(DateTime, FormatsWithToolkitLetters) {
    const TDateTime dt = EncodeDateTime(2011, 5, 4, 9, 4, 6, 7);
    EXPECT_EQ(FormatDateTime("yyyy-MM-dd", dt), "2011-05-04");
    EXPECT_EQ(FormatDateTime("HH:mm:ss", dt), "09:04:06");
    EXPECT_EQ(FormatDateTime("d.M.yy", dt), "4.5.11");
    EXPECT_EQ(FormatDateTime("H:m:s.zzz", dt), "9:4:6.007");
    EXPECT_EQ(FormatDateTime("h:mm AP", EncodeTime(0, 30, 0, 0)), "12:30 AM");
    EXPECT_EQ(FormatDateTime("hh:mm ap", EncodeTime(13, 5, 0, 0)), "01:05 pm");
    EXPECT_EQ(FormatDateTime("'dd' dd''", dt), "dd 04'");
}

TEST(DateTime, NowAgreesWithItself) {
    EXPECT_NEAR(NowUtc(), NowUtc(), 1.0 / 86400);
    EXPECT_NEAR(NowLocal(), NowUtc(), 1.0);  // within a day, whatever the zone
}

// The offset checks the Linux helper and the Windows service share: what is one offset in
// bounds, how it splits into a step, and where the clock may land.
#include "clock_offset.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ClockOffset, ReadsPlainDecimalsExactly) {
    TClockOffset o;
    ASSERT_TRUE(ParseClockOffset("-0.000123", o));
    EXPECT_TRUE(o.Negative);
    EXPECT_EQ(o.Seconds, 0);
    EXPECT_EQ(o.Nanoseconds, 123000);
    ASSERT_TRUE(ParseClockOffset("+3600.25", o));
    EXPECT_FALSE(o.Negative);
    EXPECT_EQ(o.Seconds, 3600);
    EXPECT_EQ(o.Nanoseconds, 250000000);
    ASSERT_TRUE(ParseClockOffset("0.000000001", o));
    EXPECT_EQ(o.Nanoseconds, 1);
    // The widest the window sends, and the bound itself.
    EXPECT_TRUE(ParseClockOffset("+3155760000.999999999", o));
    EXPECT_TRUE(ParseClockOffset("-3155760000", o));
    EXPECT_TRUE(o.Negative);
}

TEST(ClockOffset, RefusesAnythingElse) {
    for (const char* bad : {"",
                            "abc",
                            "inf",
                            "-inf",
                            "nan",
                            "1e3",
                            "0x10",
                            " 1",
                            "1 ",
                            "1.",
                            ".5",
                            "+-1",
                            "1,5",
                            "--1",
                            "+",
                            "99999999999",
                            "3155760001",
                            "0.0000000001",
                            "1.1234567890",
                            "12345678901234567890123456789012345"}) {
        TClockOffset o;
        EXPECT_FALSE(ParseClockOffset(bad, o)) << bad;
    }
}

TEST(ClockOffset, FloorsToASecondCountAndAPositiveFraction) {
    TClockOffset o;
    ASSERT_TRUE(ParseClockOffset("-1.25", o));
    TFlooredOffset f = FloorOffset(o);
    EXPECT_EQ(f.Seconds, -2);
    EXPECT_EQ(f.Nanoseconds, 750000000);
    ASSERT_TRUE(ParseClockOffset("-3", o));
    f = FloorOffset(o);
    EXPECT_EQ(f.Seconds, -3);
    EXPECT_EQ(f.Nanoseconds, 0);
    ASSERT_TRUE(ParseClockOffset("2.5", o));
    f = FloorOffset(o);
    EXPECT_EQ(f.Seconds, 2);
    EXPECT_EQ(f.Nanoseconds, 500000000);
}

TEST(ClockOffset, TheClockLandsWithin2000To2200) {
    const int64_t now = 1798761600;  // 2027-01-01
    TClockOffset o;
    ASSERT_TRUE(ParseClockOffset("-1000000000", o));  // 1995
    EXPECT_FALSE(ClockLandsInRange(now, o));
    ASSERT_TRUE(ParseClockOffset("+3000000000", o));  // 2122
    EXPECT_TRUE(ClockLandsInRange(now, o));
    // The edges, to the second: 2000-01-01 00:00:00 is in, 2200-01-01 00:00:00 is out.
    ASSERT_TRUE(ParseClockOffset("-852076800", o));
    EXPECT_TRUE(ClockLandsInRange(now, o));
    ASSERT_TRUE(ParseClockOffset("-852076800.5", o));
    EXPECT_FALSE(ClockLandsInRange(now, o));
    ASSERT_TRUE(ParseClockOffset("+3155760000", o));
    EXPECT_TRUE(ClockLandsInRange(LatestClockResult - 3155760000 - 1, o));
    EXPECT_FALSE(ClockLandsInRange(LatestClockResult - 3155760000, o));
    // A clock that restarted at 1970 may be mended.
    ASSERT_TRUE(ParseClockOffset("+1798761600", o));
    EXPECT_TRUE(ClockLandsInRange(0, o));
}

}  // namespace

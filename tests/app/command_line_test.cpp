#include "app/command_line.h"

#include <gtest/gtest.h>

TEST(CommandLine, PrefixDateCommaTime) {
    const TDateTime dt = EncodeDateTime(2011, 5, 4, 12, 34, 56);
    EXPECT_EQ(BuildCommandLine("AT+CZAS=", dt, dt, "yyyy-MM-dd", "HH:mm:ss"),
              "AT+CZAS=2011-05-04,12:34:56");
    EXPECT_EQ(BuildCommandLine("", dt, dt, "dd.MM.yyyy", "H:mm:ss"), "04.05.2011,12:34:56");
    // Date and time may come from different sources (the two pickers).
    EXPECT_EQ(BuildCommandLine("P", EncodeDate(2020, 1, 2), EncodeTime(3, 4, 5, 0), "yyyy-MM-dd",
                               "HH:mm:ss"),
              "P2020-01-02,03:04:05");
}

TEST(CommandLine, EchoNeedsThePrefix) {
    EXPECT_TRUE(LineHoldsPrefix("AT+CZAS=2011-05-04,12:34:56", "AT+CZAS="));
    EXPECT_TRUE(LineHoldsPrefix("xAT+CZAS=", "AT+CZAS="));
    EXPECT_FALSE(LineHoldsPrefix("2011-05-04,12:34:56", ""));
    EXPECT_FALSE(LineHoldsPrefix("AT", "AT+CZAS="));
}

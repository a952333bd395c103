// The locale's formats and the zone's rules on Windows, and the clock setter without its service.
#include <gtest/gtest.h>

#include <cstdlib>
#include <system_error>

#include "platform/clock.h"
#include "platform/locale_formats.h"
#include "platform/windows/locale_formats.h"

namespace {

TEST(WindowsPicture, NumericElementsBecomeTheToolkitsLetters) {
    EXPECT_EQ(WindowsPictureToToolkitFormat("dd.MM.yyyy"), "dd.MM.yyyy");
    EXPECT_EQ(WindowsPictureToToolkitFormat("M/d/yyyy"), "M/d/yyyy");
    EXPECT_EQ(WindowsPictureToToolkitFormat("yy-M-d"), "yy-M-d");
    EXPECT_EQ(WindowsPictureToToolkitFormat("y"), "yy");
    EXPECT_EQ(WindowsPictureToToolkitFormat("yyyyy"), "yyyy");
    EXPECT_EQ(WindowsPictureToToolkitFormat("HH:mm:ss"), "HH:mm:ss");
    EXPECT_EQ(WindowsPictureToToolkitFormat("h:mm:ss tt"), "h:mm:ss AP");
    EXPECT_EQ(WindowsPictureToToolkitFormat("tt hh:mm:ss"), "AP hh:mm:ss");
}

TEST(WindowsPicture, NamesAndTheEraAreLeftOutAndTextStaysText) {
    EXPECT_EQ(WindowsPictureToToolkitFormat("dddd, d MMMM yyyy"), ", d  yyyy");
    EXPECT_EQ(WindowsPictureToToolkitFormat("gg yyyy"), " yyyy");
    // Quoted text, and bare letters that are no element, are quoted for the toolkit.
    EXPECT_EQ(WindowsPictureToToolkitFormat("d 'de' MM"), "d 'de' MM");
    EXPECT_EQ(WindowsPictureToToolkitFormat("H 'h' mm"), "H 'h' mm");
    EXPECT_EQ(WindowsPictureToToolkitFormat("yyyy'r.'"), "yyyy'r'.");
    EXPECT_EQ(WindowsPictureToToolkitFormat("HH''mm"), "HH''mm");
    EXPECT_EQ(WindowsPictureToToolkitFormat("d 'unclosed"), "d 'unclosed'");
    EXPECT_EQ(WindowsPictureToToolkitFormat(""), "");
}

class EnvironmentTest : public ::testing::Test {
protected:
    void TearDown() override {
        _putenv("TIKTAAL_DATE_FORMAT=");
        _putenv("TIKTAAL_TIME_FORMAT=");
    }
};

TEST_F(EnvironmentTest, TheLocalesFormatsUnlessTheEnvironmentOverridesThem) {
    _putenv("TIKTAAL_DATE_FORMAT=");
    _putenv("TIKTAAL_TIME_FORMAT=");
    const std::string date = ShortDateFormat();
    const std::string time = LongTimeFormat();
    for (const char* letter : {"d", "M", "y"}) EXPECT_NE(date.find(letter), std::string::npos) << date;
    for (const char* letter : {"m", "s"}) EXPECT_NE(time.find(letter), std::string::npos) << time;

    _putenv("TIKTAAL_DATE_FORMAT=yyyy-MM-dd");
    _putenv("TIKTAAL_TIME_FORMAT=HH.mm.ss");
    EXPECT_EQ(ShortDateFormat(), "yyyy-MM-dd");
    EXPECT_EQ(LongTimeFormat(), "HH.mm.ss");
}

TEST(ZoneRules, LocalAndUtcAreInversesAndKeepMilliseconds) {
    for (TDateTime t : {EncodeDateTime(2026, 1, 15, 12, 0, 0, 123),
                        EncodeDateTime(2026, 7, 15, 12, 30, 45, 999)}) {
        const TDateTime back = LocalToUtc(UtcToLocal(t));
        EXPECT_EQ(FormatDateTime("yyyy-MM-dd HH:mm:ss.zzz", back),
                  FormatDateTime("yyyy-MM-dd HH:mm:ss.zzz", t));
    }
    // What the system cannot hold comes back unchanged.
    const TDateTime early = EncodeDateTime(1500, 1, 1, 0, 0, 0, 0);
    EXPECT_EQ(UtcToLocal(early), early);
    EXPECT_EQ(LocalToUtc(early), early);
}

TEST(ClockSetter, WithoutItsServiceItRefusesWithAReasonAndSetsNothing) {
    // Wine has no Windows Time service: the clock is not left to it.
    EXPECT_FALSE(ClockKeptByTimeService());
    _putenv("TIKTAAL_SET_CLOCK_PIPE=");
    EXPECT_EQ(ClockHelperPath(), "\\\\.\\pipe\\Tiktaal.Clock");
    // A pipe nobody serves (the service's own tests are in tests/tiktaal-set-clock).
    _putenv("TIKTAAL_SET_CLOCK_PIPE=\\\\.\\pipe\\Tiktaal.Clock.Nobody");
    try {
        SystemStepClock(0.0);
        FAIL() << "the clock setter claimed success";
    } catch (const std::system_error& e) {
        EXPECT_NE(std::string(e.what()).find("the clock service is not running"), std::string::npos)
            << e.what();
    }
    EXPECT_THROW(StepPCClock(1.0), std::system_error);
    // A stand-in replaces it, as on Linux.
    double seen = 0;
    const TClockSetter old = SetClockSetter([&](double offset) {
        seen = offset;
        return true;
    });
    EXPECT_TRUE(StepPCClock(2.5));
    EXPECT_EQ(seen, 2.5);
    SetClockSetter(old);
    _putenv("TIKTAAL_SET_CLOCK_PIPE=");
}

}  // namespace

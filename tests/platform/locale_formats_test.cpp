#include "platform/locale_formats.h"

#include <gtest/gtest.h>

#include "support/scoped_env.h"

TEST(LocaleFormats, StrftimePatternsBecomeToolkitLetters) {
    EXPECT_EQ(StrftimeToToolkitFormat("%d.%m.%Y"), "dd.MM.yyyy");
    EXPECT_EQ(StrftimeToToolkitFormat("%m/%d/%y"), "MM/dd/yy");
    EXPECT_EQ(StrftimeToToolkitFormat("%H:%M:%S"), "HH:mm:ss");
    EXPECT_EQ(StrftimeToToolkitFormat("%I:%M:%S %p"), "hh:mm:ss AP");
    EXPECT_EQ(StrftimeToToolkitFormat("%Ey年%m月"), "yy年MM月");
    EXPECT_EQ(StrftimeToToolkitFormat("%T %Z"), "HH:mm:ss ");
    EXPECT_EQ(StrftimeToToolkitFormat("at %R"), "'a''t' HH:mm");
    EXPECT_EQ(StrftimeToToolkitFormat("100%%"), "100%");
}

TEST(LocaleFormats, EnvironmentOverridesTheLocale) {
    {
        TScopedEnv env;
        env.Set("TIKTAAL_DATE_FORMAT", "yyyy-MM-dd").Set("TIKTAAL_TIME_FORMAT", "HH:mm:ss");
        EXPECT_EQ(ShortDateFormat(), "yyyy-MM-dd");
        EXPECT_EQ(LongTimeFormat(), "HH:mm:ss");
    }
    TScopedEnv env;
    env.Unset("TIKTAAL_DATE_FORMAT").Unset("TIKTAAL_TIME_FORMAT").Set("LC_ALL", "C");
    EXPECT_EQ(ShortDateFormat(), "MM/dd/yy");
    EXPECT_EQ(LongTimeFormat(), "HH:mm:ss");
}

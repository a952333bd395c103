#include "app/board_options.h"

#include <gtest/gtest.h>

#include "app/options.h"
#include "app/settings.h"
#include "support/temp_config.h"

namespace {
bool Parse(std::vector<const char*> args, TProgramOptions& o, std::string& error) {
    args.insert(args.begin(), "tiktaal");
    std::vector<std::string> qt;
    return ParseProgramOptions(static_cast<int>(args.size()), args.data(), o, qt, error);
}
}  // namespace

TEST(BoardOptions, StoredValuesAndTheirDefaults) {
    TTempConfig cfg;
    TBoardSettings s = StoredBoardSettings();
    EXPECT_FALSE(s.AlignSecond);
    EXPECT_EQ(s.BootMs, DefaultBoardBootMs);
    EXPECT_EQ(s.Query, "");
    RegWriteBool(AlignSecondSettingName, true, SettingsKey);
    RegWriteInteger(BoardBootMsSettingName, 3000, SettingsKey);
    RegWriteString(BoardQuerySettingName, "AT+CZAS?", SettingsKey);
    s = StoredBoardSettings();
    EXPECT_TRUE(s.AlignSecond);
    EXPECT_EQ(s.BootMs, 3000);
    EXPECT_EQ(s.Query, "AT+CZAS?");
    RegWriteInteger(BoardBootMsSettingName, -5, SettingsKey);
    EXPECT_EQ(StoredBoardSettings().BootMs, DefaultBoardBootMs);
}

TEST(BoardOptions, CommandLineFormsAndTheirMistakes) {
    TProgramOptions o;
    std::string error;
    ASSERT_TRUE(
        Parse({"--align-second", "--board-boot-ms", "2500", "--board-query=AT+CZAS?"}, o, error))
        << error;
    EXPECT_EQ(o.AlignSecond, true);
    EXPECT_EQ(o.BoardBootMs, 2500);
    EXPECT_EQ(o.BoardQuery, "AT+CZAS?");
    for (const char* bad : {"-1", "1e3", "600001", ""}) {
        TProgramOptions b;
        EXPECT_FALSE(Parse({"--board-boot-ms", bad}, b, error)) << bad;
    }
    const std::string help = ProgramUsage();
    for (const char* name : {"--align-second", "--board-boot-ms", "--board-query"})
        EXPECT_NE(help.find(name), std::string::npos) << name;
}

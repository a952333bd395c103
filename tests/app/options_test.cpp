#include "app/options.h"

#include <gtest/gtest.h>

namespace {
bool Parse(std::vector<const char*> args, TProgramOptions& o, std::vector<std::string>& qt,
           std::string& error) {
    args.insert(args.begin(), "tiktaal");
    return ParseProgramOptions(static_cast<int>(args.size()), args.data(), o, qt, error);
}
}  // namespace

TEST(Options, RepeatableSourcesAndTheClockSwitch) {
    TProgramOptions o;
    std::vector<std::string> qt;
    std::string error;
    ASSERT_TRUE(
        Parse({"--time-server", "127.0.0.2", "--time-server=127.0.0.3", "--time-script",
               "http://127.0.0.1:8080/time.php", "--no-set-clock", "-platform", "offscreen"},
              o, qt, error))
        << error;
    EXPECT_EQ(o.TimeServers, (std::vector<std::string>{"127.0.0.2", "127.0.0.3"}));
    EXPECT_EQ(o.TimeScripts, (std::vector<std::string>{"http://127.0.0.1:8080/time.php"}));
    EXPECT_FALSE(o.SetClock);
    EXPECT_EQ(qt, (std::vector<std::string>{"tiktaal", "-platform", "offscreen"}));
}

TEST(Options, MistakesAreReported) {
    TProgramOptions o;
    std::vector<std::string> qt;
    std::string error;
    EXPECT_FALSE(Parse({"--frobnicate"}, o, qt, error));
    EXPECT_EQ(error, "unknown option '--frobnicate'");
    EXPECT_FALSE(Parse({"--time-server"}, o, qt, error));
    EXPECT_EQ(error, "option --time-server needs a value");
    EXPECT_FALSE(Parse({"--time-script="}, o, qt, error));
    EXPECT_FALSE(Parse({"extra"}, o, qt, error));
    TProgramOptions h;
    EXPECT_TRUE(Parse({"--help"}, h, qt, error));
    EXPECT_TRUE(h.Help);
    EXPECT_NE(ProgramUsage().find("--no-set-clock"), std::string::npos);
}

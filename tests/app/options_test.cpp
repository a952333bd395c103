#include "app/options.h"

#include <gtest/gtest.h>

namespace {
struct Parsed {
    bool Ok;
    TProgramOptions Options;
    std::vector<std::string> Qt;
    std::string Error;
};

Parsed Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "tiktaal");
    Parsed p;
    p.Ok =
        ParseProgramOptions(static_cast<int>(args.size()), args.data(), p.Options, p.Qt, p.Error);
    return p;
}
}  // namespace

TEST(Options, RepeatableSourcesTheClockSwitchAndTheToolkitsOwn) {
    const Parsed p = Parse({"--time-server", "127.0.0.2", "--time-server=127.0.0.3",
                            "--time-script", "http://127.0.0.1:8080/time.php", "--no-set-clock",
                            "-platform", "offscreen", "-style=fusion", "-reverse"});
    ASSERT_TRUE(p.Ok) << p.Error;
    EXPECT_EQ(p.Options.TimeServers, (std::vector<std::string>{"127.0.0.2", "127.0.0.3"}));
    EXPECT_EQ(p.Options.TimeScripts, (std::vector<std::string>{"http://127.0.0.1:8080/time.php"}));
    EXPECT_EQ(p.Options.SetClock, TSetClockMode::Never);
    EXPECT_EQ(p.Qt, (std::vector<std::string>{"tiktaal", "-platform", "offscreen", "-style",
                                              "fusion", "-reverse"}));
    // One word per own option, the toolkit's left out: what a copy started at login repeats.
    EXPECT_EQ(p.Options.Words,
              (std::vector<std::string>{"--time-server=127.0.0.2", "--time-server=127.0.0.3",
                                        "--time-script=http://127.0.0.1:8080/time.php",
                                        "--no-set-clock"}));
}

TEST(Options, EveryOtherWordIsAnError) {
    const std::vector<std::pair<std::vector<const char*>, std::string>> cases{
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
        {{"-no-set-clock"}, "unknown option '-no-set-clock' (did you mean '--no-set-clock'?)"},
        {{"-x"}, "unknown option '-x'"},
        {{"extra"}, "unexpected argument 'extra'"},
        {{"-"}, "unexpected argument '-'"},
        {{"--time-server"}, "option --time-server needs a value"},
        {{"--time-script="}, "option --time-script needs a value"},
        {{"--time-server", "--no-set-clock"},
         "option --time-server needs a value, not the option '--no-set-clock'"},
        {{"-platform", "-reverse"}, "option -platform needs a value, not the option '-reverse'"},
        {{"-display"}, "option -display needs a value"},
        {{"--no-set-clock=yes"}, "option --no-set-clock takes no value"},
        {{"-reverse=1"}, "option -reverse takes no value"},
    };
    for (const auto& [args, message] : cases) {
        const Parsed p = Parse(args);
        EXPECT_FALSE(p.Ok) << args[0];
        EXPECT_EQ(p.Error, message);
    }
}

TEST(Options, HelpIsBuiltFromTheTable) {
    EXPECT_TRUE(Parse({"-h"}).Options.Help);
    EXPECT_TRUE(Parse({"--version"}).Options.Version);
    const std::string usage = ProgramUsage();
    for (const auto& row : ProgramOptionTable())
        EXPECT_NE(usage.find(row.Name), std::string::npos) << row.Name;
    EXPECT_NE(usage.find("  --time-server HOST[:PORT]  ask this SNTP server"), std::string::npos);
}

TEST(Options, SetClockModeOverridesTheSettingForOneRun) {
    EXPECT_FALSE(Parse({}).Options.SetClock.has_value());  // the stored setting decides
    EXPECT_EQ(Parse({"--set-clock=always"}).Options.SetClock, TSetClockMode::Always);
    EXPECT_EQ(Parse({"--set-clock", "never"}).Options.SetClock, TSetClockMode::Never);
    EXPECT_EQ(Parse({"--set-clock=auto"}).Options.SetClock, TSetClockMode::Auto);
    EXPECT_EQ(Parse({"--set-clock=sometimes"}).Error,
              "option --set-clock takes auto, always or never, not 'sometimes'");
}

TEST(Options, TimeSourcesAreCheckedBeforeTheyAreUsed) {
    for (const char* good : {"127.0.0.2:65535", "[::1]:1", "fe80::1", "pool.ntp.org",
                             "nts://time.example", "NTS://127.0.0.1:4461", "nts://[::1]:4460"})
        EXPECT_TRUE(Parse({"--time-server", good}).Ok) << good;
    for (const char* bad : {"127.0.0.2:0", "host:", ":123", "[::1]:x", " ", "nts://",
                            "nts://:4460", "nts://h:0"})
        EXPECT_FALSE(Parse({"--time-server", bad}).Ok) << bad;
    EXPECT_EQ(Parse({"--time-server=127.0.0.2:70000"}).Error,
              "time server '127.0.0.2:70000' has port '70000', not a number from 1 to 65535");
    EXPECT_TRUE(Parse({"--time-script", "HTTP://127.0.0.1:8080/t.php"}).Ok);
    EXPECT_TRUE(Parse({"--time-script", "https://127.0.0.1:8443/t.php"}).Ok);
    for (const char* bad : {"ftp://h/t.php", "time.php", "https:///t.php", "http:///t.php",
                            "http://h:99999/t.php"})
        EXPECT_FALSE(Parse({"--time-script", bad}).Ok) << bad;
}

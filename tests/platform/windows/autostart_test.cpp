// Autostart on Windows: the value under the current user's Run key.
#include <gtest/gtest.h>

#include "platform/autostart.h"
#include "platform/registry.h"
#include "platform/windows/autostart.h"

namespace {

TEST(RunCommandLine, QuotesEveryWordAsTheSystemReadsItBack) {
    EXPECT_EQ(RunCommandLine("C:\\Program Files\\Tiktaal\\tiktaal.exe"),
              "\"C:\\Program Files\\Tiktaal\\tiktaal.exe\"");
    EXPECT_EQ(RunCommandLine("C:\\t.exe", {"--time-server", "a b", ""}),
              "\"C:\\t.exe\" \"--time-server\" \"a b\" \"\"");
    // A quote inside, and backslashes before a quote or the closing quote, are doubled.
    EXPECT_EQ(RunCommandLine("x", {"say \"hi\"", "dir\\", "a\\\\\"b"}),
              "\"x\" \"say \\\"hi\\\"\" \"dir\\\\\" \"a\\\\\\\\\\\"b\"");
}

TEST(Autostart, TheRunValueHoldsTheQuotedPathAndOptions) {
    const std::string name = "TiktaalTestAutostart";
    RemoveAutostartEntry(name);
    EXPECT_FALSE(AutostartEntryExists(name));

    WriteAutostartEntry(name, "C:\\Program Files\\Tiktaal\\tiktaal.exe",
                        {"--set-clock=never", "--time-server", "127.0.0.1:1123"});
    EXPECT_TRUE(AutostartEntryExists(name));
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(RunKeyPath));
    EXPECT_EQ(reg.GetDataType(name), TRegDataType::rdString);
    EXPECT_EQ(reg.ReadString(name),
              "\"C:\\Program Files\\Tiktaal\\tiktaal.exe\" \"--set-clock=never\" "
              "\"--time-server\" \"127.0.0.1:1123\"");

    EXPECT_TRUE(RemoveAutostartEntry(name));
    EXPECT_FALSE(AutostartEntryExists(name));
    EXPECT_FALSE(RemoveAutostartEntry(name));
}

TEST(Autostart, ALineBreakCannotBeCarriedAndIsRefused) {
    EXPECT_THROW(WriteAutostartEntry("TiktaalTestBad", "C:\\t.exe", {"a\nb"}), std::runtime_error);
    EXPECT_THROW(WriteAutostartEntry("", "C:\\t.exe"), std::runtime_error);
    EXPECT_FALSE(AutostartEntryExists("TiktaalTestBad"));
}

}  // namespace

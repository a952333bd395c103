#include "platform/autostart.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/temp_config.h"

TEST(Autostart, EntryLifecycle) {
    TTempConfig cfg;
    EXPECT_EQ(AutostartDirectory(), cfg.Dir + "/autostart");
    EXPECT_FALSE(AutostartEntryExists("Tiktaal"));
    WriteAutostartEntry("Tiktaal", "/opt/tiktaal/bin/tiktaal");
    EXPECT_TRUE(AutostartEntryExists("Tiktaal"));
    std::ifstream in(cfg.Dir + "/autostart/Tiktaal.desktop");
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(text.find("Exec=\"/opt/tiktaal/bin/tiktaal\"\n"), std::string::npos);
    EXPECT_TRUE(RemoveAutostartEntry("Tiktaal"));
    EXPECT_FALSE(AutostartEntryExists("Tiktaal"));
    EXPECT_FALSE(RemoveAutostartEntry("Tiktaal"));
}

TEST(Autostart, ExecQuotesSpecialCharacters) {
    EXPECT_EQ(DesktopExecValue("/a b/t$x%"), "\"/a b/t\\\\$x%%\"");
    EXPECT_EQ(DesktopExecValue("/q\"\\"), "\"/q\\\\\"\\\\\\\\\"");
    // The options of the copy that wrote the entry, one quoted word each.
    EXPECT_EQ(DesktopExecValue("/usr/bin/tiktaal", {"--time-server=ntp.lan:123", "--no-set-clock",
                                                    "--time-script=http://h/t.php?a=1&b=$x"}),
              "\"/usr/bin/tiktaal\" \"--time-server=ntp.lan:123\" \"--no-set-clock\" "
              "\"--time-script=http://h/t.php?a=1&b=\\\\$x\"");
}

TEST(Autostart, UnwritableDirectoryRaisesTheFailureText) {
    TTempConfig cfg;
    std::ofstream(cfg.Dir + "/autostart") << "a file, not a directory";
    try {
        WriteAutostartEntry("Tiktaal", "/usr/bin/tiktaal");
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Failed to set data for 'Tiktaal'");
    }
    EXPECT_THROW(WriteAutostartEntry("../evil", "/x"), std::runtime_error);
    EXPECT_THROW(WriteAutostartEntry("T", "/x\nExec=/bin/rm"), std::runtime_error);
    EXPECT_THROW(WriteAutostartEntry("T", "/x", {"--a\nExec=/bin/rm"}), std::runtime_error);
}

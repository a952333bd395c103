#include "app/settings.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/event_recorder.h"
#include "support/temp_config.h"

TEST(Settings, EmptyStoreGivesEveryDefault) {
    TTempConfig cfg;
    std::string port;
    RegReadString("Port komunikacyjny", "COM1", SettingsKey, port);
    EXPECT_EQ(port, "COM1");
    EXPECT_EQ(RegReadInteger("baudRate", 5, SettingsKey), 5);
    EXPECT_FALSE(RegReadBool("HideOnStart", false, SettingsKey));
    std::string prefix = "stale";
    RegReadString("ATString", "AT+CZAS=", "", prefix);  // empty key path: the default at once
    EXPECT_EQ(prefix, "AT+CZAS=");
}

TEST(Settings, GarbledOrTruncatedStoreGivesDefaults) {
    TTempConfig cfg;
    cfg.WriteStore(std::string("REGEDIT4\n[Software\\Tiktaal]\n\"baudRate\"=\"7\0\xff", 35));
    EXPECT_EQ(RegReadInteger("baudRate", 5, SettingsKey), 5);
    cfg.WriteStore("\x01\x02 not a store at all \"\"==[[");
    std::string port;
    RegReadString("Port komunikacyjny", "COM1", SettingsKey, port);
    EXPECT_EQ(port, "COM1");
}

TEST(Settings, TypesAreChecked) {
    TTempConfig cfg;
    cfg.WriteStore(
        "REGEDIT4\n[Software\\Tiktaal]\n\"baudRate\"=dword:00000003\n"
        "\"HideOnStart\"=\"1\"\n\"ATString\"=dword:00000001\n");
    EXPECT_EQ(RegReadInteger("baudRate", 5, SettingsKey), 5);
    EXPECT_FALSE(RegReadBool("HideOnStart", false, SettingsKey));
    std::string prefix;
    RegReadString("ATString", "AT+CZAS=", SettingsKey, prefix);
    EXPECT_EQ(prefix, "AT+CZAS=");
}

TEST(Settings, IntegersAreStoredAsDecimalText) {
    TTempConfig cfg;
    EXPECT_TRUE(RegWriteInteger("baudRate", -1, SettingsKey));
    EXPECT_NE(cfg.ReadStore().find("\"baudRate\"=\"-1\""), std::string::npos);
    EXPECT_EQ(RegReadInteger("baudRate", 5, SettingsKey), -1);
    for (const char* bad : {"", "12x", " 7", "99999999999", "0x10"}) {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(SettingsKey, true));
        reg.WriteString("baudRate", bad);
        EXPECT_EQ(RegReadInteger("baudRate", 5, SettingsKey), 5) << bad;
    }
}

TEST(Settings, BooleansAreDwords) {
    TTempConfig cfg;
    EXPECT_TRUE(RegWriteBool("HideOnStart", true, SettingsKey));
    EXPECT_NE(cfg.ReadStore().find("\"HideOnStart\"=dword:00000001"), std::string::npos);
    EXPECT_TRUE(RegReadBool("HideOnStart", false, SettingsKey));
    EXPECT_TRUE(RegWriteBool("HideOnStart", false, SettingsKey));
    EXPECT_FALSE(RegReadBool("HideOnStart", true, SettingsKey));
}

TEST(Settings, EmptyTextOrNameIsNeverWritten) {
    TTempConfig cfg;
    ASSERT_TRUE(RegWriteString("ATString", "X=", SettingsKey));
    EXPECT_FALSE(RegWriteString("ATString", "", SettingsKey));
    EXPECT_FALSE(RegWriteString("", "v", SettingsKey));
    EXPECT_FALSE(RegWriteBool("", true, SettingsKey));
    std::string prefix;
    RegReadString("ATString", "AT+CZAS=", SettingsKey, prefix);
    EXPECT_EQ(prefix, "X=");
}

TEST(Settings, FailedWriteReturnsFalseKeepsTheFileAndSaysWhyOnce) {
    TTempConfig cfg;
    TEventRecorder events;
    ASSERT_TRUE(RegWriteString("ATString", "X=", SettingsKey));
    const std::string before = cfg.ReadStore();
    std::filesystem::create_directories(cfg.StorePath() + ".tmp/block");
    EXPECT_FALSE(RegWriteString("ATString", "Y=", SettingsKey));
    EXPECT_FALSE(RegWriteInteger("baudRate", 3, SettingsKey));
    EXPECT_EQ(cfg.ReadStore(), before);
    EXPECT_EQ(events.Lines(), (std::vector<std::string>{"settings not saved to " + cfg.StorePath() +
                                                        ": File exists"}));
}

TEST(Settings, ReadOnlyFileIsNeverReplaced) {
    TTempConfig cfg;
    TEventRecorder events;
    cfg.WriteStore("REGEDIT4\n[Software\\Tiktaal]\n\"ATString\"=\"X=\"\n");
    ASSERT_EQ(chmod(cfg.StorePath().c_str(), 0444), 0);
    EXPECT_FALSE(RegWriteString("ATString", "Y=", SettingsKey));  // even for root
    EXPECT_EQ(cfg.ReadStore(), "REGEDIT4\n[Software\\Tiktaal]\n\"ATString\"=\"X=\"\n");
    ASSERT_EQ(events.Lines().size(), 1u);
    EXPECT_NE(events.Lines()[0].find(": Permission denied"), std::string::npos);
}

// Dotfile managers keep user.reg as a link into their own folder: a save replaces the file
// there (a new file, renamed over it, so readers see the old or the new one) and the link
// stays; a target made read-only is never replaced.
TEST(Settings, ALinkedStoreIsWrittenThroughToItsTarget) {
    TTempConfig cfg;
    const std::string dotfiles = cfg.Dir + "/dotfiles";
    const std::string target = dotfiles + "/tiktaal.reg";
    std::filesystem::create_directories(dotfiles);
    std::filesystem::create_directories(cfg.Dir + "/Tiktaal");
    std::ofstream(target) << "REGEDIT4\n[Software\\Tiktaal]\n\"ATString\"=\"X=\"\n";
    ASSERT_EQ(symlink("../dotfiles/tiktaal.reg", cfg.StorePath().c_str()), 0);
    struct stat before {};
    ASSERT_EQ(stat(target.c_str(), &before), 0);

    EXPECT_TRUE(RegWriteString("ATString", "Y=", SettingsKey));
    EXPECT_TRUE(std::filesystem::is_symlink(cfg.StorePath()));
    EXPECT_EQ(cfg.ReadStore(), "REGEDIT4\n\n[Software\\Tiktaal]\n\"ATString\"=\"Y=\"\n");
    struct stat after {};
    ASSERT_EQ(stat(target.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);  // replaced whole, not rewritten in place
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dotfiles), {}), 1);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(cfg.Dir + "/Tiktaal"), {}), 1);

    TEventRecorder events;
    ASSERT_EQ(chmod(target.c_str(), 0444), 0);
    EXPECT_FALSE(RegWriteString("ATString", "Z=", SettingsKey));  // even for root
    EXPECT_TRUE(std::filesystem::is_symlink(cfg.StorePath()));
    EXPECT_EQ(cfg.ReadStore(), "REGEDIT4\n\n[Software\\Tiktaal]\n\"ATString\"=\"Y=\"\n");
}

// A user with no passwd entry and no HOME: nothing is saved, and that is said once.
TEST(Settings, WithoutAnyHomeNothingIsSavedAndThatIsSaidOnce) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to become a user without a passwd entry";
    uid_t uid = 54321;
    while (getpwuid(uid)) ++uid;
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(uid) != 0 || setuid(uid) != 0) _exit(10);
        unsetenv("HOME");
        unsetenv("XDG_CONFIG_HOME");
        std::vector<std::string> lines;
        SetEventLogSink([&](const std::string& l) { lines.push_back(l); });
        const bool written = RegWriteString("ATString", "X=", SettingsKey) ||
                             RegWriteInteger("baudRate", 3, SettingsKey);
        _exit(!UserStorePath().empty() ? 11 : written ? 12 : lines.size() != 1 ? 13 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: no such user, 11: a store path, 12: written, "
                                         "13: not said exactly once";
}

TEST(Settings, NoHomeMeansNoStoreNotASharedFolder) {
    EXPECT_EQ(ConfigDirectoryFrom(nullptr, nullptr, nullptr), "");
    EXPECT_EQ(ConfigDirectoryFrom("relative", "", "nowhere"), "");
    EXPECT_EQ(ConfigDirectoryFrom(nullptr, nullptr, "/home/u"), "/home/u/.config");
    EXPECT_EQ(ConfigDirectoryFrom(nullptr, "/h", "/home/u"), "/h/.config");
    EXPECT_EQ(ConfigDirectoryFrom("/x", "/h", "/home/u"), "/x");
}

TEST(Settings, MachineRootIsRefusedQuietly) {
    TTempConfig cfg;
    EXPECT_FALSE(RegWriteString("a", "b", SettingsKey, TRegRoot::LocalMachine));
    EXPECT_EQ(RegReadInteger("a", 9, SettingsKey, TRegRoot::LocalMachine), 9);
}

TEST(Autostart, AddExistsRemove) {
    TTempConfig cfg;
    EXPECT_FALSE(AutostartExists("Tiktaal"));
    AddAutostart("Tiktaal", "/usr/bin/tiktaal");
    EXPECT_TRUE(AutostartExists("Tiktaal"));
    RemoveAutostart("Tiktaal");
    EXPECT_FALSE(AutostartExists("Tiktaal"));
    RemoveAutostart("Tiktaal");  // nothing there: nothing happens
}

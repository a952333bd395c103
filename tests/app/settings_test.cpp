#include "app/settings.h"

#include <gtest/gtest.h>

#include <filesystem>

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

TEST(Settings, FailedWriteReturnsFalseAndKeepsTheFile) {
    TTempConfig cfg;
    ASSERT_TRUE(RegWriteString("ATString", "X=", SettingsKey));
    const std::string before = cfg.ReadStore();
    std::filesystem::create_directories(cfg.StorePath() + ".tmp/block");
    EXPECT_FALSE(RegWriteString("ATString", "Y=", SettingsKey));
    EXPECT_FALSE(RegWriteInteger("baudRate", 3, SettingsKey));
    EXPECT_EQ(cfg.ReadStore(), before);
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

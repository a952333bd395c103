#include "platform/registry.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_config.h"

TEST(RegFile, ParsesTypesEscapesAndSkipsGarbage) {
    const TRegFile f0 = TRegFile::Parse(
        "REGEDIT4\r\n\r\n[Software\\Tiktaal]\r\n\"a\"=\"x\\\"y\\\\z\"\r\n"
        "\"n\"=dword:0000000a\r\ngarbage line\r\n\"bad\"=dword:12\r\n"
        "\"raw\"=hex:01,02\r\n[Other]\r\n\"k\"=\"v\"\r\n[broken\r\n\"lost\"=\"1\"\r\n");
    TRegFile f = f0;
    TRegFile::TKey* key = f.FindKey("software\\TIKTAAL");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(TRegFile::FindValue(*key, "a")->Text, "x\"y\\z");
    EXPECT_EQ(TRegFile::FindValue(*key, "N")->Integer, 10);
    EXPECT_EQ(TRegFile::FindValue(*key, "bad"), nullptr);
    EXPECT_EQ(TRegFile::FindValue(*key, "raw")->Type, TRegDataType::rdUnknown);
    // Unknown types and other keys survive a rewrite unchanged.
    const std::string again = f.Format();
    EXPECT_NE(again.find("\"raw\"=hex:01,02"), std::string::npos);
    EXPECT_NE(again.find("[Other]\n\"k\"=\"v\""), std::string::npos);
    EXPECT_EQ(again.find("lost"), std::string::npos);
    EXPECT_EQ(TRegFile::Parse(again).Format(), again);
    // Line ends of any kind do not creep into values, however often the file is rewritten.
    const std::string crlf = TRegFile::Parse("[K]\r\n\"raw\"=x\r\r\r\n").Format();
    EXPECT_EQ(crlf, "REGEDIT4\n\n[K]\n\"raw\"=x\n");
}

TEST(Registry, OpenForReadNeverCreates) {
    TTempConfig cfg;
    TRegistry reg;
    EXPECT_FALSE(reg.OpenKeyReadOnly("Software\\Tiktaal"));
    EXPECT_FALSE(std::filesystem::exists(cfg.StorePath()));
    EXPECT_TRUE(reg.OpenKey("Software\\Tiktaal", true));
    EXPECT_FALSE(reg.ValueExists("x"));
    reg.WriteString("x", "line1\nline2 \"q\" \\");
    TRegistry again;
    ASSERT_TRUE(again.OpenKeyReadOnly("Software\\Tiktaal"));
    EXPECT_EQ(again.ReadString("x"), "line1\nline2 \"q\" \\");
    EXPECT_THROW(again.ReadInteger("x"), ERegistryException);
    EXPECT_THROW(again.ReadString("missing"), ERegistryException);
}

TEST(Registry, MachineRootHasNoKeys) {
    TTempConfig cfg;
    TRegistry reg(TRegRoot::LocalMachine);
    EXPECT_FALSE(reg.OpenKey("Software\\Tiktaal", true));
    EXPECT_THROW(reg.WriteString("a", "b"), ERegistryException);
}

TEST(Registry, WriteKeepsEverythingElseItCouldRead) {
    TTempConfig cfg;
    cfg.WriteStore(
        "REGEDIT4\n[Software\\Tiktaal]\n\"ATString\"=\"X=\"\n#%garbage\n"
        "[Software\\Other]\n\"keep\"=dword:00000001\n");
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Tiktaal", true));
    reg.WriteInteger("HideOnStart", 1);
    const std::string text = cfg.ReadStore();
    EXPECT_NE(text.find("\"ATString\"=\"X=\""), std::string::npos);
    EXPECT_NE(text.find("\"keep\"=dword:00000001"), std::string::npos);
    EXPECT_NE(text.find("\"HideOnStart\"=dword:00000001"), std::string::npos);
    EXPECT_EQ(text.find("garbage"), std::string::npos);
}

TEST(Registry, FailedSaveLeavesThePreviousFile) {
    TTempConfig cfg;
    cfg.WriteStore("REGEDIT4\n[Software\\Tiktaal]\n\"a\"=\"1\"\n");
    // A directory where the temporary file must go makes every save fail, even for root.
    std::filesystem::create_directories(cfg.StorePath() + ".tmp/block");
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Tiktaal", true));
    EXPECT_THROW(reg.WriteString("a", "2"), ERegistryException);
    EXPECT_EQ(cfg.ReadStore(), "REGEDIT4\n[Software\\Tiktaal]\n\"a\"=\"1\"\n");
}

TEST(Registry, LeftoverTemporaryIsReplaced) {
    TTempConfig cfg;
    cfg.WriteStore("REGEDIT4\n");
    { std::ofstream(cfg.StorePath() + ".tmp") << "half-written"; }
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("K", true));
    reg.WriteString("v", "w");
    EXPECT_FALSE(std::filesystem::exists(cfg.StorePath() + ".tmp"));
    EXPECT_NE(cfg.ReadStore().find("\"v\"=\"w\""), std::string::npos);
    EXPECT_EQ(std::filesystem::status(cfg.StorePath()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST(Registry, StoreThatIsNotAFileIsNeverOverwritten) {
    TTempConfig cfg;
    std::filesystem::create_directories(cfg.StorePath());  // user.reg is a directory
    TRegistry reg;
    EXPECT_FALSE(reg.OpenKeyReadOnly("Software\\Tiktaal"));
    EXPECT_TRUE(std::filesystem::is_directory(cfg.StorePath()));
}

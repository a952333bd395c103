// The settings store on Windows: the registry under a test key of its own, read and written
// through the wide API.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"
#include "platform/windows/wide_text.h"

namespace {

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        FKey = std::string("Software\\TiktaalTest\\") +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        RegDeleteTreeW(HKEY_CURRENT_USER, Utf8ToWide(FKey).c_str());
    }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, Utf8ToWide(FKey).c_str()); }

    // A value of any type, written past the store.
    void PutRaw(const std::string& name, DWORD type, const void* data, DWORD bytes) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Utf8ToWide(FKey).c_str(), 0, nullptr, 0,
                                  KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(key, Utf8ToWide(name).c_str(), 0, type,
                                 static_cast<const BYTE*>(data), bytes),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    bool KeyExists() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, Utf8ToWide(FKey).c_str(), 0, KEY_READ, &key) !=
            ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }

    std::string FKey;
};

TEST_F(RegistryTest, OpeningForReadNeverCreatesAndWritingDoes) {
    TRegistry reg;
    EXPECT_FALSE(reg.OpenKeyReadOnly(FKey));
    EXPECT_FALSE(KeyExists());
    EXPECT_FALSE(reg.ValueExists("HideOnStart"));
    ASSERT_TRUE(reg.OpenKey(FKey, true));
    EXPECT_TRUE(KeyExists());
    reg.CloseKey();
    EXPECT_TRUE(reg.OpenKeyReadOnly("\\" + FKey));  // a leading backslash names the same key
}

TEST_F(RegistryTest, TextAndNumbersComeBackWithTheirTypes) {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(FKey, true));
    const std::string polish = "Zażółć gęślą jaźń \xe2\x82\xac";
    reg.WriteString("ATString", polish);
    reg.WriteString("Empty", "");
    reg.WriteInteger("HideOnStart", 1);
    reg.WriteInteger("Negative", -5);

    TRegistry again;
    ASSERT_TRUE(again.OpenKeyReadOnly(FKey));
    EXPECT_EQ(again.ReadString("ATString"), polish);
    EXPECT_EQ(again.ReadString("atstring"), polish);  // names ignore case, as the system's
    EXPECT_EQ(again.ReadString("Empty"), "");
    EXPECT_EQ(again.ReadInteger("HideOnStart"), 1);
    EXPECT_EQ(again.ReadInteger("Negative"), -5);
    EXPECT_EQ(again.GetDataType("ATString"), TRegDataType::rdString);
    EXPECT_EQ(again.GetDataType("HideOnStart"), TRegDataType::rdInteger);
    EXPECT_EQ(again.GetDataType("Missing"), TRegDataType::rdUnknown);

    // Stored as the system's own types: UTF-16 text and a DWORD.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, Utf8ToWide(FKey).c_str(), 0, KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD type = 0;
    wchar_t text[64] = {};
    DWORD bytes = sizeof text;
    ASSERT_EQ(RegQueryValueExW(key, L"ATString", nullptr, &type, reinterpret_cast<BYTE*>(text),
                               &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::wstring(text), L"Za\u017c\u00f3\u0142\u0107 g\u0119\u015bl\u0105 ja\u017a\u0144 \u20ac");
    ASSERT_EQ(RegQueryValueExW(key, L"HideOnStart", nullptr, &type, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    RegCloseKey(key);
}

TEST_F(RegistryTest, AValueOfAnotherTypeIsRefusedNotMisread) {
    const DWORD number = 7;
    const unsigned char blob[] = {1, 2, 3};
    const wchar_t unterminated[] = {L'C', L'O', L'M', L'3'};  // stored without its NUL
    const unsigned char odd[] = {'A', 0, 'B'};                // half a character at the end
    PutRaw("Port komunikacyjny", REG_DWORD, &number, sizeof number);
    PutRaw("HideOnStart", REG_SZ, L"1", sizeof L"1");
    PutRaw("baudRate", REG_BINARY, blob, sizeof blob);
    PutRaw("Short", REG_DWORD, blob, 2);
    PutRaw("Unterminated", REG_SZ, unterminated, sizeof unterminated);
    PutRaw("Odd", REG_SZ, odd, sizeof odd);

    TRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(FKey));
    EXPECT_THROW(reg.ReadString("Port komunikacyjny"), ERegistryException);
    EXPECT_THROW(reg.ReadInteger("HideOnStart"), ERegistryException);
    EXPECT_THROW(reg.ReadInteger("baudRate"), ERegistryException);
    EXPECT_THROW(reg.ReadString("baudRate"), ERegistryException);
    EXPECT_THROW(reg.ReadInteger("Short"), ERegistryException);
    EXPECT_THROW(reg.ReadString("Missing"), ERegistryException);
    EXPECT_EQ(reg.GetDataType("baudRate"), TRegDataType::rdUnknown);
    EXPECT_EQ(reg.ReadString("Unterminated"), "COM3");
    EXPECT_EQ(reg.ReadString("Odd"), "A");
}

TEST_F(RegistryTest, DeletingAndWritingWithoutAnOpenKey) {
    TRegistry reg;
    EXPECT_THROW(reg.WriteString("x", "y"), ERegistryException);
    EXPECT_FALSE(reg.DeleteValue("x"));
    ASSERT_TRUE(reg.OpenKey(FKey, true));
    reg.WriteInteger("x", 1);
    EXPECT_TRUE(reg.DeleteValue("x"));
    EXPECT_FALSE(reg.DeleteValue("x"));
    EXPECT_FALSE(reg.ValueExists("x"));
}

}  // namespace

// The modem thread against the simulator set to behave as real modems do: numbered
// refusals, and a character set other than UCS-2 for phone-book names.
#include "gsm_link_fixture.h"

namespace {

// Position of the first received command that begins with prefix, -1 when none did.
long FirstAt(const std::vector<TReceivedCommand>& r, const std::string& prefix) {
    for (size_t i = 0; i < r.size(); ++i)
        if (r[i].Text.rfind(prefix, 0) == 0) return static_cast<long>(i);
    return -1;
}

}  // namespace

TEST_F(GsmLinkTest, ARefusedMessageEndsAtOnceWithTheModemsCode) {
    Options.ErrorCodes = true;
    Options.RefuseSends = 1;
    ASSERT_TRUE(Connect());
    const auto start = std::chrono::steady_clock::now();
    SendText("hello");
    ASSERT_TRUE(WaitUntil([&] { return Sends.size() == 1; }, 30000));
    EXPECT_LT(MsSince(start), 10000);  // not the 18.5 s of a time-out
    EXPECT_TRUE(ErrorSeen("SendSMS error: +CMS ERROR: 500"));
    EXPECT_FALSE(ErrorSeen("TimeOUT"));
    EXPECT_EQ(Sends[0].Status, 1);  // the second attempt went through
}

TEST_F(GsmLinkTest, AThirdNumberedRefusalDropsThePartWithTheCode) {
    Options.ErrorCodes = true;
    Options.RefuseSends = 3;
    Gsm->SetAutoConnect(false);
    ASSERT_TRUE(Connect());
    const auto start = std::chrono::steady_clock::now();
    SendText("hello");
    ASSERT_TRUE(WaitUntil([&] { return ErrorSeen("SMS REJECTED"); }, 30000));
    EXPECT_LT(MsSince(start), 15000);  // three time-outs would take 55 s
    EXPECT_TRUE(ErrorSeen("SendSMS error: SMS REJECTED (+CMS ERROR: 500)"));
    ASSERT_EQ(Sends.size(), 1u);
    EXPECT_EQ(Sends[0].Status, 0);
}

TEST_F(GsmLinkTest, ARefusedCommandEndsAtOnceWithTheModemsCode) {
    Options.ErrorCodes = true;
    Options.ErrorCommands = {"AT+CMER=?", "AT+COPS?"};
    Gsm->SetATTimeout(3000);  // a refusal taken for silence would cost 3 s a line
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(Connect());
    EXPECT_LT(MsSince(start), 3500);  // the refused probe alone would cost 3 s as silence
    EXPECT_TRUE(Logged("AT+CMER -----> NOT AVAILABLE!"));
    Gsm->SetATCommand("AT+COPS?");
    ASSERT_TRUE(WaitUntil([&] { return ErrorSeen("+CME ERROR: 100  ----> [ AT+COPS?]"); }, 2000));
    EXPECT_TRUE(Gsm->Connected());  // a user command's refusal does not close the link
}

TEST_F(GsmLinkTest, PhoneBookNamesAreReadInUcs2AndThePreviousSetIsRestored) {
    Options.Charset = "IRA";
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(WaitUntil([&] { return Modem->CountReceived("AT+CSCS=\"IRA\"") == 1; }));
    ASSERT_TRUE(
        WaitUntil([&] { return Gsm->PhoneBook().Text().find("Łukasz") != std::string::npos; }));
    const auto r = Modem->Received();
    const long select = FirstAt(r, "AT+CSCS=\"UCS2\""), read = FirstAt(r, "AT+CPBR=1,"),
               restore = FirstAt(r, "AT+CSCS=\"IRA\"");
    EXPECT_GE(FirstAt(r, "AT+CSCS?"), 0);
    EXPECT_LT(select, read);
    EXPECT_LT(read, restore);
    EXPECT_TRUE(Logged("\"0041006C0061\""));  // "Ala" in UCS-2 hex
    // The modem takes the restoring command before the thread has read its answer.
    EXPECT_TRUE(WaitUntil([&] { return Gsm->GSMThread()->CharacterSet() == "IRA"; }));
    EXPECT_NE(Gsm->PhoneBook().Text().find("2;+48600300400;Łukasz"), std::string::npos);
}

TEST_F(GsmLinkTest, AModemRefusingUcs2GivesNamesInTheSetItReports) {
    Options.Charset = "GSM";
    Options.NoUcs2 = true;
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(WaitUntil([&] { return Modem->CountReceived("AT+CPBR=1,") == 2; }));
    WaitUntil([&] { return Gsm->GSMThread()->CommandCount() == 0; });
    EXPECT_TRUE(Logged("\"Ala\""));
    EXPECT_EQ(Gsm->GSMThread()->CharacterSet(), "GSM");
    EXPECT_NE(Gsm->PhoneBook().Text().find("1;+48600100200;Ala"), std::string::npos);
    EXPECT_TRUE(Gsm->Connected());
}

TEST_F(GsmLinkTest, AModemAlreadyInUcs2IsNotSwitched) {
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(WaitUntil([&] { return Modem->CountReceived("AT+CPBR=1,") == 2; }));
    EXPECT_EQ(Modem->CountReceived("AT+CSCS="), 0);
    EXPECT_EQ(Gsm->GSMThread()->CharacterSet(), "UCS2");
}

// The GSM component without a modem: write rules, numbers, the text to send, the port
// list, the reference file, the log file and the timers' tick handlers.
#include "gsm/lugsm.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "gsm/refnumbers.h"
#include "gsm/codecs/smscipher.h"
#include "serial/comportlist.h"
#include "support/wait.h"
#include "toolkit/messagebox.h"

namespace {

class LuGsmTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/lugsmXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        Dir = tmpl;
    }
    void TearDown() override { std::system(("rm -rf " + Dir).c_str()); }
    std::string LastBox() const { return Boxes.Shown.empty() ? "" : Boxes.Shown.back().Text; }

    TMessageRecorder Boxes;
    TLuGSM Gsm;
    std::string Dir;
};

}  // namespace

TEST_F(LuGsmTest, DefaultsAreTheDesignValues) {
    EXPECT_EQ(Gsm.ComPort(), "COM1");
    EXPECT_EQ(Gsm.BaudRate(), "115200");
    EXPECT_EQ(Gsm.InitStrings().Text(),
              "AT&F\r\nATE0\r\nAT+CMGF=0\r\nAT+CNMI=2,2,0,1,1\r\nAT+CLIP=1\r\n");
    EXPECT_EQ(Gsm.LastErrorText(), "OK");
    EXPECT_EQ(Gsm.InstanceName().size(), 38u);
    EXPECT_EQ(Gsm.InstanceName().front(), '{');
    EXPECT_TRUE(Gsm.NeverConnected());
    EXPECT_FALSE(Gsm.Active());
    EXPECT_TRUE(Gsm.CheckTimer().Enabled());
    EXPECT_EQ(Gsm.CheckTimer().Interval(), 800u);
    EXPECT_FALSE(Gsm.AutoConnectTimer().Enabled());
}

TEST_F(LuGsmTest, WriteRulesReplaceBadValuesWithTheirMessages) {
    Gsm.SetSMSMergeMax(1);
    EXPECT_EQ(Gsm.SMSMergeMax(), 2);
    Gsm.SetCheckInterval(0);
    EXPECT_EQ(LastBox(), "Możliwe wartości to: 1..1000 s");
    EXPECT_EQ(Gsm.CheckInterval(), 5);
    Gsm.SetATTimeout(4000);  // a slow phone's time-out is kept
    EXPECT_EQ(Gsm.ATTimeout(), 4000);
    Gsm.SetATTimeout(60001);
    EXPECT_EQ(LastBox(), "Możliwe wartości to: 500..60000  [default = 1000]");
    EXPECT_EQ(Gsm.ATTimeout(), 1000);
    Gsm.SetPrefixForCountry("48");
    EXPECT_EQ(Gsm.PrefixForCountry(), "+48");
    const std::string before = Gsm.InstanceName();
    Gsm.SetInstanceName("  ");
    EXPECT_EQ(LastBox(), "Instance unique NAME must be set!");
    EXPECT_NE(Gsm.InstanceName(), before);
    EXPECT_EQ(Gsm.InstanceName().size(), 38u);
    TStringList blank;
    blank.SetText(" \r\n ");
    Gsm.SetInitStrings(blank);
    EXPECT_EQ(Gsm.InitStrings().Text(), "AT\r\n");
    Gsm.SetTxMessageParts(blank);
    EXPECT_EQ(LastBox(), "TxMessageParts - ReadOnly property!");
    Gsm.SetPhoneBook(blank);
    EXPECT_EQ(LastBox(), "PhoneBook - ReadOnly property!");
}

TEST_F(LuGsmTest, RecipientSeparatorsRefuseBlanksDotsAndEachOther) {
    Gsm.SetRecipientSepStart('.');
    EXPECT_EQ(LastBox(), "Illegal character as StartSeparator - SPACE or DOT");
    EXPECT_EQ(Gsm.RecipientSepStart(), 0);
    Gsm.SetRecipientSepStart('=');
    Gsm.SetRecipientSepStop('=');
    EXPECT_EQ(LastBox(), "StopSeparator can't be the same as StartSeparator");
    EXPECT_EQ(Gsm.RecipientSepStop(), '.');
    Gsm.SetRecipientSepStart('.');
    Gsm.SetRecipientSepStop(' ');
    EXPECT_EQ(LastBox(), "Illegal character as StopSeparator - SPACE");
    EXPECT_EQ(Gsm.RecipientSepStop(), 0);
}

TEST_F(LuGsmTest, NumbersGetTheCountryPrefix) {
    EXPECT_EQ(Gsm.NormaliseNumber("123 456 789"), "+48123 456 789");
    EXPECT_EQ(Gsm.NormaliseNumber("+48123456789"), "+48123456789");
    EXPECT_EQ(Gsm.NormaliseNumber("0123456789"), "+48123456789");
    Gsm.SetSMSNumber(" 0600100200 ");
    EXPECT_EQ(Gsm.SMSNumber(), "+48600100200");
    Gsm.SetCheckNumberSyntax(false);
    EXPECT_EQ(Gsm.NormaliseNumber(" 0123"), " 0123");
}

TEST_F(LuGsmTest, TheTextToSendIsPlannedIntoParts) {
    Gsm.SetSMSNumber("600100200");
    Gsm.SetSMSText("   ");
    EXPECT_TRUE(Gsm.TxMessageParts().Empty());
    Gsm.SetSMSText(" line one\r\nline two ");
    EXPECT_EQ(Gsm.SMSText(), "line one line two");
    ASSERT_EQ(Gsm.TxMessageParts().Count(), 1u);
    EXPECT_NE(Gsm.TxMessageParts()[0].find("\"line one line two\""), std::string::npos);
    Gsm.SetSMSText(std::string(400, 'a'));
    EXPECT_EQ(Gsm.TxMessageParts().Count(), 3u);
    // Without a modem there is nothing to send to.
    EXPECT_FALSE(Gsm.SendSMS());
}

TEST_F(LuGsmTest, AnEncipheredTextIsFramedAndDeciphersWithTheKey) {
    Gsm.SetEncodeSMS(true);
    Gsm.SetEncodePIN("12");
    Gsm.SetSMSText("tajne spotkanie");
    const std::string sent = Gsm.SMSText();
    ASSERT_GE(sent.size(), 4u);
    EXPECT_EQ(sent.substr(0, 2), "66");
    EXPECT_EQ(sent.substr(sent.size() - 2), "BB");
    const auto plain = DecipherSmsText(sent.substr(2, sent.size() - 4), "12  ");
    ASSERT_TRUE(plain.has_value());
    EXPECT_EQ(*plain, "12  tajne spotkanie");
    EXPECT_FALSE(DecipherSmsText(sent.substr(2, sent.size() - 4), "9999").has_value());
}

TEST_F(LuGsmTest, RequestsWithoutARunningEngineOnlyTellTheUser) {
    Gsm.SetATCommand("AT");
    EXPECT_EQ(LastBox(), "Nie można wysłać polecenia AT (brak włączonej usługi GSM)");
    EXPECT_EQ(Gsm.GSMThread(), nullptr);
    Gsm.SetConnected(true);
    EXPECT_EQ(LastBox(), "Nie włączona usługa GSM dla portu: COM1");
    EXPECT_FALSE(Gsm.Connected());
}

TEST_F(LuGsmTest, ThePortListIsInNumericOrder) {
    for (const char* n : {"ttyUSB10", "ttyUSB2", "ttyUSB1"}) {
        mkdir((Dir + "/" + n).c_str(), 0755);
        mkdir((Dir + "/" + n + "/device").c_str(), 0755);
    }
    SetTtyClassDir(Dir);
    EXPECT_EQ(Gsm.RefreshComPortList().Text(), "/dev/ttyUSB1\r\n/dev/ttyUSB2\r\n/dev/ttyUSB10\r\n");
    SetTtyClassDir(Dir + "/missing");
    Gsm.RefreshComPortList();
    EXPECT_EQ(Gsm.LastErrorText(), ComPortEnumError);
    SetTtyClassDir("/sys/class/tty");
}

TEST_F(LuGsmTest, APortSearchWalksThePortsAndEndsWithoutAModem) {
    for (const char* n : {"ttyNOPE2", "ttyNOPE1"}) {
        mkdir((Dir + "/" + n).c_str(), 0755);
        mkdir((Dir + "/" + n + "/device").c_str(), 0755);
    }
    SetTtyClassDir(Dir);
    std::vector<std::string> steps;
    Gsm.SetOnSearchProgress([&](TComponent*, int progress, const std::string& port, int found) {
        steps.push_back(std::to_string(progress) + " " + port + " " + std::to_string(found));
    });
    Gsm.SearchModem();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(WaitUntil([&] { return Gsm.ScanTimer().Enabled(); })) << i;
        Gsm.ScanTimer().Tick();
    }
    EXPECT_EQ(steps, (std::vector<std::string>{"50 /dev/ttyNOPE1 -1", "100 /dev/ttyNOPE2 -1",
                                               "0 brak modemu 0"}));
    EXPECT_FALSE(Gsm.Searching());
    EXPECT_NE(Gsm.LastErrorText().find("SerialConnect error [/dev/ttyNOPE2]"), std::string::npos);
    SetTtyClassDir("/sys/class/tty");
    Gsm.SetActive(false);
}

TEST_F(LuGsmTest, TheReferenceFileGivesZeroUnlessItHoldsANumber) {
    const std::string file = Dir + "/ReferenceNumbers.ini";
    EXPECT_EQ(ReadReferenceNumber(file, "{A}"), 0);
    std::ofstream(file) << "[Other]\r\n{A}=7\r\n[RefNum]\r\n{B}=x1\r\n{A} = 42\r\n";
    EXPECT_EQ(ReadReferenceNumber(file, "{A}"), 42);
    EXPECT_EQ(ReadReferenceNumber(file, "{B}"), 0);
    EXPECT_EQ(ReadReferenceNumber(file, "{C}"), 0);
    std::ofstream(file) << "\x01\x02[RefNum\n=\n";
    EXPECT_EQ(ReadReferenceNumber(file, "{A}"), 0);
}

// Each run goes on from the reference the last one used, so two long messages of one
// sender never share one; the rest of the file stays as it was.
TEST_F(LuGsmTest, TheReferenceIsWrittenBackForTheNextRun) {
    const std::string file = Dir + "/ReferenceNumbers.ini";
    std::ofstream(file) << "[Other]\r\nx=1\r\n[RefNum]\r\n{B}=3\r\n{A}=254\r\n";
    auto sendLong = [&](TLuGSM& gsm) {
        gsm.SetInstanceName("{A}");
        gsm.SetReferenceFile(file);
        gsm.SetActive(true);
        gsm.SetSMSNumber("600100200");
        gsm.SetSMSText(std::string(400, 'x'));  // three parts, one reference
        const std::string header = gsm.TxMessageParts()[0].substr(0, 60);
        gsm.SetActive(false);
        return header;
    };
    EXPECT_NE(sendLong(Gsm).find("050003FE03"), std::string::npos);
    EXPECT_EQ(ReadReferenceNumber(file, "{A}"), 255);
    TLuGSM next;
    EXPECT_NE(sendLong(next).find("050003FF03"), std::string::npos);
    EXPECT_EQ(ReadReferenceNumber(file, "{A}"), 0);  // one octet: it wraps
    EXPECT_EQ(ReadReferenceNumber(file, "{B}"), 3);
    std::ifstream in(file);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "[Other]");
    // A file that cannot be written is reported, and the message is still planned.
    int quiet = 0;
    TLuGSM third;
    third.SetOnQuietError([&](TComponent*) { ++quiet; });
    third.SetReferenceFile(file + "/x");  // beneath a file
    third.SetActive(true);
    third.SetSMSNumber("600100200");
    third.SetSMSText(std::string(400, 'x'));
    EXPECT_EQ(third.TxMessageParts().Count(), 3u);
    EXPECT_EQ(quiet, 1);
    EXPECT_EQ(third.LastErrorText().rfind("ReferenceNumbers.ini not written: ", 0), 0u);
    third.SetActive(false);
}

TEST_F(LuGsmTest, ErrorsAreAppendedToTheLogFileAndAnUnwritableOneIsNoHarm) {
    int quiet = 0;
    Gsm.SetOnQuietError([&](TComponent*) { ++quiet; });
    Gsm.SetMakeLog(true);
    Gsm.SetLogFileName(Dir + "/gsm.log");
    Gsm.SetLastErrorText("first");
    Gsm.ReportQuietError();
    Gsm.SetLastErrorText("OK");
    Gsm.ReportQuietError();
    Gsm.SetLastErrorText("second");
    Gsm.ReportQuietError();
    std::ifstream in(Dir + "/gsm.log");
    std::string a, b, c;
    std::getline(in, a);
    std::getline(in, b);
    EXPECT_NE(a.find(" > first"), std::string::npos);
    EXPECT_NE(b.find(" > second"), std::string::npos);
    EXPECT_FALSE(std::getline(in, c));
    Gsm.SetLogFileName(Dir + "/no/such/dir/gsm.log");
    Gsm.ReportQuietError();
    EXPECT_EQ(quiet, 4);
}

TEST_F(LuGsmTest, TimerTicksWithoutALinkDoNothingButSetTheirIntervals) {
    Gsm.AutoConnectTimer().SetEnabled(true);
    Gsm.AutoConnectTimer().Tick();  // never connected: no reconnection
    EXPECT_FALSE(Gsm.AutoConnectTimer().Enabled());
    EXPECT_TRUE(Gsm.AutoConnect());
    Gsm.SetCheckInterval(7);
    Gsm.CheckTimer().Tick();
    EXPECT_EQ(Gsm.CheckTimer().Interval(), 7000u);
    Gsm.SetHardModemStop(true);
    EXPECT_FALSE(Gsm.AutoConnectTimer().Enabled());
}

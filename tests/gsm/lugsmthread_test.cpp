// The modem thread against the simulated modem: connection, initialisation, messages,
// user commands, and the ways modems fail.
#include "gsm_link_fixture.h"

namespace {

bool Has(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

std::vector<std::string> Texts(const std::vector<TReceivedCommand>& r) {
    std::vector<std::string> out;
    for (const auto& c : r) out.push_back(c.Text);
    return out;
}

const std::string LongText(400, 'x');

}  // namespace

TEST_F(GsmLinkTest, ConnectsInitialisesIdentifiesAndReadsTheModem) {
    ASSERT_TRUE(Connect());
    EXPECT_TRUE(Gsm->Connected());
    EXPECT_FALSE(Gsm->NeverConnected());
    EXPECT_EQ(Model, "TIKTAAL/TMS-900");
    EXPECT_EQ(Gsm->Identity.IMEI, "356938035643809");
    EXPECT_EQ(Gsm->Identity.Bios, "Revision:TMS900R01");
    EXPECT_EQ(Gsm->SMSSIMCapacity(), 30);
    EXPECT_EQ(Gsm->SMSPhoneCapacity(), 100);
    EXPECT_TRUE(Logged("Initializing Modem GSM"));
    // Settings built from the probes' replies: messages stored and announced by index.
    const auto sent = Texts(Modem->Received());
    for (const char* c : {"ATE0", "AT+CMGF=0", "AT+CNMI=2,1,0,1,1", "AT+CLIP=1", "AT+CMER=2,0,0,2"})
        EXPECT_TRUE(Has(sent, c)) << c;
    EXPECT_NE(Gsm->GSMThread()->IndicatorList().find("\"callsetup\""), std::string::npos);
    // Unread messages and both phone books are read after connecting.
    EXPECT_TRUE(WaitUntil([&] { return Modem->CountReceived("AT+CPBR=1,") == 2; }));
    EXPECT_EQ(Modem->CountReceived("AT+CMGL=0"), 2);
    // Both books, each under its head; the SIM's names come as UCS-2.
    EXPECT_TRUE(WaitUntil([&] { return Gsm->PhoneBook().Count() == 4; }));
    EXPECT_EQ(Gsm->PhoneBook().Text(),
              "SIM\r\n1;+48600100200;Ala\r\n2;+48600300400;Łukasz\r\nPHONE\r\n");
}

TEST_F(GsmLinkTest, WithoutBuiltInInitialisationTheInitStringsAreSent) {
    Gsm->SetAutoModemINIT(false);
    TStringList init;
    init.SetText("ATE0\r\nAT+CMGF=0\r\nAT+CMMS=1");
    Gsm->SetInitStrings(init);
    ASSERT_TRUE(Connect());
    EXPECT_EQ(Modem->CountReceived("AT+CNMI=?"), 0);
    EXPECT_EQ(Modem->CountReceived("AT+CMMS=1"), 1);
    // The keep-link command named in the list is sent once before a batch of parts.
    SendText("hello");
    ASSERT_TRUE(WaitUntil([&] { return Sends.size() == 1; }));
    EXPECT_EQ(Modem->CountReceived("AT+CMMS=1"), 2);
}

TEST_F(GsmLinkTest, AModemWithoutIndicatorEventsKeepsWorking) {
    Options.ErrorCommands = {"AT+CMER=?"};
    ASSERT_TRUE(Connect());
    EXPECT_TRUE(Logged("AT+CMER -----> NOT AVAILABLE!"));
    EXPECT_EQ(Modem->CountReceived("AT+CMER=2"), 0);
    Gsm->SetATCommand("AT+COPS?");
    EXPECT_TRUE(WaitUntil([&] { return Logged("Tiktaal Net"); }));
    EXPECT_TRUE(Logged("******* AT Command ********"));
}

TEST_F(GsmLinkTest, AThreePartMessageIsSentPartByPart) {
    ASSERT_TRUE(Connect());
    Gsm->SetSMSMessageMarker("m1");
    SendText(LongText);
    ASSERT_EQ(Gsm->TxMessageParts().Count(), 3u);
    ASSERT_TRUE(WaitUntil([&] { return Sends.size() == 3; }));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Sends[i].Status, 1);
        EXPECT_EQ(Sends[i].Ref, i + 1);
        EXPECT_EQ(Sends[i].Part, i + 1);
        EXPECT_EQ(Sends[i].Total, 3);
        EXPECT_EQ(Sends[i].Marker, "m1");
        EXPECT_EQ(Sends[i].Number, "+48600100200");
    }
    EXPECT_EQ(Modem->SentPdus().size(), 3u);
    EXPECT_EQ(Gsm->GSMThread()->SendQueueCount(), 0u);
}

TEST_F(GsmLinkTest, OkWithoutReferenceCountsAsSentWithoutStatus) {
    Options.NoMessageReference = true;
    ASSERT_TRUE(Connect());
    SendText("hello");
    ASSERT_TRUE(WaitUntil([&] { return Sends.size() == 1; }));
    EXPECT_EQ(Sends[0].Ref, -1);
    EXPECT_EQ(Sends[0].Status, 0);
    EXPECT_EQ(Sends[0].Text, "hello");
}

TEST_F(GsmLinkTest, TwoFailedSendsRestartTheLinkAndKeepThePart) {
    Options.RefuseSends = 2;
    ASSERT_TRUE(Connect());
    SendText("hello");
    ASSERT_TRUE(WaitUntil([&] { return Sends.size() == 1; }, 30000));
    EXPECT_EQ(Sends[0].Status, 1);
    EXPECT_TRUE(ErrorSeen("SendSMS error(timeout): ERROR SENDING SMS"));
    EXPECT_TRUE(ErrorSeen("TimeOUT --> Quiet Modem RESTART"));
    EXPECT_EQ(Connects, 2);
    EXPECT_EQ(Modem->SentPdus().size(), 1u);
}

TEST_F(GsmLinkTest, AThirdFailureDropsThePart) {
    Options.RefuseSends = 3;
    Gsm->SetAutoConnect(false);
    ASSERT_TRUE(Connect());
    SendText("hello");
    ASSERT_TRUE(WaitUntil([&] { return ErrorSeen("SendSMS error: SMS REJECTED"); }, 30000));
    ASSERT_EQ(Sends.size(), 1u);
    EXPECT_EQ(Sends[0].Status, 0);
    EXPECT_EQ(Sends[0].Ref, -1);
    EXPECT_TRUE(Modem->SentPdus().empty());
    EXPECT_TRUE(WaitUntil([&] { return !Gsm->Connected(); }));
    EXPECT_EQ(Gsm->GSMThread()->SendQueueCount(), 0u);
}

TEST_F(GsmLinkTest, AModemUnpluggedMidSendComesBackAndThePartGoesOnce) {
    Options.VanishOn = {"AT+CMGS"};
    Options.ReturnAfterMs = 100;
    Gsm->SetACTimerInterval(600000);  // driven by its tick handler below
    ASSERT_TRUE(Connect());
    SendText("hello");
    ASSERT_TRUE(WaitUntil([&] { return Disconnects == 1; }));
    EXPECT_TRUE(Gsm->AutoConnectTimer().Enabled());
    EXPECT_EQ(Gsm->AutoConnectTimer().Interval(), 600000u);
    ASSERT_TRUE(WaitUntil([&] { return Modem->Present(); }));
    Gsm->AutoConnectTimer().Tick();
    EXPECT_FALSE(Gsm->AutoConnectTimer().Enabled());
    ASSERT_TRUE(WaitUntil([&] { return Sends.size() == 1; }, 20000));
    EXPECT_EQ(Sends[0].Status, 1);
    EXPECT_EQ(Connects, 2);
    EXPECT_EQ(Modem->Vanishings(), 1);
    EXPECT_EQ(Modem->SentPdus().size(), 1u);
}

TEST_F(GsmLinkTest, TheCheckTimerQueuesTheBatteryAndSignalReadings) {
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(WaitUntil([&] { return Gsm->GSMThread()->CommandCount() == 0; }));
    const int battery = Modem->CountReceived("AT+CBC"), signal = Modem->CountReceived("AT+CSQ");
    Gsm->SetCheckPwrSig(true);
    Gsm->SetCheckInterval(1000);  // the tick below is the only one
    Gsm->CheckTimer().Tick();
    EXPECT_EQ(Gsm->CheckTimer().Interval(), 1000000u);
    EXPECT_TRUE(WaitUntil([&] {
        return Modem->CountReceived("AT+CBC") == battery + 1 &&
               Modem->CountReceived("AT+CSQ") == signal + 1;
    }));
}

TEST_F(GsmLinkTest, AFloodWithoutLineEndsWhileConnectedIsReadInBoundedPieces) {
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(WaitUntil([&] { return Gsm->GSMThread()->CommandCount() == 0; }));
    Modem->Control("flood 1000000");
    Modem->Control("say OK");
    Gsm->SetATCommand("AT+COPS?");
    ASSERT_TRUE(WaitUntil([&] { return Logged("Tiktaal Net"); }, 20000));
    EXPECT_TRUE(Gsm->Connected());
    for (const auto& l : LogLines) EXPECT_LE(l.size(), TLuGSMThread::MaxReplyText + 4096);
}

TEST_F(GsmLinkTest, AModemVanishingMidExchangeIsReconnected) {
    Options.VanishOn = {"AT+CGSN"};  // during identification
    Options.ReturnAfterMs = 100;
    Gsm->SetACTimerInterval(600000);
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(WaitUntil([&] { return Disconnects == 1; }));
    EXPECT_TRUE(ErrorSeen("SendSerialAT error ["));
    ASSERT_TRUE(WaitUntil([&] { return Modem->Present(); }));
    Gsm->AutoConnectTimer().Tick();
    ASSERT_TRUE(WaitUntil([&] { return Connects == 2; }));
    EXPECT_EQ(Model, "TIKTAAL/TMS-900");
}

TEST_F(GsmLinkTest, ASilentModemFailsTheConnectionWithinItsBound) {
    Options.Silent = true;
    StartModem();
    const auto start = std::chrono::steady_clock::now();
    Gsm->SetActive(true);
    Gsm->SetConnected(true);
    EXPECT_TRUE(WaitUntil([&] { return ErrorSeen("Modem CONNECT ERROR ["); }, 5000));
    EXPECT_LT(MsSince(start), 3000);
    EXPECT_FALSE(Gsm->Connected());
    EXPECT_GE(Disconnects, 1);
}

TEST_F(GsmLinkTest, BrokenAnswersNeverConnectAndNeverHang) {
    for (int mode = 0; mode < 3; ++mode) {
        Options.Garbage = mode == 0;
        Options.HalfLine = mode == 1;
        Options.Flood = mode == 2;
        Modem.reset();
        Connects = 0;
        Errors.clear();
        StartModem();
        Gsm->SetActive(true);
        Gsm->SetConnected(true);
        EXPECT_TRUE(WaitUntil([&] { return !Errors.empty(); }, 6000)) << mode;
        EXPECT_EQ(Connects, 0) << mode;
        const auto start = std::chrono::steady_clock::now();
        Gsm->SetActive(false);
        EXPECT_LT(MsSince(start), 3000) << mode;
        EXPECT_FALSE(Gsm->Active());
    }
}

TEST_F(GsmLinkTest, AbsurdStorageNumbersReadAsUnknown) {
    Options.Replies = {{"AT+CPMS", {"+CPMS: 99999999999,-5,1,1,1,1"}},
                       {"AT+CPBR=?", {"+CPBR: (1-99999999999),40,18"}}};
    ASSERT_TRUE(Connect());
    EXPECT_EQ(Gsm->SMSSIMCapacity(), -88);
    EXPECT_EQ(Gsm->SMSPhoneCapacity(), -77);
    EXPECT_EQ(Modem->CountReceived("AT+CPBR=1"), 0);
}

TEST_F(GsmLinkTest, AStopRequestCutsALongWaitShort) {
    Options.DelayMs = 2500;
    Gsm->SetATTimeout(3000);
    StartModem();
    Gsm->SetActive(true);
    Gsm->SetConnected(true);
    WaitUntil([&] { return Modem->CountReceived("AT") > 0; }, 3000);
    const auto start = std::chrono::steady_clock::now();
    Gsm->SetActive(false);
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_FALSE(Gsm->Active());
    EXPECT_EQ(Gsm->GSMThread(), nullptr);
}

TEST_F(GsmLinkTest, AUserDisconnectClosesWithASoftResetAndDoesNotReconnect) {
    ASSERT_TRUE(Connect());
    WaitUntil([&] { return Gsm->GSMThread()->CommandCount() == 0; });
    const int resets = Modem->CountReceived("AT&F");
    Gsm->SetConnected(false);
    ASSERT_TRUE(WaitUntil([&] { return Disconnects == 1; }));
    EXPECT_EQ(Modem->CountReceived("AT&F"), resets + 1);
    EXPECT_TRUE(Logged("Modem OFF with soft RESET: [AT&F]"));
    EXPECT_FALSE(Gsm->AutoConnectTimer().Enabled());
}

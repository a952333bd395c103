#include <gtest/gtest.h>

#include <cstdio>

#include "fake_dispatch_target.h"
#include "gsm/codecs/gsm7.h"
#include "gsm/codecs/smscipher.h"
#include "codecs/gsm_test_util.h"

namespace {

// An SMS-DELIVER from +48123456789 carrying a 7-bit text.
std::string Deliver(const std::string& text) {
    size_t septets = 0;
    const std::string ud = TextToGsm7Hex(U(text), &septets);
    char udl[3];
    std::snprintf(udl, sizeof udl, "%02X", static_cast<unsigned>(septets));
    return DeliverPdu("04", "00", udl, ud);
}

const std::string StatusReportPdu = "00062A0B918421436587F952100221436580521002214365800000";

class ModemDispatch : public ::testing::Test {
protected:
    TFakeDispatchTarget T;
    TModemDispatch D{T};
    std::vector<std::string> Events() { return std::exchange(T.Events, {}); }
};

using Strings = std::vector<std::string>;

}  // namespace

TEST_F(ModemDispatch, PhoneBookLines) {
    D.DispatchReply(
        "+CPBR: 1,\"+48600\",145,\"004A0061006E\"\r\n"
        "+CPBR: 2,\"12,3\"\"4\",129,\"Ann\"\r\n"
        "+CPBR: 3,\"555\",129,\"0041\r\n"  // unclosed quote: runs to the end of the line
        "+CPBR: (1-250),40,18\r\nOK\r\n");
    EXPECT_EQ(T.PhoneBookLines, (Strings{"1;+48600;Jan", "2;12,3\"4;Ann", "3;555;A"}));
    EXPECT_EQ(Events(), Strings{"phonebook"});
    T.S.PhoneBookUcs2 = false;  // a modem that kept its own character set
    D.DispatchReply("+CPBR: 4,\"1\",129,\"0041\"\r\n");
    EXPECT_EQ(T.PhoneBookLines.back(), "4;1;0041");
}

TEST_F(ModemDispatch, RoutedMessageWhateverLinesComeBefore) {
    const std::string pdu = Deliver("Hello");
    for (const std::string before : {"", "\r\n", "\r\n\r\nRING\r\n", "OK\r\n"}) {
        D.DispatchReply(before + "+CMT: ,20\r\n" + pdu + "\r\n");
        EXPECT_EQ(Events(), (Strings{"afterrx", "sms +48123456789|Hello|"})) << before;
    }
    EXPECT_EQ(T.Messages.back().TimeStamp, "2025-01-20 12:34:56");
    EXPECT_EQ(T.Queue, std::deque<std::string>{"AT"});
    // The PDU line in the next read.
    D.DispatchReply("\r\n+CMT: ,20\r\n");
    D.DispatchReply(pdu + "\r\n");
    EXPECT_EQ(Events(), (Strings{"afterrx", "sms +48123456789|Hello|"}));
}

TEST_F(ModemDispatch, RoutedMessageFailures) {
    D.DispatchReply("+CMT: ,20\r\nRING\r\n");  // no PDU line
    EXPECT_EQ(Events(), Strings{});
    EXPECT_EQ(T.Errors.size(), 1u);
    // A PDU whose fields cannot be read is one error naming it, not a message from nobody.
    D.DispatchReply("+CMT: ,20\r\n0011\r\n");
    EXPECT_EQ(Events(), Strings{});
    EXPECT_EQ(T.Errors.back(), "Thread (SMS) ERROR: PDU cannot be decoded: 0011");
    D.DispatchReply("+CMT: ,20\r\n" + Deliver("cut short").substr(0, 30) + "\r\n");
    EXPECT_EQ(Events(), Strings{});
    EXPECT_EQ(T.Errors.size(), 3u);
    // Readable fields with text that does not decode keep the documented text.
    D.DispatchReply("+CMT: ,20\r\n" + DeliverPdu("04", "08", "02", "D800") + "\r\n");
    EXPECT_EQ(Events(), (Strings{"afterrx", "sms +48123456789|(Decoding Error)|"}));
    T.S.DisableIncomingSMS = true;
    D.DispatchReply("+CMT: ,20\r\n" + Deliver("x") + "\r\n+CMTI: \"SM\",3\r\n");
    EXPECT_EQ(Events(), Strings{});
}

TEST_F(ModemDispatch, NumberedPartWithoutHeader) {
    D.DispatchReply("+CMT: ,30\r\n" + Deliver("(02z03)second part") + "\r\n");
    const TDispatchedSms& sms = T.Messages.at(0);
    EXPECT_TRUE(sms.IsUDH);
    EXPECT_EQ(sms.UDHInfo.Part, 2);
    EXPECT_EQ(sms.UDHInfo.Total, 3);
    EXPECT_EQ(sms.UDHInfo.Reference, 61 + 4812 + 3456 + 789 + 3);
    EXPECT_EQ(sms.Text, "second part");
}

TEST_F(ModemDispatch, EncipheredMessages) {
    T.S.EncodePIN = "12";
    const std::string key = SmsCipherKey("12");
    EXPECT_EQ(key, "12  ");
    const std::string body = EncipherSmsText(key + "open", key);
    D.DispatchReply("+CMT: ,99\r\n" + Deliver("55" + body + "AA") + "\r\n");
    T.S.EncodePIN = "13";
    D.DispatchReply("+CMT: ,99\r\n" + Deliver("55" + body + "AA") + "\r\n");
    EXPECT_EQ(Events(),
              (Strings{"secret +48123456789|open", "secret +48123456789|Decoding ERROR"}));
    // The frame the component sends ("66" ... "BB") is read as well.
    T.S.EncodePIN = "12";
    D.DispatchReply("+CMT: ,99\r\n" + Deliver("66" + body + "BB") + "\r\n");
    EXPECT_EQ(Events(), Strings{"secret +48123456789|open"});
}

TEST_F(ModemDispatch, QuestionsAndRecipients) {
    T.S.PromoQuestions = {"", "Quiz", "quiz 2"};
    T.S.RecipientsTable = {"Kitchen", "hall"};
    T.S.RecipientsGroups = {"upstairs"};
    for (const char* text : {"QUIZ 2: yes", "=!lamp. on", "hey =@Ann?. hi",
                             "kitchen,upstairs,x?.go", "Hello there. x", "Hall.on"})
        D.DispatchReply("+CMT: ,99\r\n" + Deliver(text) + "\r\n");
    EXPECT_EQ(Events(), (Strings{"afterrx", "question Quiz|QUIZ 2: yes", "afterrx",
                                 "sms +48123456789| on|virtual#lamp", "afterrx",
                                 "sms +48123456789| hihey |email#ann##?", "afterrx",
                                 "sms +48123456789|go|system#kitchen#upstairs#?", "afterrx",
                                 "sms +48123456789|Hello there. x|", "afterrx",
                                 "sms +48123456789|on|system#hall"}));
    T.S.RecipientSepStart = T.S.RecipientSepStop = 0;
    EXPECT_EQ(ExtractRecipient("=!lamp. on", T.S).Recipient, "");
}

TEST_F(ModemDispatch, NewMessageIndications) {
    T.S.SMSPhoneCapacity = 100;
    D.DispatchReply("+CMTI: \"ME\",95\r\n");
    EXPECT_EQ(Events(), Strings{"memoryfull"});
    const std::deque<std::string> listing{"AT+CPMS=\"SM\"", "AT+CMGL=0", "AT+CPMS=\"ME\"",
                                          "AT+CMGL=0"};
    EXPECT_EQ(T.Queue, listing);
    T.Queue.clear();
    D.DispatchReply("+CMTI: \"ME\",1000000000000\r\n+CMTI: \"SM\"\r\n+CMTI: \"SM\",90\r\n");
    EXPECT_EQ(Events(), Strings{});  // unreadable indexes count as 1; 90 is not above 90
    EXPECT_EQ(T.Queue, listing);     // queued once for the burst
    T.S.SMSPhoneCapacity = -77;      // capacity never read
    D.DispatchReply("+CMTI: \"ME\",5\r\n");
    EXPECT_EQ(Events(), Strings{});
    // A listing under way past the SIM's part: a new message there is listed again.
    T.Queue = {"AT+CPMS=\"ME\"", "AT+CMGL=0"};
    D.DispatchReply("+CMTI: \"SM\",2\r\n");
    EXPECT_EQ(T.Queue.size(), 6u);
    // Without phone storage only the SIM is listed.
    T.Queue.clear();
    T.S.PhoneStorage = false;
    D.DispatchReply("+CMTI: \"SM\",3\r\n");
    EXPECT_EQ(T.Queue, (std::deque<std::string>{"AT+CPMS=\"SM\"", "AT+CMGL=0"}));
}

// A long reply dispatched in pieces: a header that ends a piece finds its PDU in the next,
// and the phone book is announced once, at the reply's end.
TEST_F(ModemDispatch, PiecesOfALongReply) {
    D.DispatchPiece("+CPBR: 1,\"1\",129,\"0041\"\r\n+CMGL: 3,0,,20\r\n");
    D.DispatchPiece(Deliver("one") + "\r\n+CPBR: 2,\"2\",129,\"0042\"\r\n");
    EXPECT_EQ(Events(), (Strings{"afterrx", "sms +48123456789|one|"}));
    D.DispatchReply("OK\r\n");
    EXPECT_EQ(Events(), Strings{"phonebook"});
    EXPECT_EQ(T.PhoneBookLines, (Strings{"1;1;A", "2;2;B"}));
}

TEST_F(ModemDispatch, ListingReadByIndexAndStatusReports) {
    T.S.DeleteSMSafterRead = true;
    D.DispatchReply("+CMGL: 3,1,,20\r\n" + Deliver("one") + "\r\n+CMGL: 4,1,,25\r\n" +
                    StatusReportPdu + "\r\n+CMGL: 5,1,,9\r\nZZ\r\n+CMGL: 6,1,,9\r\n0007\r\nOK\r\n");
    EXPECT_EQ(Events(), (Strings{"afterrx", "sms +48123456789|one|", "afterrx",
                                 "report +48123456789|Status REPORT |"}));
    EXPECT_EQ(T.Queue, (std::deque<std::string>{"AT+CMGD=3", "AT+CMGD=4"}));
    ASSERT_EQ(T.Errors.size(), 2u);
    EXPECT_EQ(T.Errors[1].rfind("Thread (+CMGL:) ERROR: ", 0), 0u);
    const TDispatchUdh& udh = T.Messages.at(1).UDHInfo;
    EXPECT_EQ(udh.Reference, 0x2A);
    EXPECT_EQ(udh.Delivered, 1);
    EXPECT_TRUE(T.Messages.at(1).StatusReport);

    T.Queue.clear();
    T.Current = "AT+CMGR=7";
    D.DispatchReply("+CMGR: 0,,20\r\n" + Deliver("two") + "\r\nOK\r\n");
    T.S.DeleteSMSafterRead = false;
    D.DispatchReply("+CMGR: 0,,20\r\n" + Deliver("two") + "\r\nOK\r\n");
    EXPECT_EQ(T.Queue, (std::deque<std::string>{"AT", "AT+CMGD=7"}));

    D.DispatchReply("\r\n+CDS: 25\r\n" + StatusReportPdu + "\r\n");
    D.DispatchReply("+CDS: 25\r\n" + Deliver("not a report") + "\r\n");
    EXPECT_EQ(Events().back(), "report +48123456789|Status REPORT |");
    EXPECT_EQ(T.Errors.size(), 3u);
}

TEST_F(ModemDispatch, RingRuleAndHangUp) {
    D.DispatchReply("RING\r\n+CLIP: \"600100200\",129\r\n");
    T.Now += 5000;
    D.DispatchReply("RING\r\n+CLIP: \"600100200\",129\r\n");
    T.Now += 11000;
    D.DispatchReply("RING\r\n+CLIP: \"600100200\",129\r\n");
    D.DispatchReply("+CLIP: 600100200,129\r\n");  // no quotes
    EXPECT_EQ(Events(), (Strings{"ring +48600100200", "ring +48600100200", "ring unknown"}));
    EXPECT_EQ(T.LogLines.back(), "----------- BufComRx END ---");

    T.S.HangUpVoiceConnection = true;
    T.Queue = {"AT+CSQ"};
    T.Now += 20000;
    D.DispatchReply("+CLIP: \"+4812\",145\r\n");
    EXPECT_EQ(Events(), Strings{"ring +4812"});
    EXPECT_EQ(T.Queue, (std::deque<std::string>{"ATH", "AT+CHUP", "AT", "AT+CSQ"}));
}

TEST_F(ModemDispatch, CallIndicatorsByTheModemsNumbers) {
    D.DispatchReply("+CIEV: 1,1\r\n+CIEV: 3,0\r\n");  // first match wins
    D.DispatchReply("+CIEV: 3,2\r\n");
    D.DispatchReply("+CIEV: 3,3\r\n");  // no SendOneSignal: nothing
    EXPECT_EQ(Events(), (Strings{"call 1 0", "call 1 1"}));
    T.SendOneSignal = true;
    T.Queue = {"AT+CSQ"};
    D.DispatchReply("+CIEV: 3,3\r\n");
    EXPECT_FALSE(T.SendOneSignal);
    EXPECT_EQ(T.Queue,
              (std::deque<std::string>{"AT", "AT", "AT", "AT", "ATH", "AT+CHUP", "AT", "AT+CSQ"}));

    const TIndicatorNumbers n = ParseIndicatorList(
        "+CIND: (\"battchg\",(0-5)),(\"signal\",(0-5)),(\"service\",(0,1)),(\"call\",(0,1)),"
        "(\"roam\",(0,1)),(\"smsfull\",(0,1)),(\"callsetup\",(0-3))\r\n\r\nOK\r\n");
    EXPECT_EQ(n, (TIndicatorNumbers{4, 7}));
    D.SetIndicatorNumbers(n);
    D.DispatchReply("+CIEV: 1,1\r\n");  // battery level now
    D.DispatchReply("+CIEV: 4,1\r\n");
    D.DispatchReply("+CIEV: 7,0\r\n");
    EXPECT_EQ(Events(), (Strings{"call 1 0", "call 0 3"}));
    for (const char* bad : {"", "ERROR", "+CIND: (\"call\",(0,1)", "+CIND: ((0-5))"})
        EXPECT_EQ(ParseIndicatorList(bad), (TIndicatorNumbers{1, 3})) << bad;
    EXPECT_EQ(ParseIndicatorList("+CIND: (\"call\",(0,1))"), (TIndicatorNumbers{1, 0}));
}

TEST_F(ModemDispatch, BatteryAndSignalReadings) {
    EXPECT_EQ(SignalPercent("+CSQ: 99,99"), 0);
    EXPECT_EQ(SignalPercent("+CSQ: 20,99"), 100);
    EXPECT_EQ(SignalPercent("+CSQ: 5,99"), 15);
    EXPECT_EQ(SignalPercent("+CSQ: 99"), 0);
    EXPECT_EQ(SignalPercent("+CSQ: 95,0"), 3);  // above 90 counts as 1
    EXPECT_EQ(SignalPercent("+CSQ: x"), 0);
    D.DispatchReply("+CBC: 1,80\r\n+CSQ: 12,0\r\nOK\r\n");
    D.DispatchReply("+CBC: 0\r\n+CBC:\r\n+CSQ: (0-31,99),(0-7,99)\r\n");
    EXPECT_EQ(Events(), (Strings{"reading BAT -1 1 80", "reading ANT 66 0 -1"}));
    T.S.CanCheckPower = T.S.CanCheckSignal = false;
    D.DispatchReply("+CBC: 1,80\r\n+CSQ: 12,0\r\n");
    EXPECT_EQ(Events(), Strings{});
}

TEST_F(ModemDispatch, CutRepliesAndFloodsKeepTheEngineWorking) {
    T.S.SMSPhoneCapacity = 20;
    T.SendOneSignal = true;
    const std::string reply =
        "+CPBR: 1,\"5\",129,\"0041\"\r\n+CMGL: 3,1,,20\r\n" + Deliver("a") +
        "\r\n+CMTI: \"SM\",15\r\n+CMT: ,20\r\n" + Deliver("b") +
        "\r\n+CLIP: \"1\"\r\n+CIEV: 3,3\r\n+CBC: 0,5\r\n+CSQ: 7,0\r\n+CDS: 2\r\n" +
        StatusReportPdu + "\r\n";
    for (size_t n = 0; n <= reply.size(); ++n) {
        D.DispatchReply(reply.substr(0, n));
        D.DispatchReply(reply.substr(n));
    }
    std::string flood;
    for (int i = 0; i < 100000; ++i) flood += "+CMTI: \"SM\",1\r\n+CLIP: \"1\"\r\nRING\r\n";
    T.Queue.clear();
    D.DispatchReply(flood);
    EXPECT_LE(T.Queue.size(), 8u);
}

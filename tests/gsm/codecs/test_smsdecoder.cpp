#include <gtest/gtest.h>

#include <vector>

#include "gsm/codecs/gsm7.h"
#include "gsm/codecs/smsdecoder.h"
#include "gsm/codecs/submitpdu.h"
#include "gsm_test_util.h"

namespace {

struct TDecoded {
    std::string Sender;
    std::u16string Text;
    TDateTime Stamp = 0;
    std::vector<std::string> Messages;
};

TDecoded Decode(const std::string& pdu) {
    TDecoded d;
    TSMS sms([&](const std::string& m) { d.Messages.push_back(m); });
    sms.ParsePdu(pdu);
    d.Sender = sms.GetSender();
    d.Text = sms.GetText();
    d.Stamp = sms.GetTimeStamp();
    return d;
}

std::u16string TextOf(const std::string& firstOctet, const std::string& dcs, const std::string& udl,
                      const std::string& ud) {
    return Decode(DeliverPdu(firstOctet, dcs, udl, ud)).Text;
}

void ExpectConcat(const std::string& pdu, int reference, int total, int part) {
    const TConcatInfo info = DecodeConcatInfo(pdu);
    EXPECT_EQ(info.Reference, reference);
    EXPECT_EQ(info.Total, total);
    EXPECT_EQ(info.Part, part);
}

}  // namespace

TEST(SmsDecoder, DeliverWithServiceCentreAndInternationalSender) {
    const std::string pdu =
        "07918406010000F0" + DeliverPdu("04", "00", "0A", "E8329BFD4697D9EC37").substr(2);
    const TDecoded d = Decode(pdu);
    EXPECT_EQ(d.Sender, "+48123456789");
    EXPECT_EQ(d.Text, u"hellohello");
    EXPECT_EQ(d.Stamp, EncodeDateTime(2025, 1, 20, 12, 34, 56));
    EXPECT_TRUE(d.Messages.empty());
    ExpectConcat(pdu, -1, -1, -1);
}

TEST(SmsDecoder, AlphanumericSender) {
    const std::string name = TextToGsm7Hex(u"Tiktaal");  // 49 bits: 13 semi-octets
    const TDecoded d = Decode(
        "0004"
        "0DD0" +
        name +
        "0000"
        "52100221436580"
        "0361F118");
    EXPECT_EQ(d.Sender, "Tiktaal");
    EXPECT_EQ(d.Text, u"abc");
}

TEST(SmsDecoder, ConcatenatedPartsInEveryCoding) {
    const std::string header = "050003AA0201";
    EXPECT_EQ(TextOf("44", "00", "0A", header + "C2E231"), u"abc");
    EXPECT_EQ(TextOf("44", "04", "08", header + "B541"), U("µA"));
    EXPECT_EQ(TextOf("44", "08", "0A", header + "01050041"), U("ąA"));
    ExpectConcat(DeliverPdu("44", "08", "0A", header + "01050041"), 0xAA, 2, 1);
    ExpectConcat(DeliverPdu("44", "00", "0A", "0700020000030201C2E231"), -1, -1, -1);  // IEL 2
    ExpectConcat(DeliverPdu("44", "04", "03", "0500"), -1, -1, -1);  // header beyond the data
}

TEST(SmsDecoder, SixteenBitReferencesAndOctetDataRightAfterTheHeader) {
    const std::string header16 = "06080412340301";  // 7 octets: no fill before octet data
    EXPECT_EQ(TextOf("44", "08", "0B", header16 + "01050041"), U("ąA"));
    EXPECT_EQ(TextOf("44", "04", "09", header16 + "B541"), U("µA"));
    EXPECT_EQ(TextOf("44", "00", "0B", header16 + "61F118"), u"abc");  // 8 septets, no fill
    ExpectConcat(DeliverPdu("44", "08", "0B", header16 + "01050041"), 0x1234, 3, 1);
    // An application-port element before the concatenation element.
    ExpectConcat(DeliverPdu("44", "04", "0D", "0B05040B8423F00003AA0201B5"), 0xAA, 2, 1);
}

TEST(SmsDecoder, MessageWaitingGroupsDecodeWithTheirAlphabets) {
    EXPECT_EQ(TextOf("04", "C8", "03", "61F118"), u"abc");     // 1100: discard, GSM 7-bit
    EXPECT_EQ(TextOf("04", "DB", "03", "61F118"), u"abc");     // 1101: store, GSM 7-bit
    EXPECT_EQ(TextOf("04", "E8", "04", "01050041"), U("ąA"));  // 1110: store, UCS-2
    EXPECT_EQ(TextOf("04", "F4", "02", "B541"), U("µA"));      // 1111: bit 2 chooses 8-bit
}

TEST(SmsDecoder, SevenBitTextIsCutByItsSeptetCount) {
    const std::string header = "050003AA0201";
    const auto part = [&](const std::u16string& text) {
        TSMSD sms;
        sms.SetText(text);
        sms.Destination = "1";
        sms.SetHeader(header);
        const std::string pdu = sms.BuildSubmitPdu();
        return pdu.substr(pdu.size() - 2 * (sms.UserDataOctets() + 1));  // UDL and UD
    };
    for (const std::u16string text : {u"abcdefg@", u"ab@@", u"\fHello", u"@@@"}) {
        const std::string udlAndUd = part(text);
        EXPECT_EQ(TextOf("44", "00", udlAndUd.substr(0, 2), udlAndUd.substr(2)), text);
    }
    EXPECT_EQ(TextOf("04", "00", "08", "61F1985C369F01"), u"abcdefg@");
    EXPECT_EQ(TextOf("04", "00", "02", "61F118"), u"ab");
}

TEST(SmsDecoder, StoredSubmitGivesRecipientAndNoStamp) {
    TSMSD sms;
    sms.SetText(u"abc");
    sms.Destination = "+123";
    const TDecoded d = Decode(sms.BuildSubmitPdu());
    EXPECT_EQ(d.Sender, "+123");
    EXPECT_EQ(d.Text, u"abc");
    EXPECT_EQ(d.Stamp, 0);
}

TEST(SmsDecoder, TextFailuresAndReservedScheme) {
    EXPECT_EQ(TextOf("04", "0C", "01", "41"), u"(Uwaga: Nieznany schemat kodowania)");
    EXPECT_EQ(TextOf("04", "08", "02", "D800"), u"(Decoding Error)");
    EXPECT_EQ(TextOf("04", "08", "06", "D83DDE000041"), U("😀A"));
    EXPECT_EQ(TextOf("04", "04", "02", "4Z"), u"(Decoding Error)");
    EXPECT_EQ(TextOf("04", "04", "ZZ", "41"), u"(Decoding Error)");
    EXPECT_EQ(TextOf("04", "04", "05", "41"), u"A");  // UDL beyond the data
    EXPECT_EQ(TextOf("04", "04", "04", "410A420D"), u"A\r\nB\r\n");
}

TEST(SmsDecoder, UnreadableFieldsGoToTheSink) {
    const TDecoded empty = Decode("");
    EXPECT_EQ(empty.Messages,
              (std::vector<std::string>{"PDU ERROR (SMSCLen): ", "PDU ERROR (PDUType): ",
                                        "PDU ERROR (SenderLen): ", "PDU ERROR (TPDCS): "}));
    EXPECT_EQ(empty.Sender, "");
    EXPECT_EQ(empty.Text, u"(Decoding Error)");
    EXPECT_EQ(Decode("zz0004").Messages.at(0), "PDU ERROR (SMSCLen): zz0004");
    EXPECT_EQ(Decode("0004"
                     "0B91"
                     "8421436587")
                  .Sender,
              "");  // address beyond the data
}

TEST(SmsDecoder, EveryCutOfAPduDecodesSafely) {
    const std::string pdu = DeliverPdu("44", "08", "0A", "050003AA020101050041");
    for (size_t n = 0; n <= pdu.size(); ++n) {
        const TDecoded d = Decode(pdu.substr(0, n));
        EXPECT_EQ(DecodeConcatInfo(pdu.substr(0, n)).Reference, n >= 52 ? 0xAA : -1) << n;
    }
}

TEST(SmsDecoder, LineBreaksAreMadeWhole) {
    EXPECT_EQ(NormaliseLineBreaks(u"a\rb\nc\n\rd\r\ne"), u"a\r\nb\r\nc\r\nd\r\ne");
}

#include <gtest/gtest.h>

#include "gsm/codecs/gsm7.h"
#include "gsm/codecs/recordpdu.h"
#include "gsm/codecs/smsdecoder.h"
#include "gsm_test_util.h"

TEST(RecordPdu, StatusReport) {
    TSmsPdu r;
    ASSERT_TRUE(DecodeRecordPdu(true,
                                "0006"
                                "2A"
                                "0B918421436587F9"
                                "52100221436580"
                                "52100221436580"
                                "00",
                                r));
    EXPECT_EQ(r.Kind, skStatusReport);
    EXPECT_EQ(r.MessageReference, 0x2A);
    EXPECT_EQ(r.Address, "48123456789");
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Text, "");
    EXPECT_NEAR(r.TimeStamp, EncodeDateTime(2025, 1, 20, 12, 34, 56), 1e-9);
}

TEST(RecordPdu, DeliverWithServiceCentreMapsTextToLatin1) {
    // A £ [ Δ € x: extension pairs for [ and €, which Latin-1 lacks; Greek capitals as '?'.
    const std::string ud = PackGsm7("A\x01\x1B\x3C\x10\x1B\x65x");
    TSmsPdu r;
    ASSERT_TRUE(
        DecodeRecordPdu(true, "07918406010000F0" + DeliverPdu("04", "00", "08", ud).substr(2), r));
    EXPECT_EQ(r.ServiceCentre, "48601000000");
    EXPECT_EQ(r.Kind, skDeliver);
    EXPECT_EQ(r.Address, "48123456789");
    EXPECT_EQ(r.ProtocolId, 0);
    EXPECT_EQ(r.CodingScheme, 0);
    EXPECT_EQ(r.Text, "A\xC2\xA3[??x");
}

TEST(RecordPdu, KindsByDirection) {
    const struct {
        bool incoming;
        std::string pdu;
        uint8_t kind;
        uint8_t mr;
        bool ok;
    } cases[] = {
        {true, "00012A", skSubmitReport, 0x2A, true},
        {false, "00002A", skDeliverReport, 0x2A, true},
        {false, "0001", skSubmit, 0, true},
        {false, "0002", skCommand, 0, true},
        {true, "0003", skUnknown, 0, false},
        {true, "0001", skSubmitReport, 0, false},
    };
    for (const auto& c : cases) {
        TSmsPdu r;
        EXPECT_EQ(DecodeRecordPdu(c.incoming, c.pdu, r), c.ok) << c.pdu;
        EXPECT_EQ(r.Kind, c.kind) << c.pdu;
        EXPECT_EQ(r.MessageReference, c.mr) << c.pdu;
    }
}

TEST(RecordPdu, CutPdusFailWithoutReadingPastTheEnd) {
    const std::string pdu =
        "0006"
        "2A"
        "0B918421436587F9"
        "52100221436580"
        "52100221436580"
        "00";
    TSmsPdu r;
    for (size_t n = 0; n < pdu.size(); ++n)
        EXPECT_FALSE(DecodeRecordPdu(true, pdu.substr(0, n), r)) << n;
    EXPECT_FALSE(DecodeRecordPdu(true, "07zz", r));
}

TEST(RecordPdu, GsmTo8BitTable) {
    EXPECT_EQ(GsmTo8Bit[0x00], 0x40);
    EXPECT_EQ(GsmTo8Bit[0x01], 0xA3);
    EXPECT_EQ(GsmTo8Bit[0x11], '_');
    EXPECT_EQ(GsmTo8Bit[0x10], '?');
    EXPECT_EQ(GsmTo8Bit[0x1B], 0x1B);
    EXPECT_EQ(GsmTo8Bit[0x7F], 0xE0);
    EXPECT_EQ(GsmTo8Bit[0x80], 0);
}

// A report's stamp reads as a message's does: the service centre's local time as written,
// whatever its zone (east, or west with sign bit 3 of the tens digit), so that a report and
// the message it reports on show the same moment alike.
TEST(Scts, TheStampAsWrittenWhateverTheZone) {
    for (const char* stamp : {"52100221000080", "52100221000088", "52100221000000", "52100221000001"})
        EXPECT_NEAR(DecodeScts(stamp), EncodeDateTime(2025, 1, 20, 12, 0, 0), 1e-9) << stamp;
    TSMS sms;
    sms.ParsePdu("00040B918421436587F9000052100221436580" "00");
    EXPECT_NEAR(DecodeScts("52100221436580"), sms.GetTimeStamp(), 1e-9);
}

TEST(Scts, CenturyAndInvalidStamps) {
    EXPECT_EQ(DecodeDate(DecodeScts("59100221000000")).Year, 2095);
    EXPECT_EQ(DecodeDate(DecodeScts("69100221000000")).Year, 1996);
    for (const char* bad :
         {"", "5210022100008", "52310221000080", "5210022100A080", "521002210000A0"})
        EXPECT_EQ(DecodeScts(bad), 0) << bad;
}

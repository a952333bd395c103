#include <gtest/gtest.h>

#include "gsm/codecs/gsmerrors.h"
#include "gsm/codecs/submitpdu.h"
#include "gsm_test_util.h"

namespace {

TSMSD Builder(const std::string& text, const std::string& header = "") {
    TSMSD sms;
    sms.SetText(U(text));
    sms.Destination = "+123";
    sms.SetHeader(header);
    return sms;
}

}  // namespace

TEST(SubmitPdu, PlainSevenBitMessage) {
    TSMSD sms = Builder("abc");
    EXPECT_EQ(sms.BuildSubmitPdu(), "001100039121F30000AD0361F118");
    EXPECT_EQ(sms.TpduLength(), 13);
    EXPECT_EQ(sms.UserDataOctets(), 3);
}

TEST(SubmitPdu, FlagsSetFirstOctetAndCodingScheme) {
    TSMSD sms = Builder("abc");
    sms.Flash = true;
    sms.StatusReport = true;
    EXPECT_EQ(sms.BuildSubmitPdu(), "003100039121F30010AD0361F118");
}

TEST(SubmitPdu, EightBitAndUcs2Codings) {
    TSMSD eight = Builder("µ");
    EXPECT_EQ(eight.BuildSubmitPdu(), "001100039121F30004AD01B5");
    TSMSD ucs2 = Builder("ą");
    EXPECT_EQ(ucs2.BuildSubmitPdu(), "001100039121F30008AD020105");
    TSMSD forced = Builder("abc");
    forced.Coding = scUcs2;
    EXPECT_EQ(forced.BuildSubmitPdu(), "001100039121F30008AD06006100620063");
    forced.SetText(u"abc");  // a new text asks for the coding it needs again
    EXPECT_EQ(forced.Coding, scAuto);
}

TEST(SubmitPdu, HeaderCountsInUdlAndAlignsSevenBitText) {
    // Seven header septets (six octets and a fill bit), then "abc" on the septet boundary.
    EXPECT_EQ(Builder("abc", "050003AA0201").BuildSubmitPdu(),
              "005100039121F30000AD0A050003AA0201C2E231");
    EXPECT_EQ(Builder("µ", "050003AA0201").BuildSubmitPdu(),
              "005100039121F30004AD07050003AA0201B5");
    EXPECT_EQ(Builder("ą", "050003AA0201").BuildSubmitPdu(),
              "005100039121F30008AD08050003AA02010105");
}

TEST(SubmitPdu, FailuresAreRaisedAsEncodingErrors) {
    TSMSD sms = Builder("ą");
    sms.Coding = sc8Bit;
    try {
        sms.BuildSubmitPdu();
        FAIL();
    } catch (const EGsmCodecError& e) {
        EXPECT_STREQ(e.what(), "Error encoding PDU: Unable to use 8bit encoding!");
    }
    EXPECT_THROW(Builder("a", "05000301").BuildSubmitPdu(), EGsmCodecError);
    EXPECT_THROW(Builder("a", "zz").BuildSubmitPdu(), EGsmCodecError);
}

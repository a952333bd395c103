#include <gtest/gtest.h>

#include "gsm/codecs/gsmerrors.h"
#include "gsm/codecs/octetcodecs.h"
#include "gsm_test_util.h"

TEST(EightBit, EncodesLatin1AndRefusesWiderCharacters) {
    EXPECT_EQ(TextTo8BitHex(U("µA")), "B541");
    try {
        TextTo8BitHex(U("ą"));
        FAIL();
    } catch (const EGsmCodecError& e) {
        EXPECT_STREQ(e.what(), "Unable to use 8bit encoding!");
    }
}

TEST(EightBit, DecodesWithOddPaddingAndRefusesNonHex) {
    EXPECT_EQ(Hex8BitToText("B541"), U("µA"));
    EXPECT_EQ(Hex8BitToText("41B"), U("A°"));
    EXPECT_THROW(Hex8BitToText("4G"), EConvertError);
    EXPECT_THROW(Hex8BitToText("b5"), EConvertError);
}

TEST(Ucs2, EncodesBigEndianCodeUnits) {
    EXPECT_EQ(TextToUcs2Hex(U("ąA")), "01050041");
    EXPECT_EQ(TextToUcs2Hex(std::u16string{0xD83D}), "D83D");
    EXPECT_EQ(Ucs2HexToText("01050041"), U("ąA"));
    EXPECT_EQ(Ucs2HexToText("010"), U("Ā"));  // padded to 0100
}

TEST(Ucs2, RefusesLoneSurrogatesUnlessAskedToReplace) {
    EXPECT_EQ(Ucs2HexToText("D83DDE000041"), U("😀A"));
    EXPECT_THROW(Ucs2HexToText("DE00D83D"), EUnicodeCodecException);  // halves in the wrong order
    EXPECT_THROW(Ucs2HexToText("0041D83D"), EUnicodeCodecException);  // cut after the high half
    try {
        Ucs2HexToText("0041D800");
        FAIL();
    } catch (const EUnicodeCodecException& e) {
        EXPECT_STREQ(e.what(),
                     "Surrogate value $d800 found in UCS-2. Values between $D800 and $DFFF are "
                     "reserved for use with UTF-16");
    }
    TUCS2Codec codec;
    codec.ErrorAction = TCodecErrorAction::Replace;
    EXPECT_EQ(codec.Decode({0xDF, 0xFF, 0x00, 0x41, 0x42}), u"\uFFFDA");
    EXPECT_EQ(codec.Decode({0xD8, 0x3D, 0x00, 0x41}), u"\uFFFDA");
}

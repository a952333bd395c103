#include <gtest/gtest.h>

#include "gsm/codecs/address.h"
#include "gsm/codecs/gsmerrors.h"

TEST(Address, SwapsSemiOctetsKeepingAnOddLastCharacter) {
    EXPECT_EQ(SwapSemiOctets("1234567"), "2143657");
    EXPECT_EQ(SwapSemiOctets(""), "");
}

TEST(Address, EncodesInternationalAndNationalNumbers) {
    EXPECT_EQ(EncodeAddress("+123"), "039121F3");
    EXPECT_EQ(EncodeAddress("123456789"), "098121436587F9");
    EXPECT_EQ(EncodeAddress("+48123456789"), "0B918421436587F9");
}

TEST(Address, DropsSeparatorsAndRefusesWhatAnAddressCannotCarry) {
    EXPECT_EQ(EncodeAddress("+48 123-456 (789)"), EncodeAddress("+48123456789"));
    EXPECT_EQ(EncodeAddress("*100#"), "05811A00FB");
    for (const char* bad :
         {"12a3", "+48+123", "12+3", "0 800 FREE", "\xC4\x85", "123456789012345678901", "", "+",
          "-", " ", "( )"})
        EXPECT_THROW(EncodeAddress(bad), EGsmCodecError) << bad;
}

TEST(Address, DecodesSemiOctetsDroppingTheFiller) {
    EXPECT_EQ(SemiOctetsToNumber("21F3"), "123");
    EXPECT_EQ(SemiOctetsToNumber("2143"), "1234");
}

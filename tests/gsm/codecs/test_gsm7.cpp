#include <gtest/gtest.h>

#include "gsm/codecs/gsm7.h"
#include "gsm_test_util.h"

TEST(Gsm7, HelloHelloPacksAndUnpacks) {
    EXPECT_EQ(TextToGsm7Hex(u"hellohello"), "E8329BFD4697D9EC37");
    EXPECT_EQ(UnpackGsm7("E8329BFD4697D9EC37"), "hellohello");
    EXPECT_EQ(Gsm7HexToText("E8329BFD4697D9EC37"), u"hellohello");
}

TEST(Gsm7, ClassifiesByTheCheapestCoding) {
    EXPECT_EQ(ClassifyText(U("abc @£$")), scGsm7);
    EXPECT_EQ(ClassifyText(U("€ [ { | \f")), scGsm7);
    EXPECT_EQ(ClassifyText(U("ą")), scUcs2);
    EXPECT_EQ(ClassifyText(U("µ and Δ")), scUcs2);  // Greek and € are GSM but not 8-bit
    EXPECT_EQ(ClassifyText(U("µ €")), scUcs2);
    EXPECT_EQ(ClassifyText(U("µ and `")), sc8Bit);
    EXPECT_EQ(ClassifyText(U("µ and ą")), scUcs2);
    // The escape code is no text character: sent as a septet it would eat the next one.
    EXPECT_EQ(ClassifyText(u"\u001B("), sc8Bit);
}

TEST(Gsm7, ExtensionCharactersCostTwoSeptets) {
    size_t septets = 0;
    TextToGsm7Hex(U("a€[{"), &septets);
    EXPECT_EQ(septets, 7u);
    EXPECT_EQ(TextToGsm7(U("€")), "\x1B\x65");
    EXPECT_EQ(TextToGsm7(U("ą")), "\x1B\x3F");
    EXPECT_EQ(TextToGsm7(u"\x1B"), "\x1B\x3F");
}

TEST(Gsm7, EveryCharacterOfBothTablesRoundTrips) {
    std::u16string all;
    for (int i = 0; i < 128; ++i)
        if (i != GsmEscape) all += GsmAlphabet[i];
    for (const auto& e : GsmExtensions) all += e.Character;
    const std::string septets = TextToGsm7(all);
    EXPECT_EQ(Gsm7SeptetsToText(UnpackGsm7Septets(PackGsm7(septets), septets.size())), all);
}

TEST(Gsm7, UnpackingDropsAZeroSeptetOfTheLastOctetUnlessCounted) {
    const std::string hex = TextToGsm7Hex(u"abcdefg@");
    EXPECT_EQ(hex.size(), 14u);
    EXPECT_EQ(Gsm7HexToText(hex), u"abcdefg");
    EXPECT_EQ(Gsm7SeptetsToText(UnpackGsm7Septets(hex, 8)), u"abcdefg@");
    EXPECT_EQ(UnpackGsm7Septets(hex, 3), "abc");
}

TEST(Gsm7, UnpackingStopsAtNonHex) {
    EXPECT_EQ(UnpackGsm7("E8329BZZ4697"), "hel");
    EXPECT_EQ(UnpackGsm7("e8329b"), "");
    EXPECT_EQ(UnpackGsm7("E832G"), "he");  // an odd last digit is no octet
    EXPECT_EQ(UnpackGsm7("4G"), "\x04");   // a bad second digit leaves the first alone
}

TEST(Gsm7, EscapeAndZeroRunDecodingRules) {
    const auto decode = [](const std::string& septets) { return Gsm7HexToText(PackGsm7(septets)); };
    EXPECT_EQ(decode("ab\x1B"), u"ab");  // escape as the last septet
    EXPECT_EQ(decode("a\x1B\x1B"
                     "b"),
              u"a b");                      // escape escape is a space
    EXPECT_EQ(decode("a\x1B\x41"), u"a?");  // no such extension
    EXPECT_EQ(decode(std::string("a\0\0\0", 4)), std::u16string(u"a\0", 2));
    EXPECT_EQ(decode(std::string("\0\0\x1B\x0A", 4)), std::u16string(u"\0\f", 2));
    EXPECT_EQ(decode(std::string("\0\0b", 3)), u"@@b");
    EXPECT_EQ(decode(std::string("b\0", 2)), u"b@");
    // With an exact count there is no guessing.
    EXPECT_EQ(Gsm7SeptetsToText(std::string("\0\0\x1B\x0A", 4)), u"@@\f");
}

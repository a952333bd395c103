#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "gsm/codecs/cipherprimitives.h"
#include "gsm/codecs/smscipher.h"

TEST(CipherPrimitives, MatchPublishedVectors) {
    TChaChaKey key;
    for (size_t i = 0; i < key.size(); ++i) key[i] = uint8_t(i);
    const TChaChaNonce nonce{0, 0, 0, 0x09, 0, 0, 0, 0x4a, 0, 0, 0, 0};
    const TChaChaBlock block = ChaCha20Block(key, 1, nonce);
    EXPECT_EQ(block[0], 0x10);
    EXPECT_EQ(block[1], 0xf1);
    EXPECT_EQ(block[15], 0xc4);
    EXPECT_EQ(block[63], 0x4e);
    EXPECT_EQ(block[62], 0x3c);

    TSipKey sipKey;
    for (size_t i = 0; i < sipKey.size(); ++i) sipKey[i] = uint8_t(i);
    EXPECT_EQ(SipHash24(sipKey, ""), 0x726fdb47dd0e0e31ull);
    std::string fifteen;
    for (char c = 0; c < 15; ++c) fifteen += c;
    EXPECT_EQ(SipHash24(sipKey, fifteen), 0xa129ca6149be45e5ull);
}

TEST(SmsCipher, DeciphersBackExactly) {
    for (const std::string& text :
         {std::string(), std::string("Hello"), std::string("Zażółć gęślą jaźń 😀\r\n\"quoted\""),
          std::string(300, 'x')}) {
        const std::string body = EncipherSmsText(text, "1234");
        EXPECT_EQ(DecipherSmsText(body, "1234"), text);
    }
    EXPECT_EQ(DecipherSmsText(EncipherSmsText("no key", ""), ""), "no key");
}

TEST(SmsCipher, BodyUsesOnlySingleSeptetCharactersWithoutSeparators) {
    const std::string body = EncipherSmsText(std::string(200, '\xff') + "@=. ", "k");
    for (const char c : body) EXPECT_TRUE(std::isalnum(uint8_t(c)) || c == '+' || c == '/') << c;
    EXPECT_NE(EncipherSmsText("same", "k"), EncipherSmsText("same", "k"));  // fresh nonce
}

TEST(SmsCipher, KeysAreFourCharacters) {
    EXPECT_EQ(SmsCipherKey("123456"), "1234");
    EXPECT_EQ(SmsCipherKey(" \t"), "    ");
    EXPECT_EQ(SmsCipherKey("\xC4\x85\xF0\x9F\x98\x80"),
              "\xC4\x85\xF0\x9F\x98\x80 ");  // ą😀: 3 units
}

TEST(SmsCipher, WrongKeyOrDamageIsRefused) {
    const std::string body = EncipherSmsText("Meet at noon", "abcd");
    EXPECT_EQ(DecipherSmsText(body, "abce"), std::nullopt);
    EXPECT_EQ(DecipherSmsText(body, ""), std::nullopt);
    for (size_t i = 0; i < body.size(); ++i) {
        std::string damaged = body;
        damaged[i] = damaged[i] == 'A' ? 'B' : 'A';
        EXPECT_EQ(DecipherSmsText(damaged, "abcd"), std::nullopt) << i;
    }
    EXPECT_EQ(DecipherSmsText(body.substr(0, body.size() - 1), "abcd"), std::nullopt);
    EXPECT_EQ(DecipherSmsText(body + "A", "abcd"), std::nullopt);
    EXPECT_EQ(DecipherSmsText(body + " ", "abcd"), std::nullopt);
    EXPECT_EQ(DecipherSmsText("", "abcd"), std::nullopt);
    EXPECT_EQ(DecipherSmsText("@@@@", "abcd"), std::nullopt);
}

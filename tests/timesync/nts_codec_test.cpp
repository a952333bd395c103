// The authenticated-time codecs: the cipher against RFC 5297's own example, the key
// exchange's records, and the NTS extension fields of requests and replies.
#include <gtest/gtest.h>

#include "net/tls/aead.h"
#include "timesync/nts_fields.h"
#include "timesync/nts_records.h"

namespace {
std::string Hex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

std::string Record(uint16_t type, const std::string& body) {
    return {static_cast<char>(type >> 8), static_cast<char>(type & 0xFF),
            static_cast<char>(body.size() >> 8), static_cast<char>(body.size() & 0xFF)};
}

std::string Rec(uint16_t type, const std::string& body) { return Record(type, body) + body; }

std::string Word(uint16_t v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }

const std::string kGoodStart = Rec(0x8001, Word(0)) + Rec(0x8004, Word(15));
const std::string kEnd = Rec(0x8000, "");
}  // namespace

TEST(SivCipher, MatchesTheRfcExampleAndRefusesAnyChange) {
    const std::string key = Hex("fffefdfcfbfaf9f8f7f6f5f4f3f2f1f0f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
    const std::string ad = Hex("101112131415161718191a1b1c1d1e1f2021222324252627");
    const std::string plain = Hex("112233445566778899aabbccddee");
    std::string sealed, opened, why;
    ASSERT_TRUE(SivSeal(key, "", ad, plain, sealed, why)) << why;
    EXPECT_EQ(sealed, Hex("85632d07c6e8f37f950acd320a2ecc9340c02b9690c4dc04daef7f6afe5c"));
    ASSERT_TRUE(SivOpen(key, "", ad, sealed, opened, why)) << why;
    EXPECT_EQ(opened, plain);

    const std::string nonce(16, 'n');
    // Nothing to encrypt, as in every request: the tag alone.
    ASSERT_TRUE(SivSeal(std::string(32, 'k'), std::string(16, 'n'), "associated", "", sealed, why))
        << why;
    EXPECT_EQ(sealed, Hex("fc7e23d7b17818f518625bbef429bbd8"));
    ASSERT_TRUE(SivSeal(key, nonce, ad, "", sealed, why)) << why;
    EXPECT_TRUE(SivOpen(key, nonce, ad, sealed, opened, why));
    std::string flipped = sealed;
    flipped[3] ^= 1;
    EXPECT_FALSE(SivOpen(key, nonce, ad, flipped, opened, why));
    EXPECT_FALSE(SivOpen(key, nonce, ad + "x", sealed, opened, why));
    EXPECT_FALSE(SivOpen(key, std::string(16, 'm'), ad, sealed, opened, why));
    EXPECT_FALSE(SivOpen(key, nonce, ad, sealed.substr(0, 15), opened, why));
    EXPECT_FALSE(SivSeal(key.substr(1), nonce, ad, "", sealed, why));
    EXPECT_FALSE(why.empty());
}

TEST(NtsKeRecords, RequestAsksForNtpV4AndSivCmac) {
    EXPECT_EQ(NtsKeRequest(), kGoodStart + kEnd);
}

TEST(NtsKeRecords, AnswerWithCookiesServerAndPort) {
    const std::string answer = kGoodStart + Rec(5, "cookie-one") + Rec(5, "cookie-two") +
                               Rec(6, "ntp.example") + Rec(7, Word(11123)) + Rec(0x4321, "ignored") +
                               kEnd;
    TNtsKeAnswer parsed;
    std::string why;
    EXPECT_EQ(ParseNtsKeAnswer(answer, parsed, why), TNtsKeParse::Complete) << why;
    EXPECT_EQ(parsed.Cookies, (std::vector<std::string>{"cookie-one", "cookie-two"}));
    EXPECT_EQ(parsed.Server, "ntp.example");
    EXPECT_EQ(parsed.Port, 11123);
    // Every cut of it is only unfinished, never refused or taken.
    for (size_t cut = 0; cut < answer.size(); ++cut)
        EXPECT_EQ(ParseNtsKeAnswer(answer.substr(0, cut), parsed, why), TNtsKeParse::Incomplete)
            << cut;
}

TEST(NtsKeRecords, AnswersThatAreRefused) {
    const std::string cookie = Rec(5, "c");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {Rec(0x8001, Word(0)) + cookie + kEnd, "no cipher"},
        {Rec(0x8004, Word(15)) + cookie + kEnd, "no protocol"},
        {kGoodStart + kEnd, "no cookie"},
        {Rec(0x8001, Word(1)) + Rec(0x8004, Word(15)) + cookie + kEnd, "another protocol"},
        {Rec(0x8001, Word(0) + Word(0)) + Rec(0x8004, Word(15)) + cookie + kEnd, "two protocols"},
        {Rec(0x8001, Word(0)) + Rec(0x8004, Word(16)) + cookie + kEnd, "another cipher"},
        {kGoodStart + Rec(0x8002, Word(1)) + cookie + kEnd, "error record"},
        {kGoodStart + Rec(0x8003, Word(0)) + cookie + kEnd, "warning record"},
        {kGoodStart + Rec(0x8123, "x") + cookie + kEnd, "unknown critical record"},
        {kGoodStart + Rec(5, "") + kEnd, "empty cookie"},
        {kGoodStart + Rec(5, std::string(1025, 'c')) + kEnd, "huge cookie"},
        {kGoodStart + cookie + Rec(6, "bad name") + kEnd, "server name with a blank"},
        {kGoodStart + cookie + Rec(7, Word(0)) + kEnd, "port zero"},
        {kGoodStart + cookie + Rec(7, "x") + kEnd, "short port"},
    };
    for (const auto& [bytes, what] : cases) {
        TNtsKeAnswer parsed;
        std::string why;
        EXPECT_EQ(ParseNtsKeAnswer(bytes, parsed, why), TNtsKeParse::Refused) << what;
        EXPECT_FALSE(why.empty()) << what;
    }
    // An answer that never ends is not waited for without bound.
    TNtsKeAnswer parsed;
    std::string why, endless = kGoodStart;
    while (endless.size() < nts::kMaxAnswerSize) endless += Rec(0x4000, std::string(1000, 'x'));
    EXPECT_EQ(ParseNtsKeAnswer(endless, parsed, why), TNtsKeParse::Refused);
}

TEST(NtsKeRecords, KeepsAtMostEightCookies) {
    std::string answer = kGoodStart;
    for (int i = 0; i < 12; ++i) answer += Rec(5, "c" + std::to_string(i));
    TNtsKeAnswer parsed;
    std::string why;
    ASSERT_EQ(ParseNtsKeAnswer(answer + kEnd, parsed, why), TNtsKeParse::Complete);
    EXPECT_EQ(parsed.Cookies.size(), nts::kMaxCookies);
}

// A server's side of the fields, as far as the tests need one.
class NtsFieldsTest : public ::testing::Test {
protected:
    void SetUp() override {
        FRequest = std::string(48, '\0');
        FRequest[0] = 0x23;
        FFields = {std::string(32, 'u'), "COOKIE-ABC", 2, std::string(32, 'k'), std::string(16, 'n')};
        std::string why;
        ASSERT_TRUE(AppendNtsRequestFields(FRequest, FFields, why)) << why;
    }

    static std::string Field(uint16_t type, std::string value) {
        value.resize((value.size() + 3) & ~size_t{3}, '\0');
        return Word(type) + Word(static_cast<uint16_t>(value.size() + 4)) + value;
    }

    // A reply echoing uid, sealed with key over everything before its authenticator.
    static std::string Reply(const std::string& uid, const std::string& key,
                             const std::string& plain) {
        std::string reply(48, '\0');
        reply[0] = 0x24;
        reply[1] = 2;
        reply += Field(0x0104, uid);
        const std::string nonce(16, 's');
        std::string sealed, why;
        EXPECT_TRUE(SivSeal(key, nonce, reply, plain, sealed, why));
        return reply + Field(0x0404, Word(16) + Word(static_cast<uint16_t>(sealed.size())) +
                                         nonce + sealed);
    }

    std::string FRequest;
    TNtsRequestFields FFields;
    const std::string FServerKey = std::string(32, 's');
};

TEST_F(NtsFieldsTest, RequestCarriesIdCookiePlaceholdersAndASealOverThem) {
    // 48 + uid 36 + cookie 16 + two placeholders 16 each + authenticator 4+4+16+16.
    ASSERT_EQ(FRequest.size(), 48u + 36 + 16 + 32 + 40);
    EXPECT_EQ(FRequest.substr(48, 4), Word(0x0104) + Word(36));
    EXPECT_EQ(FRequest.substr(84, 14), Word(0x0204) + Word(16) + "COOKIE-ABC");
    EXPECT_EQ(FRequest.substr(100, 4), Word(0x0304) + Word(16));
    EXPECT_EQ(FRequest.substr(104, 12), std::string(12, '\0'));
    const size_t auth = 132;
    EXPECT_EQ(FRequest.substr(auth, 8), Word(0x0404) + Word(40) + Word(16) + Word(16));
    std::string plain, why;
    EXPECT_TRUE(SivOpen(FFields.ClientKey, FFields.Nonce, FRequest.substr(0, auth),
                        FRequest.substr(auth + 24, 16), plain, why));
}

TEST_F(NtsFieldsTest, AuthenticReplyGivesItsNewCookies) {
    std::vector<std::string> cookies;
    const std::string reply = Reply(FFields.UniqueId, FServerKey,
                                    Field(0x0204, "NEW-1") + Field(0x0204, "NEW-2xyz"));
    ASSERT_EQ(CheckNtsReply(reply, FFields.UniqueId, FServerKey, cookies),
              TNtsReplyVerdict::Authentic);
    // A cookie's field is padded to four bytes; what the server sent stands as it came.
    EXPECT_EQ(cookies, (std::vector<std::string>{std::string("NEW-1\0\0\0", 8), "NEW-2xyz"}));
    // Whatever follows the authenticator is not vouched for and changes nothing.
    EXPECT_EQ(CheckNtsReply(reply + Field(0x0204, "sneaky"), FFields.UniqueId, FServerKey, cookies),
              TNtsReplyVerdict::Authentic);
}

TEST_F(NtsFieldsTest, AnyChangeOnThePathMakesAReplyForged) {
    std::vector<std::string> cookies;
    const std::string reply = Reply(FFields.UniqueId, FServerKey, Field(0x0204, "NEW-1"));
    for (size_t at = 0; at < reply.size(); ++at) {
        std::string altered = reply;
        altered[at] ^= 0x10;
        EXPECT_NE(CheckNtsReply(altered, FFields.UniqueId, FServerKey, cookies),
                  TNtsReplyVerdict::Authentic)
            << "byte " << at;
    }
    EXPECT_EQ(CheckNtsReply(Reply(std::string(32, 'x'), FServerKey, ""), FFields.UniqueId,
                            FServerKey, cookies),
              TNtsReplyVerdict::Forged);
    EXPECT_EQ(CheckNtsReply(Reply(FFields.UniqueId, std::string(32, 'z'), ""), FFields.UniqueId,
                            FServerKey, cookies),
              TNtsReplyVerdict::Forged);
    EXPECT_EQ(CheckNtsReply(reply.substr(0, 48), FFields.UniqueId, FServerKey, cookies),
              TNtsReplyVerdict::Forged);
    EXPECT_EQ(CheckNtsReply(reply.substr(0, reply.size() - 4), FFields.UniqueId, FServerKey,
                            cookies),
              TNtsReplyVerdict::Forged);
    EXPECT_TRUE(cookies.empty());
}

TEST_F(NtsFieldsTest, NakIsOnlyTakenWithOurIdentifier) {
    std::string nak(48, '\0');
    nak[0] = 0x24;
    nak.replace(12, 4, "NTSN");
    std::vector<std::string> cookies;
    EXPECT_EQ(CheckNtsReply(nak + Field(0x0104, FFields.UniqueId), FFields.UniqueId, FServerKey,
                            cookies),
              TNtsReplyVerdict::Nak);
    EXPECT_EQ(CheckNtsReply(nak + Field(0x0104, std::string(32, 'x')), FFields.UniqueId,
                            FServerKey, cookies),
              TNtsReplyVerdict::Forged);
    EXPECT_EQ(CheckNtsReply(nak, FFields.UniqueId, FServerKey, cookies), TNtsReplyVerdict::Forged);
}

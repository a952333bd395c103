// Random texts through the planner and back through the decoder, part by part.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "gsm/codecs/gsm7.h"
#include "gsm/codecs/partplanner.h"
#include "gsm/codecs/smsdecoder.h"
#include "gsm/codecs/utf.h"

namespace {

class TTextMaker {
public:
    explicit TTextMaker(uint32_t seed) : FRandom(seed) {}

    unsigned Below(unsigned n) { return static_cast<unsigned>(FRandom() % n); }

    // Characters of the wanted coding, one at least that forces it; line breaks
    // only as CR LF (the decoder makes every line break CR LF). '@' and the
    // escape-coded characters come often: they are the septets that go wrong.
    std::u16string Make(TSmsCoding coding, size_t length) {
        std::u16string text;
        while (text.size() < length) {
            const unsigned pick = Below(20);
            if (pick == 0)
                text += u"\r\n";
            else if (pick < 3)
                text += u'@';
            else if (pick < 5)
                text += GsmExtensions[Below(10)].Character;
            else
                text += Ordinary(coding);
        }
        size_t at = Below(static_cast<unsigned>(text.size()));
        while (at > 0 && text[at - 1] == u'\r') --at;  // CR LF stays a pair
        if (coding == sc8Bit) text.insert(at, 1, u'\u00B5');
        if (coding == scUcs2) text.insert(at, 1, u'\u0105');
        return text;
    }

private:
    char16_t Ordinary(TSmsCoding coding) {
        for (;;) {
            const char16_t c = coding == scGsm7   ? GsmAlphabet[Below(128)]
                               : coding == sc8Bit ? static_cast<char16_t>(Below(256))
                                                  : static_cast<char16_t>(Below(0xD800));
            if (c != u'\r' && c != u'\n' && c != GsmEscape) return c;
        }
    }

    std::mt19937 FRandom;
};

std::string Field(const std::string& line, int index) {
    size_t start = 0;
    for (int k = 0; k < index; ++k) start = line.find(',', start) + 1;
    return line.substr(start, line.find(',', start) - start);
}

std::string Prefix(int group, int groups) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "<%.2dz%.2d>", group, groups);
    return buf;
}

// Decodes every part line, checks its PDU and header, and joins the texts.
std::u16string Reassemble(const TStringList& lines, int mergeMax, uint8_t firstReference,
                          const std::string& number) {
    const int n = static_cast<int>(lines.Count());
    const int groups = mergeMax == 1 ? n : (n - 1) / mergeMax + 1;
    const bool numbered = lines.Count() > 0 && lines[0].find("\"<01z") != std::string::npos;
    std::u16string joined;
    for (int p = 1; p <= n; ++p) {
        const std::string& line = lines[static_cast<size_t>(p - 1)];
        const std::string pdu = Field(line, 1);
        TSMS sms;
        sms.ParsePdu(pdu);
        EXPECT_EQ(sms.GetSender(), number);
        std::u16string text = sms.GetText();
        EXPECT_EQ(std::to_string(sms.TpduLength()), Field(line, 0));
        EXPECT_LE(sms.TpduLength(), MaxTpduOctets);
        const TConcatInfo info = DecodeConcatInfo(pdu);
        const int group = (p - 1) / mergeMax;
        if (sms.HasHeader()) {
            EXPECT_EQ(info.Reference, (firstReference + group) & 0xFF);
            EXPECT_EQ(info.Part, (p - 1) % mergeMax + 1);
            EXPECT_EQ(info.Total, std::min(mergeMax, n - group * mergeMax));
        }
        if (numbered && (mergeMax == 1 || p % mergeMax == 1)) {
            const std::u16string prefix =
                Utf8ToUtf16(Prefix(mergeMax == 1 ? p : group + 1, groups));
            EXPECT_EQ(text.substr(0, prefix.size()), prefix);
            text.erase(0, prefix.size());
        }
        joined += text;
    }
    return joined;
}

}  // namespace

TEST(RoundTrip, RandomTextsComeBackWhole) {
    TTextMaker maker(20240601);
    const char* numbers[] = {"+48123456789", "123456789", "+123", "+4412345678901234"};
    const TSmsCoding codings[] = {scGsm7, sc8Bit, scUcs2};
    int checked = 0, parts = 0;
    for (int round = 0; round < 500; ++round) {
        const TSmsCoding coding = codings[round % 3];
        const std::u16string text =
            maker.Make(coding, 1 + maker.Below(round % 10 == 0 ? 1400 : 480));
        const int mergeMax = 1 + static_cast<int>(maker.Below(4));
        const std::string number = numbers[maker.Below(4)];
        const bool forceUcs2 = coding == scGsm7 && maker.Below(4) == 0;
        uint8_t reference = static_cast<uint8_t>(maker.Below(256));
        const uint8_t firstReference = reference;
        TStringList lines;
        const int n = PlanMessageParts(number, text, "m", mergeMax, maker.Below(2) == 0, forceUcs2,
                                       maker.Below(2) == 0, reference, lines);
        if (n == 0) {
            EXPECT_TRUE(
                std::all_of(text.begin(), text.end(), [](char16_t c) { return c <= u' '; }));
            continue;
        }
        ASSERT_EQ(static_cast<size_t>(n), lines.Count());
        EXPECT_EQ(Reassemble(lines, mergeMax, firstReference, number), text) << "round " << round;
        ++checked;
        parts += n;
    }
    EXPECT_GT(checked, 450);
    RecordProperty("TextsChecked", checked);
    std::printf("round trips: %d random texts in %d parts\n", checked, parts);
}

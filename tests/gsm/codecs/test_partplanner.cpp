#include <gtest/gtest.h>

#include "gsm/codecs/partplanner.h"
#include "gsm/codecs/smsdecoder.h"
#include "gsm_test_util.h"

namespace {

struct TPlan {
    int Count = 0;
    uint8_t Reference = 0;
    TStringList Lines;
};

TPlan Plan(const std::u16string& text, int mergeMax, uint8_t reference = 7,
           const std::string& number = "123456789", bool forceUcs2 = false) {
    TPlan plan;
    plan.Reference = reference;
    plan.Lines.Add("stale");
    plan.Count = PlanMessageParts(number, text, "m1", mergeMax, false, forceUcs2, false,
                                  plan.Reference, plan.Lines);
    return plan;
}

// Field i (0-based) of a part line; the quoted text holds no commas in these tests.
std::string LineField(const std::string& line, int i) {
    size_t start = 0;
    for (int k = 0; k < i; ++k) start = line.find(',', start) + 1;
    return line.substr(start, line.find(',', start) - start);
}

std::string Header(const std::string& line) {
    TSMS sms;
    sms.ParsePdu(LineField(line, 1));
    sms.GetText();
    return sms.Header();
}

}  // namespace

TEST(PartPlanner, BlankTextGivesNoParts) {
    const TPlan plan = Plan(u" \r\n\t ", 3);
    EXPECT_EQ(plan.Count, 0);
    EXPECT_TRUE(plan.Lines.Empty());
}

TEST(PartPlanner, OneFullPduWithoutHeader) {
    const TPlan plan = Plan(std::u16string(160, u'x'), 3);
    ASSERT_EQ(plan.Count, 1);
    const std::string& line = plan.Lines[0];
    EXPECT_EQ(LineField(line, 0), "153");
    EXPECT_EQ(LineField(line, 1).substr(0, 4), "0011");
    EXPECT_EQ(line.substr(line.size() - 19), ",\"m1\",1,1,123456789");
    EXPECT_EQ(plan.Reference, 7);
}

TEST(PartPlanner, ChainedPartsShareAReference) {
    const TPlan plan = Plan(std::u16string(161, u'x'), 3);
    ASSERT_EQ(plan.Count, 2);
    EXPECT_EQ(Header(plan.Lines[0]), "050003070201");
    EXPECT_EQ(Header(plan.Lines[1]), "050003070202");
    EXPECT_EQ(LineField(plan.Lines[0], 2), "\"" + std::string(153, 'x') + "\"");
    EXPECT_EQ(plan.Reference, 8);
}

TEST(PartPlanner, MergeMaxOneNumbersIndependentPdus) {
    const TPlan plan = Plan(std::u16string(161, u'x'), 1);
    ASSERT_EQ(plan.Count, 2);
    EXPECT_EQ(Header(plan.Lines[0]), "");
    EXPECT_EQ(LineField(plan.Lines[0], 2).substr(0, 8), "\"<01z02>");
    EXPECT_EQ(LineField(plan.Lines[1], 2).substr(0, 8), "\"<02z02>");
    EXPECT_EQ(plan.Reference, 7);
}

TEST(PartPlanner, GroupsAreNumberedAndALoneLastPartHasNoHeader) {
    const TPlan plan = Plan(std::u16string(153 * 3 + 10, u'x'), 3);
    ASSERT_EQ(plan.Count, 4);
    EXPECT_EQ(Header(plan.Lines[0]), "050003070301");
    EXPECT_EQ(Header(plan.Lines[2]), "050003070303");
    EXPECT_EQ(Header(plan.Lines[3]), "");
    EXPECT_EQ(LineField(plan.Lines[0], 2).substr(0, 8), "\"<01z02>");
    EXPECT_EQ(LineField(plan.Lines[1], 2).substr(0, 2), "\"x");
    EXPECT_EQ(LineField(plan.Lines[3], 2).substr(0, 8), "\"<02z02>");
    EXPECT_EQ(plan.Reference, 8);
}

TEST(PartPlanner, ReferenceWrapsModulo256) {
    const TPlan plan = Plan(std::u16string(153 * 4, u'x'), 2, 255);
    ASSERT_EQ(plan.Count, 5);
    EXPECT_EQ(Header(plan.Lines[1]).substr(6, 2), "FF");
    EXPECT_EQ(Header(plan.Lines[2]).substr(6, 2), "00");
    EXPECT_EQ(Header(plan.Lines[4]), "");  // alone in the third group
    EXPECT_EQ(plan.Reference, 1);
}

TEST(PartPlanner, UserDataNeverExceeds140OctetsForShortNumbers) {
    for (const bool ucs2 : {false, true}) {
        const TPlan plan = Plan(std::u16string(400, u'x'), 2, 0, "+123", ucs2);
        for (const auto& entry : plan.Lines) {
            TSMS sms;
            sms.ParsePdu(LineField(entry.Text, 1));
            EXPECT_LE(sms.TpduLength() - 10, 140) << entry.Text;
        }
        EXPECT_EQ(LineField(plan.Lines[0], 2).size(), ucs2 ? 67u + 2 : 153u + 2);
    }
}

TEST(PartPlanner, LineEscapesAndCodingsOfParts) {
    const TPlan plan = Plan(U("say \"hi\"\r\nµ"), 2);
    ASSERT_EQ(plan.Count, 1);
    EXPECT_EQ(LineField(plan.Lines[0], 2), "\"say %~hi%~%nµ\"");
    EXPECT_EQ(Plan(std::u16string(100, u'\u0105'), 2).Count, 2);  // 67 + 33 UCS-2 characters
}

TEST(PartPlanner, NeverSplitsALineBreak) {
    const std::u16string text = std::u16string(152, u'x') + u"\r\n" + std::u16string(20, u'y');
    const TPlan plan = Plan(text, 2);
    ASSERT_EQ(plan.Count, 2);
    EXPECT_EQ(LineField(plan.Lines[0], 2), "\"" + std::string(152, 'x') + "\"");
}

TEST(PartPlanner, NeverSplitsASurrogatePair) {
    // 66 + the high half would fill the first part's 67 UCS-2 code units.
    const std::u16string text = std::u16string(66, u'\u0105') + U("😀") + u"tail";
    const TPlan plan = Plan(text, 2);
    ASSERT_EQ(plan.Count, 2);
    std::u16string joined;
    for (const auto& entry : plan.Lines) {
        TSMS sms;
        sms.ParsePdu(LineField(entry.Text, 1));
        joined += sms.GetText();
    }
    EXPECT_EQ(joined, text);
    EXPECT_EQ(LineField(plan.Lines[1], 2), "\"😀tail\"");
}

TEST(PartPlanner, OddSettingsFailSoftly) {
    EXPECT_EQ(Plan(std::u16string(200, u'x'), 0).Count, 2);  // merge max below 1 counts as 1
    EXPECT_EQ(Plan(u"abc", 2, 0, std::string(400, '1')).Count, 0);
    uint8_t reference = 0;
    TStringList parts;
    std::string error;
    EXPECT_EQ(PlanMessageParts("+48 600 CALL ME", u"hi", "m", 2, false, false, false, reference,
                               parts, &error),
              0);
    EXPECT_NE(error.find("+48 600 CALL ME"), std::string::npos);
    TPartOptions options;
    options.Number = "123456789";
    EXPECT_EQ(CountMessageParts(options, std::u16string(161, u'x'), true), 2);
}

#include <gtest/gtest.h>

#include "event_lines.h"
#include "gsm_tool_options.h"
#include "part_joiner.h"

namespace {

bool Parse(const std::vector<std::string>& args, TGsmToolOptions& o, std::string& error) {
    o = TGsmToolOptions{};
    error.clear();
    return ParseGsmToolOptions(args, o, error);
}

}  // namespace

TEST(GsmToolOptions, CommandsWordsAndSwitchesAnywhere) {
    TGsmToolOptions o;
    std::string error;
    ASSERT_TRUE(Parse(
        {"send", "--port", "/dev/ttyUSB0", "600", "--flash", "hi there", "--key=abcd"}, o, error));
    EXPECT_EQ(o.Command, TGsmToolOptions::Send);
    EXPECT_EQ(o.Number, "600");
    EXPECT_EQ(o.Text, "hi there");
    EXPECT_TRUE(o.Flash && o.HasKey);
    EXPECT_EQ(o.Key, "abcd");
    ASSERT_TRUE(Parse({"--port=p", "send", "1", "--", "--not an option"}, o, error));
    EXPECT_EQ(o.Text, "--not an option");
    ASSERT_TRUE(Parse({"--help"}, o, error));
    EXPECT_TRUE(o.Help);
    for (const std::vector<std::string>& bad : {std::vector<std::string>{"identify"},
                                                {"--port", "p"},
                                                {"--port", "p", "dial"},
                                                {"--port", "p", "send", "1"},
                                                {"--port", "p", "identify", "--json"},
                                                {"--port", "p", "listen", "--seconds", "-3"},
                                                {"--port", "p", "--baud", "fast", "at", "AT"},
                                                {"--port", "p", "--bogus", "identify"},
                                                {"--port", "p", "--at-timeout", "100", "at", "AT"},
                                                {"--port", "p", "send", "1", "x", "--merge-max", "1"},
                                                {"--port", "p", "listen", "--merge-max", "9"},
                                                {"--port", "p", "send", "1", "x", "--keep"},
                                                {"--port"}})
        EXPECT_FALSE(Parse(bad, o, error)) << bad.back();
    EXPECT_EQ(error, "--port wants a value");
}

TEST(GsmToolOptions, TimeOutMergeKeepAndReconnect) {
    TGsmToolOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"--port", "p", "--at-timeout", "5000", "send", "1", "x", "--merge-max",
                       "255", "--reconnect-for", "5"},
                      o, error))
        << error;
    EXPECT_EQ(o.AtTimeoutMs, 5000);
    EXPECT_EQ(o.MergeMax, 255);
    EXPECT_EQ(o.ReconnectSeconds, 5);
    ASSERT_TRUE(Parse({"--port", "p", "listen", "--keep"}, o, error)) << error;
    EXPECT_TRUE(o.Keep);
}

// Whatever a modem sends, the terminal gets valid UTF-8 and no control characters.
TEST(GsmToolEvents, NoiseReachesTheTerminalEscaped) {
    EXPECT_EQ(TerminalText("Zażółć \t ok"), "Zażółć \t ok");
    EXPECT_EQ(TerminalText("R01\r\nR02"), "R01 / R02");
    EXPECT_EQ(TerminalText("#$%\x7F\x01@\x1B[2J"), "#$%\\x7F\\x01@\\x1B[2J");
    EXPECT_EQ(TerminalText("a\xFF\xC4" "b\xED\xA0\x80"), "a\uFFFD\uFFFDb\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(TerminalText("\xC2\x85"), "\\x85");  // a C1 control
    EXPECT_EQ(JsonString("a\xFF\x01"), "\"a\uFFFD\\u0001\"");
    EXPECT_EQ(EventLine(ErrorEvent("modem gone"), true),
              "{\"event\":\"error\",\"message\":\"modem gone\"}");
}

TEST(GsmToolEvents, PlainAndJsonLines) {
    const TToolEvent sms = SmsEvent("+48", "2025-01-20 12:34:56", "a \"b\"\r\nc\\", 7, 2, true);
    EXPECT_EQ(EventLine(sms, false),
              "sms from +48 at 2025-01-20 12:34:56 (2 parts, partial): a \"b\"\\nc\\");
    EXPECT_EQ(EventLine(sms, true),
              "{\"event\":\"sms\",\"from\":\"+48\",\"timestamp\":\"2025-01-20 12:34:56\","
              "\"text\":\"a \\\"b\\\"\\u000d\\u000ac\\\\\",\"reference\":7,\"parts\":2,"
              "\"partial\":true}");
    EXPECT_EQ(EventLine(SmsEvent("+48", "t", "x", 7, 3, true, 2), false),
              "sms from +48 at t (part 2 of 3 parts, partial): x");
    EXPECT_EQ(EventLine(BatteryEvent(80, true), true),
              "{\"event\":\"battery\",\"level\":80,\"ac\":true}");
    EXPECT_EQ(EventLine(CallEvent(false, 3), false), "call none");
}

TEST(GsmToolJoiner, PartsJoinedOnceWholeOrPartialAfterTheWait) {
    TPartJoiner j;
    EXPECT_TRUE(j.Add("A", "t", "two", 5, 2, 3, 0).empty());
    EXPECT_TRUE(j.Add("A", "t", "TWO", 5, 2, 3, 0).empty());  // repeated: first copy kept
    EXPECT_TRUE(j.Add("B", "t", "other", 5, 1, 3, 0).empty());
    EXPECT_TRUE(j.Add("A", "t", "one", 5, 1, 3, 0).empty());
    const auto whole = j.Add("A", "t", "three", 5, 3, 3, 0);
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0].Text, "onetwothree");
    EXPECT_FALSE(whole[0].Partial);
    EXPECT_TRUE(j.Expired(TPartJoiner::WaitMs).empty());
    const auto late = j.Expired(TPartJoiner::WaitMs + 1);
    ASSERT_EQ(late.size(), 1u);
    EXPECT_EQ(late[0].From, "B");
    EXPECT_TRUE(late[0].Partial);
    EXPECT_EQ(late[0].Part, 1);
    EXPECT_EQ(j.Add("C", "t", "odd", 1, 4, 3, 0).at(0).Text, "odd");  // part beyond its total
    EXPECT_EQ(j.Add("C", "t", "single", -1, -1, 1, 0).at(0).Parts, 1);
    j.Add("D", "t", "first", 9, 1, 2, 0);
    EXPECT_EQ(j.Flush().size(), 1u);
    EXPECT_EQ(j.Waiting(), 0u);
}

// Reading the probes' and queries' replies, odd and absurd ones included.
#include "gsm/modemreplies.h"

#include <gtest/gtest.h>

#include "gsm/smspartline.h"

TEST(ModemReplies, NewMessageRoutingFromTheOfferedValues) {
    const std::string typical = "\r\n+CNMI: (0-2),(0-3),(0,2),(0-2),(0,1)\r\n\r\nOK\r\n";
    EXPECT_EQ(NewMessageRoutingCommand(typical, true), "AT+CNMI=2,1,0,1,1");
    EXPECT_EQ(NewMessageRoutingCommand(typical, false), "AT+CNMI=2,2,0,1,1");
    EXPECT_EQ(NewMessageRoutingCommand("+CNMI: (0,1),(0),(0),(0),(0)", true), "AT+CNMI=1,0,0,0,0");
    // Unbalanced parentheses, too few groups, absurd ranges.
    EXPECT_EQ(NewMessageRoutingCommand("+CNMI: (0-2),(0-3,(0,2),(0-2),(0,1)", true), "");
    EXPECT_EQ(NewMessageRoutingCommand("+CNMI: (0-2),(0-3)", true), "");
    EXPECT_EQ(
        NewMessageRoutingCommand("+CNMI: (0-99999999999),(5-2000000000),(0),(x-y),(0,1)", true),
        "AT+CNMI=0,0,0,0,1");
}

TEST(ModemReplies, HighestValueOfTheFirstGroup) {
    EXPECT_EQ(HighestFirstGroupValue("+CMMS: (0-2)", "+CMMS:"), 1);
    EXPECT_EQ(HighestFirstGroupValue("+CLIP: (0,1)", "+CLIP:"), 1);
    EXPECT_EQ(HighestFirstGroupValue("+CLIP: (0)", "+CLIP:"), 0);
    EXPECT_EQ(HighestFirstGroupValue("+CLIP: 0,1", "+CLIP:"), -1);
    EXPECT_EQ(HighestFirstGroupValue("OK", "+CLIP:"), -1);
}

TEST(ModemReplies, StorageAndPhoneBookSizes) {
    int used = -1, capacity = -1;
    EXPECT_TRUE(ReadStorageUse("\r\n+CPMS: 3,30,3,30,3,30\r\n\r\nOK\r\n", used, capacity));
    EXPECT_EQ(used, 3);
    EXPECT_EQ(capacity, 30);
    EXPECT_TRUE(ReadStorageUse("+CPMS: \"ME\",1,100,\"SM\",0,30", used, capacity));
    EXPECT_EQ(capacity, 100);
    EXPECT_FALSE(ReadStorageUse("+CPMS: 99999999999,-5", used, capacity));
    EXPECT_FALSE(ReadStorageUse("+CPMS:", used, capacity));

    TPhoneBookRange r;
    EXPECT_TRUE(ReadPhoneBookRange("+CPBR: (1-250),40,18", r));
    EXPECT_EQ(r.First, 1);
    EXPECT_EQ(r.Last, 250);
    EXPECT_EQ(r.NameLength, 18);
    EXPECT_FALSE(ReadPhoneBookRange("+CPBR: (250-1),40,18", r));
    EXPECT_FALSE(ReadPhoneBookRange("+CPBR: (1-99999999999)", r));
    int total = 0;
    EXPECT_TRUE(ReadPhoneBookUse("+CPBS: \"SM\",2,250", used, total));
    EXPECT_EQ(total, 250);
    EXPECT_FALSE(ReadPhoneBookUse("+CPBS: \"SM\"", used, total));
}

TEST(ModemReplies, LinesOfAReply) {
    const std::string reply = "\r\nTIKTAAL\r\n\r\nOK\r\n";
    EXPECT_EQ(ReplyLine(reply, 1), "TIKTAAL");
    EXPECT_EQ(ReplyLine(reply, 9), "");
    EXPECT_EQ(WithoutFinalOk("\r\nRevision:1\r\n\r\nOK\r\n"), "\r\nRevision:1\r\n");
}

TEST(PartLines, FieldsOfAPlannedLine) {
    TPartLine p;
    ASSERT_TRUE(ParsePartLine("23,0011000B91,\"a%nb%~c, d\",\"m,\"\"k\",2,3,+48600100200", p));
    EXPECT_EQ(p.TpduLength, 23);
    EXPECT_EQ(p.Pdu, "0011000B91");
    EXPECT_EQ(p.PlainText(), "a\r\nb\"c, d");
    EXPECT_EQ(p.Marker, "m,\"\"k");
    EXPECT_EQ(p.PartNumber, 2);
    EXPECT_EQ(p.PartCount, 3);
    EXPECT_EQ(p.Number, "+48600100200");
    for (const char* bad :
         {"", "x,00,\"a\",\"m\",1,1,1", "23,00", "23,00,\"a\",\"m\",1,1", "23,,\"a\",\"m\",1,1,1"})
        EXPECT_FALSE(ParsePartLine(bad, p)) << bad;
}

// The modem thread under a real phone's load, against the simulated modem: answers far
// over any one read (a full listing, a big phone book, a burst of messages), storage that
// fills, a modem without phone storage.
#include <set>

#include "gsm_link_fixture.h"

namespace {

class GsmLoadTest : public GsmLinkTest {
protected:
    void SetUp() override {
        GsmLinkTest::SetUp();
        Gsm->SetOnNewSMS([this](TComponent*, const std::string&, const std::string& text,
                                const std::string&, const std::string&, bool, const TUDHinfo&,
                                const std::string&, bool) { Texts.push_back(text); });
        Gsm->SetOnGetPhoneBook([this](TComponent*) { ++PhoneBookEvents; });
    }
    // How many of the generated messages first..first+count-1 came, each counted once.
    int Distinct(int first, int count) const {
        std::set<std::string> seen(Texts.begin(), Texts.end());
        int n = 0;
        for (int i = first; i < first + count; ++i) n += seen.count(GeneratedMessageText(i));
        return n;
    }

    std::vector<std::string> Texts;
    int PhoneBookEvents = 0;
};

}  // namespace

// 250 full-length unread messages make a listing of about 85 KB: every one is handed out
// once, and each is deleted from the modem once it was.
TEST_F(GsmLoadTest, AListingOfAnySizeComesWholeAndReadMessagesAreDeleted) {
    Options.StoredMessages = 250;
    Gsm->SetDeleteSMSafterRead(true);
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(WaitUntil([&] { return Texts.size() >= 250; }, 60000)) << Texts.size();
    EXPECT_EQ(Distinct(0, 250), 250);
    EXPECT_TRUE(WaitUntil([&] { return Modem->StoredCount("SM") == 0; }, 30000))
        << Modem->StoredCount("SM");
    EXPECT_EQ(Texts.size(), 250u);
    EXPECT_EQ(Disconnects, 0);
}

// 400 messages routed at once (about 140 KB) arrive while the modem thread listens and
// while it waits for the answer to a command it queued itself.
TEST_F(GsmLoadTest, ABurstOfRoutedMessagesLosesNone) {
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(WaitUntil([&] { return Modem->CountReceived("AT+CPBR=1,") == 2; }));
    Modem->Control("burst 400");
    ASSERT_TRUE(WaitUntil([&] { return Texts.size() >= 400; }, 60000)) << Texts.size();
    EXPECT_EQ(Distinct(0, 400), 400);
    // A second burst while a user command waits for its answer.
    Gsm->SetATCommand("AT+COPS?");
    Modem->Control("burst 300 400");
    ASSERT_TRUE(WaitUntil([&] { return Texts.size() >= 700; }, 60000)) << Texts.size();
    EXPECT_EQ(Distinct(400, 300), 300);
    EXPECT_EQ(Disconnects, 0);
}

// 500 names in UCS-2 make a phone-book answer of about 90 KB.
TEST_F(GsmLoadTest, ABigPhoneBookIsReadWholeAndAnnouncedOnce) {
    Options.PhoneBookEntries = 500;
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(WaitUntil([&] { return PhoneBookEvents >= 2; }, 30000)) << PhoneBookEvents;
    const TStringList book = Gsm->PhoneBook();
    EXPECT_EQ(book.Count(), 2u + 2u + 500u + 1u);  // heads, two entries, 500 more, "Dom"
    EXPECT_EQ(book[502], "502;+48601100499;Kontakt 499 Żółw");
    EXPECT_EQ(PhoneBookEvents, 2);  // once per book
    EXPECT_EQ(Disconnects, 0);
}

// A full SIM refuses what the network delivers; deleting what was read keeps it from
// filling, so 12 messages pass through a SIM of 4.
TEST_F(GsmLoadTest, ReadMessagesLeaveRoomOnASmallSim) {
    Options.SimCapacity = 4;
    Gsm->SetDeleteSMSafterRead(true);
    ASSERT_TRUE(Connect());
    // Three at a time, each three read and deleted before the next come.
    for (int i = 0; i < 12; i += 3) {
        for (int j = i; j < i + 3; ++j) Modem->Control("deliver " + GeneratedMessagePdu(j));
        ASSERT_TRUE(WaitUntil([&] { return Texts.size() == static_cast<size_t>(i + 3); }, 10000))
            << i;
        ASSERT_TRUE(WaitUntil([&] { return Modem->StoredCount("SM") == 0; }, 10000)) << i;
    }
    EXPECT_EQ(Distinct(0, 12), 12);
    EXPECT_EQ(Modem->RefusedDeliveries(), 0);
}

// Without phone storage the SIM alone is read, and the link stays up.
TEST_F(GsmLoadTest, AModemWithoutPhoneStorageStaysConnected) {
    Options.NoPhoneStorage = true;
    Options.ErrorCodes = true;
    ASSERT_TRUE(Connect());
    EXPECT_LT(Gsm->SMSPhoneCapacity(), 0);
    ASSERT_TRUE(WaitUntil([&] { return Modem->CountReceived("AT+CMGL=0") >= 1; }));
    Modem->Control("deliver " + GeneratedMessagePdu(7));
    ASSERT_TRUE(WaitUntil([&] { return Texts.size() == 1; }, 10000));
    EXPECT_EQ(Texts[0], GeneratedMessageText(7));
    EXPECT_TRUE(WaitUntil([&] { return Modem->CountReceived("AT+CMGL=0") >= 2; }));
    EXPECT_EQ(Modem->CountReceived("AT+CPMS=\"ME\""), 1);  // asked once, at identification
    EXPECT_EQ(Disconnects, 0);
    EXPECT_EQ(Connects, 1);
}

// The modem's reports through the thread into the component's events, against the
// simulated modem.
#include "gsm_link_fixture.h"
#include "codecs/gsm_test_util.h"

namespace {

// "Hello" from +48123456789.
const std::string HelloPdu = DeliverPdu("04", "00", "05", "C8329BFD06");

class GsmDispatchTest : public GsmLinkTest {
protected:
    void SetUp() override {
        GsmLinkTest::SetUp();
        Gsm->SetOnNewSMS([this](TComponent*, const std::string&, const std::string& text,
                                const std::string& from, const std::string&, bool, const TUDHinfo&,
                                const std::string&, bool report) {
            Events.push_back((report ? "report " : "sms ") + from + "|" + text);
        });
        Gsm->SetOnRing(
            [this](TComponent*, const std::string& number) { Events.push_back("ring " + number); });
        Gsm->SetOnCallBusy([this](TComponent*, bool busy, TCallStatus status) {
            Events.push_back("call " + std::to_string(busy) + " " + std::to_string(status));
        });
    }
    bool Seen(const std::string& event, int timeoutMs = 5000) {
        return WaitUntil(
            [&] { return std::find(Events.begin(), Events.end(), event) != Events.end(); },
            timeoutMs);
    }
    std::vector<std::string> Events;
};

}  // namespace

TEST_F(GsmDispatchTest, RoutedAndStoredMessagesRingsAndCalls) {
    Options.StoredPdus = {HelloPdu};
    ASSERT_TRUE(Connect());
    EXPECT_TRUE(Seen("sms +48123456789|Hello"));  // the listing after connecting
    Modem->Control("cmt " + DeliverPdu("04", "00", "03", "61F118"));
    EXPECT_TRUE(Seen("sms +48123456789|abc"));
    Modem->Control("ring 600100200");
    Modem->Control("ring 600100200");
    Modem->Control("ciev 1,1");
    EXPECT_TRUE(Seen("call 1 0"));
    EXPECT_EQ(std::count(Events.begin(), Events.end(), "ring +48600100200"), 1);
    EXPECT_EQ(Gsm->Received.TelNr, "+48123456789");
}

TEST_F(GsmDispatchTest, CallIndicatorsNumberedAsTheModemListsThem) {
    Options.Indicators = {"battchg", "signal", "service", "call", "roam", "smsfull", "callsetup"};
    ASSERT_TRUE(Connect());
    Modem->Control("ciev 1,1");  // the battery level here, not a call
    Modem->Control("ciev 7,2");
    EXPECT_TRUE(Seen("call 1 1"));
    Modem->Control("ciev 4,0");
    EXPECT_TRUE(Seen("call 0 3"));
    EXPECT_EQ(std::count_if(Events.begin(), Events.end(),
                            [](const std::string& e) { return e.rfind("call ", 0) == 0; }),
              2);
}

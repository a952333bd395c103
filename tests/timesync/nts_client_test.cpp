// Authenticated time against a real peer: chrony serving NTS on loopback with a
// certificate from a throw-away authority.
#include "timesync/nts_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>

#include "support/nts_peer.h"
#include "support/udp_relay.h"
#include "timesync/nts_session_store.h"

using nts_peer::TChronyNts;
using nts_peer::TTestCa;

class NtsChronyTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Ca = std::make_unique<TTestCa>("127.0.0.1,127.0.0.3");
        Chrony = std::make_unique<TChronyNts>(*Ca, "127.0.0.1");
    }
    static void TearDownTestSuite() {
        Chrony.reset();
        Ca.reset();
    }
    void SetUp() override {
        if (!Chrony->Running()) GTEST_SKIP() << "chronyd or openssl missing, or chronyd did not start";
    }

    void Aim(TNtsClient& client, const TChronyNts& chrony, const std::string& ca) {
        client.SetServer(chrony.Address, std::to_string(chrony.KePort));
        client.SetCaFile(ca);
        client.SetTimeout(3000);
    }

    // chrony answers NTS only once its key-exchange socket is up: the first query may
    // need a moment more on a busy machine.
    static bool QueryWhenUp(TNtsClient& client) {
        for (int i = 0; i < 50; ++i) {
            if (client.Query()) return true;
            if (client.Failure().find("refused") == std::string::npos &&
                client.Failure().find("10061") == std::string::npos)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    static inline std::unique_ptr<TTestCa> Ca;
    static inline std::unique_ptr<TChronyNts> Chrony;
};

TEST_F(NtsChronyTest, AuthenticTimeThenCookiesRenewedWithoutANewKeyExchange) {
    TNtsClient client;
    Aim(client, *Chrony, Ca->CaFile());
    ASSERT_TRUE(QueryWhenUp(client)) << client.Failure();
    // chrony serves this machine's clock: the authenticated offset is next to nothing.
    EXPECT_LT(std::llabs(client.Sntp().Sample().OffsetNs), 50'000'000);
    EXPECT_EQ(client.Sntp().LastReply().Stratum, 8);
    // More queries than one exchange's cookies: each reply's cookies replace the one used.
    for (int i = 0; i < 12; ++i) {
        TNtsClient next;
        Aim(next, *Chrony, Ca->CaFile());
        ASSERT_TRUE(next.Query()) << i << ": " << next.Failure();
        EXPECT_FALSE(next.KeyExchangeRan()) << i;
    }
}

TEST_F(NtsChronyTest, CertificateFromAnotherAuthorityIsRefused) {
    TNtsClient client;
    Aim(client, *Chrony, Ca->OtherCaFile());
    EXPECT_FALSE(client.Query());
    EXPECT_NE(client.Failure().find("certificate"), std::string::npos) << client.Failure();
    // Nor does the system's store know the throw-away authority.
    Aim(client, *Chrony, "");
    EXPECT_FALSE(client.Query());
    EXPECT_NE(client.Failure().find("certificate"), std::string::npos) << client.Failure();
}

TEST_F(NtsChronyTest, NoKeyExchangeServerThereIsAClearFailure) {
    TNtsClient client;
    client.SetServer("127.0.0.1", std::to_string(nts_peer::FreePort("127.0.0.1", SOCK_STREAM)));
    client.SetCaFile(Ca->CaFile());
    client.SetTimeout(1000);
    EXPECT_FALSE(client.Query());
    EXPECT_NE(client.Failure().find("NTS key exchange with 127.0.0.1"), std::string::npos)
        << client.Failure();
}

// The key exchange sends the client to 127.0.0.3, where a relay changes the replies.
class NtsPathTest : public NtsChronyTest {
protected:
    void Start(TUdpRelay::TAlter alter) {
        FChrony = std::make_unique<TChronyNts>(*Ca, "127.0.0.1", "127.0.0.3");
        ASSERT_TRUE(FChrony->Running());
        FRelay = std::make_unique<TUdpRelay>("127.0.0.1", FChrony->NtpPort,
                                             std::chrono::microseconds(0), "127.0.0.3",
                                             FChrony->NtpPort, std::move(alter));
    }
    std::unique_ptr<TChronyNts> FChrony;
    std::unique_ptr<TUdpRelay> FRelay;
};

TEST_F(NtsPathTest, ReplyAlteredOnThePathIsRefused) {
    // One bit of the receive time stamp: a time shifted by 2^-? s... any change at all.
    Start([](std::string& reply) {
        if (reply.size() > 40) reply[34] ^= 0x01;
    });
    TNtsClient client;
    Aim(client, *FChrony, Ca->CaFile());
    client.SetTimeout(1500);
    EXPECT_FALSE(QueryWhenUp(client));
    EXPECT_GE(FRelay->Replies(), 1);
    EXPECT_NE(client.Failure().find("no authentic answer"), std::string::npos) << client.Failure();
}

// A server that no longer knows a cookie answers with an unauthenticated "NTSN" kiss that
// echoes the request's identifier: here the relay turns chrony's reply into one.
void MakeNak(std::string& reply) {
    std::string uid;
    for (size_t at = 48; at + 4 <= reply.size();) {
        const size_t length = (uint8_t(reply[at + 2]) << 8) | uint8_t(reply[at + 3]);
        if (length < 4 || at + length > reply.size()) break;
        if (reply[at] == 0x01 && reply[at + 1] == 0x04) uid = reply.substr(at, length);
        at += length;
    }
    reply.resize(48);
    reply[1] = 0;
    reply.replace(12, 4, "NTSN");
    reply += uid;
}

TEST_F(NtsPathTest, NakOnceMeansAFreshKeyExchangeAtOnce) {
    std::atomic<int> naks{0};
    Start([&naks](std::string& reply) {
        if (naks.load() > 0) {
            --naks;
            MakeNak(reply);
        }
    });
    TNtsClient client;
    Aim(client, *FChrony, Ca->CaFile());
    ASSERT_TRUE(QueryWhenUp(client)) << client.Failure();
    naks = 1;
    TNtsClient next;
    Aim(next, *FChrony, Ca->CaFile());
    ASSERT_TRUE(next.Query()) << next.Failure();
    EXPECT_TRUE(next.KeyExchangeRan());  // the cookies were thrown away with the NAK
    EXPECT_EQ(naks.load(), 0);
    // A server that keeps refusing is said so.
    naks = 2;
    TNtsClient refused;
    Aim(refused, *FChrony, Ca->CaFile());
    EXPECT_FALSE(refused.Query());
    EXPECT_NE(refused.Failure().find("NTS NAK"), std::string::npos) << refused.Failure();
}

TEST_F(NtsPathTest, UnalteredRelayIsFine) {
    Start(nullptr);
    TNtsClient client;
    Aim(client, *FChrony, Ca->CaFile());
    ASSERT_TRUE(QueryWhenUp(client)) << client.Failure();
    EXPECT_EQ(client.Sntp().TargetHost(), "127.0.0.3");
    EXPECT_GE(FRelay->Replies(), 1);
}

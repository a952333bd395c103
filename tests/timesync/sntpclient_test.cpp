#include "timesync/sntpclient.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <mutex>

#include "net/loopback_peers.h"
#include "net/netutil.h"
#include "support/ntp_reply.h"
#include "support/udp_relay.h"

using peers::TUdpResponder;

namespace {
constexpr uint32_t kSeconds2020 = 3786825600u;  // 2020-01-01 00:00:00 UTC

// NTP seconds of a UTC date-time, in whichever era it falls.
uint32_t NtpSecondsOf(TDateTime dt) {
    return static_cast<uint32_t>(static_cast<int64_t>(std::llround((dt - 2.0) * 86400.0)));
}

}  // namespace

class SntpClientTest : public ::testing::Test {
protected:
    using TMutator = std::function<void(TUdpResponder&, const std::string&, const sockaddr_in&)>;

    void SetUp() override {
        FResponder = std::make_unique<TUdpResponder>(
            [this](TUdpResponder& r, const std::string& request, const sockaddr_in& client) {
                std::lock_guard<std::mutex> lock(FLock);
                if (FScript) FScript(r, request, client);
            });
        FClient.SetTargetHost("127.0.0.1");
        FClient.SetTargetPort(FResponder->PortText());
        FClient.SetTimeout(300);
    }
    void TearDown() override { FResponder.reset(); }

    void Script(TMutator script) {
        std::lock_guard<std::mutex> lock(FLock);
        FScript = std::move(script);
    }
    // Answers every request with a valid reply, changed by edit first.
    void Answer(uint32_t seconds, uint32_t fraction,
                std::function<void(std::string&)> edit = nullptr) {
        Script([=](TUdpResponder& r, const std::string& request, const sockaddr_in& client) {
            std::string reply = ValidReply(request, seconds, fraction);
            if (edit) edit(reply);
            r.Send(TUdpResponder::FromServer, reply, client);
        });
    }

    std::mutex FLock;
    TMutator FScript;
    std::unique_ptr<TUdpResponder> FResponder;
    TSntpClient FClient;
};

TEST(SntpStamp, ConversionTruncationDivisorAndEra) {
    const int32_t s2020 = static_cast<int32_t>(kSeconds2020);
    EXPECT_DOUBLE_EQ(TSntpClient::StampToDateTime(s2020, 0), 43831.0);
    EXPECT_DOUBLE_EQ(TSntpClient::StampToDateTime(s2020, INT32_MIN),
                     (kSeconds2020 + 0.5) / 86400.0 + 2.0);
    EXPECT_DOUBLE_EQ(TSntpClient::StampToDateTime(s2020, -1), (kSeconds2020 + 1.0) / 86400.0 + 2.0);
    // 0x00010000 / (2^32 - 1) = 0.0000152...: four decimals keep nothing of it.
    EXPECT_DOUBLE_EQ(TSntpClient::StampToDateTime(s2020, 0x10000), 43831.0);

    // The era boundary of 2036-02-07 06:28:16: the top bit clear means the second era.
    const auto at = [](int s) { return EncodeDateTime(2036, 2, 7, 6, 28, s); };
    EXPECT_NEAR(TSntpClient::StampToDateTime(-1, 0), at(15), 1e-9);
    EXPECT_NEAR(TSntpClient::StampToDateTime(0, 0), at(16), 1e-9);
    EXPECT_NEAR(TSntpClient::StampToDateTime(1, 0), at(17), 1e-9);
    const TDateTime y2100 = EncodeDateTime(2100, 1, 1, 0, 0, 0);
    EXPECT_NEAR(TSntpClient::StampToDateTime(static_cast<int32_t>(NtpSecondsOf(y2100)), 0), y2100,
                1e-9);
}

TEST(SntpPacket, CodecRoundTripAndShortInput) {
    TNtpPacket p;
    p.LeapVersionMode = 0x24;
    p.Stratum = 3;
    p.ReferenceId = 0x7F000001;
    p.XmitSeconds = static_cast<int32_t>(0xE1B65F80u);
    p.XmitFraction = 0x12345678;
    const std::string bytes = TSntpClient::PacketToBytes(p);
    ASSERT_EQ(bytes.size(), 48u);
    EXPECT_EQ(bytes.substr(40, 4), std::string("\xE1\xB6\x5F\x80"));
    TNtpPacket q;
    TSntpClient::BytesToPacket(bytes, q);
    EXPECT_EQ(TSntpClient::PacketToBytes(q), bytes);
    TNtpPacket untouched;
    untouched.Stratum = 9;
    TSntpClient::BytesToPacket(bytes.substr(0, 47), untouched);
    EXPECT_EQ(untouched.Stratum, 9);
}

TEST_F(SntpClientTest, ValidReplyGivesTheTransmitTime) {
    Answer(kSeconds2020, 0x80000000u);
    ASSERT_TRUE(FClient.QuerySntp());
    EXPECT_DOUBLE_EQ(FClient.NTPTime(), (kSeconds2020 + 0.5) / 86400.0 + 2.0);
    EXPECT_EQ(FClient.LastReply().Stratum, 2);

    // The request: client mode, version 3, nothing but random bits in the transmit field,
    // fresh ones each time.
    const std::string first = FResponder->LastRequest();
    ASSERT_TRUE(FClient.QuerySntp());
    const std::string second = FResponder->LastRequest();
    ASSERT_EQ(first.size(), 48u);
    EXPECT_EQ(first[0], 0x1B);
    EXPECT_EQ(first.substr(1, 39), std::string(39, '\0'));
    EXPECT_NE(first.substr(40), second.substr(40));
}

TEST_F(SntpClientTest, LongerReplyIsTakenShortOneIsNot) {
    Answer(kSeconds2020, 0, [](std::string& r) { r += std::string(12, '\x55'); });
    EXPECT_TRUE(FClient.QuerySntp());
    Answer(kSeconds2020 + 60, 0, [](std::string& r) { r.resize(47); });
    const TDateTime before = FClient.NTPTime();
    EXPECT_FALSE(FClient.QuerySntp());
    EXPECT_DOUBLE_EQ(FClient.NTPTime(), before);
}

TEST_F(SntpClientTest, EverySingleFieldCorruptionFails) {
    struct Case {
        const char* name;
        std::function<void(std::string&)> edit;
    };
    auto setByte0 = [](int leap, int version, int mode) {
        return [=](std::string& r) { r[0] = static_cast<char>(leap << 6 | version << 3 | mode); };
    };
    const Case cases[] = {
        {"mode 3", setByte0(0, 4, 3)},
        {"mode 5", setByte0(0, 4, 5)},
        {"version 0", setByte0(0, 0, 4)},
        {"version 5", setByte0(0, 5, 4)},
        {"leap 3", setByte0(3, 4, 4)},
        {"stratum 0", [](std::string& r) { r[1] = 0; }},
        {"stratum 16", [](std::string& r) { r[1] = 16; }},
        {"originate seconds bit", [](std::string& r) { r[27] ^= 1; }},
        {"originate fraction bit", [](std::string& r) { r[31] ^= static_cast<char>(0x80); }},
        {"zero originate", [](std::string& r) { r.replace(24, 8, std::string(8, '\0')); }},
        {"zero receive", [](std::string& r) { r.replace(32, 8, std::string(8, '\0')); }},
        {"zero transmit", [](std::string& r) { r.replace(40, 8, std::string(8, '\0')); }},
        {"all zero", [](std::string& r) { r.assign(48, '\0'); }},
    };
    Answer(kSeconds2020, 0);
    ASSERT_TRUE(FClient.QuerySntp());
    for (const Case& c : cases) {
        Answer(kSeconds2020 + 3600, 0, c.edit);
        EXPECT_FALSE(FClient.QuerySntp()) << c.name;
        EXPECT_DOUBLE_EQ(FClient.NTPTime(), 43831.0) << c.name;
    }
    // Still accepted: leap 1 and 2 (a second to come), version 1 and stratum 15.
    Answer(kSeconds2020, 0, setByte0(1, 1, 4));
    EXPECT_TRUE(FClient.QuerySntp());
    Answer(kSeconds2020, 0, [](std::string& r) {
        r[0] = static_cast<char>(0xA4);
        r[1] = 15;
    });
    EXPECT_TRUE(FClient.QuerySntp());
}

TEST_F(SntpClientTest, RepliesFromElsewhereAreIgnored) {
    for (auto from : {TUdpResponder::FromOtherPort, TUdpResponder::FromOtherAddress}) {
        if (from == TUdpResponder::FromOtherAddress && !FResponder->OtherAddressReady()) continue;
        Script([=](TUdpResponder& r, const std::string& request, const sockaddr_in& client) {
            r.Send(from, ValidReply(request, kSeconds2020, 0), client);
        });
        const uint32_t t0 = TickNow();
        EXPECT_FALSE(FClient.QuerySntp());
        EXPECT_GE(TickElapsed(t0, TickNow()), 290u);  // the wait went on to the time-out
    }
}

TEST_F(SntpClientTest, SpoofedRepliesAheadOfTheRealOneLose) {
    Script([](TUdpResponder& r, const std::string& request, const sockaddr_in& client) {
        r.Send(TUdpResponder::FromOtherPort, ValidReply(request, 1000, 0), client);
        std::string forged = ValidReply(request, 2000, 0);
        forged[25] ^= 0x40;  // a blind guess at the nonce
        r.Send(TUdpResponder::FromServer, forged, client);
        r.Send(TUdpResponder::FromServer, std::string(20, 'j'), client);
        r.Hold(30);
        r.Send(TUdpResponder::FromServer, ValidReply(request, kSeconds2020, 0), client);
        r.Send(TUdpResponder::FromServer, ValidReply(request, kSeconds2020 + 99, 0), client);
    });
    ASSERT_TRUE(FClient.QuerySntp());
    EXPECT_DOUBLE_EQ(FClient.NTPTime(), 43831.0);  // the first valid reply won
}

TEST_F(SntpClientTest, SilenceAndLateRepliesTimeOut) {
    Script([](TUdpResponder& r, const std::string& request, const sockaddr_in& client) {
        r.Hold(450);
        r.Send(TUdpResponder::FromServer, ValidReply(request, kSeconds2020, 0), client);
    });
    const uint32_t t0 = TickNow();
    EXPECT_FALSE(FClient.QuerySntp());
    const uint32_t took = TickElapsed(t0, TickNow());
    EXPECT_GE(took, 290u);
    EXPECT_LT(took, 440u);
    EXPECT_EQ(FClient.Sock().ErrorCode(), 10060);
}

TEST_F(SntpClientTest, EraEdgesThroughTheWire) {
    const TDateTime edge = EncodeDateTime(2036, 2, 7, 6, 28, 16);
    const TDateTime y2100 = EncodeDateTime(2100, 1, 1, 0, 0, 0);
    for (TDateTime expected : {edge - 1.0 / 86400, edge, edge + 1.0 / 86400, y2100}) {
        // A fraction of 2^-32 s: an all-zero transmit field would be refused, and four
        // decimals drop it again.
        Answer(NtpSecondsOf(expected), 1);
        ASSERT_TRUE(FClient.QuerySntp());
        EXPECT_NEAR(FClient.NTPTime(), expected, 1e-9)
            << FormatDateTime("yyyy-MM-dd HH:mm:ss", expected);
    }
}

TEST_F(SntpClientTest, ClockIsSetOnlyWithinMaxSyncDiffAndThroughTheSeam) {
    const TDateTime served = 43831.0;
    int sets = 0;
    TDateTime setTo = 0;
    TDateTime pcClock = served + 3601.0 / 86400;
    FClient.SetClock([&] { return pcClock; },
                     [&](TDateTime dt) {
                         ++sets;
                         setTo = dt;
                         return true;
                     });
    Answer(kSeconds2020, 0);
    FClient.SetSyncTime(true);
    EXPECT_TRUE(FClient.QuerySntp());
    EXPECT_EQ(sets, 0);
    pcClock = served - 10.0 / 86400;
    EXPECT_TRUE(FClient.QuerySntp());
    EXPECT_EQ(sets, 1);
    EXPECT_DOUBLE_EQ(setTo, served);
    FClient.SetSyncTime(false);
    EXPECT_TRUE(FClient.QuerySntp());
    EXPECT_EQ(sets, 1);
}

TEST_F(SntpClientTest, BadPortTextFailsAtOnce) {
    FClient.SetTargetPort("not-a-port");
    const uint32_t t0 = TickNow();
    EXPECT_FALSE(FClient.QuerySntp());
    EXPECT_EQ(FClient.Sock().ErrorCode(), 10109);
    EXPECT_LT(TickElapsed(t0, TickNow()), 280u);
}

// chrony ---------------------------------------------------------------------------------

class SntpChronyTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (std::system("command -v chronyd >/dev/null 2>&1") != 0) return;
        char dir[] = "/tmp/tiktaal-chronyXXXXXX";
        if (!mkdtemp(dir)) return;
        Dir = dir;
        std::ofstream(Dir + "/chrony.conf")
            << "port 123\nbindaddress 127.0.0.2\nallow 127.0.0.0/8\nlocal stratum 8\n"
               "cmdport 0\npidfile "
            << Dir << "/chronyd.pid\ndriftfile " << Dir << "/drift\n";
        // -x: serve time without ever touching this machine's clock.
        if (std::system(("chronyd -x -f " + Dir + "/chrony.conf").c_str()) != 0) return;
        for (int i = 0; i < 100 && Pid == 0; ++i) {
            std::ifstream pid(Dir + "/chronyd.pid");
            if (!(pid >> Pid)) peers::SleepMs(20);
        }
    }
    static void TearDownTestSuite() {
        if (Pid > 0) kill(Pid, SIGTERM);
        Pid = 0;
        if (!Dir.empty()) std::system(("rm -rf " + Dir).c_str());
    }
    void SetUp() override {
        if (Pid <= 0) GTEST_SKIP() << "chronyd is not on PATH or did not start";
    }
    static inline std::string Dir;
    static inline int Pid = 0;
};

TEST_F(SntpChronyTest, LocalChronyGivesItsTime) {
    TSntpClient client;
    client.SetTargetHost("127.0.0.2");
    client.SetTimeout(2000);
    bool ok = false;
    for (int i = 0; i < 10 && !ok; ++i) {
        ok = client.QuerySntp();
        if (!ok) peers::SleepMs(100);
    }
    ASSERT_TRUE(ok);
    EXPECT_LT(std::fabs(client.NTPTime() - NowUtc()) * 86400.0, 1.0);
    EXPECT_EQ(client.LastReply().Stratum, 8);
    EXPECT_EQ(NtpMode(client.LastReply().LeapVersionMode), 4);
}

TEST_F(SntpChronyTest, OffsetAndDelayAreMeasuredThroughASlowPath) {
    // 25 ms each way: the transmit time alone is 25 ms old on arrival; the RFC 4330 offset
    // takes the round trip into account.
    TUdpRelay relay("127.0.0.2", 123, std::chrono::milliseconds(25));
    TSntpClient client;
    client.SetTargetHost("127.0.0.1");
    client.SetTargetPort(std::to_string(relay.Port()));
    client.SetTimeout(2000);
    // A busy machine can hold one direction back: of five exchanges the one with the
    // shortest round trip is the least disturbed, as NTP's own filter takes it.
    struct {
        double Offset = 0, Delay = 1e9;
        TTimeSample Sample;
        TDateTime Transmit = 0;
    } best;
    for (int i = 0; i < 5; ++i)
        if (client.QuerySntp() && client.NTPDelay() < best.Delay)
            best = {client.NTPOffset(), client.NTPDelay(), client.Sample(), client.NTPTime()};
    ASSERT_LT(best.Delay, 1.0);
    // chrony serves this machine's clock: the accepted time is the PC clock's.
    EXPECT_LT(std::fabs(best.Offset), 0.001);
    EXPECT_NEAR(best.Delay, 0.050, 0.005);
    const TTimeSample& s = best.Sample;
    EXPECT_LT(std::fabs(double(SampleTimeAt(s, s.Arrival) - s.Arrival.RealNs)), 1e6);
    // The transmit time alone, as a time at the arrival, is a good 20 ms behind.
    EXPECT_GT((UnixNsToDateTime(s.Arrival.RealNs) - best.Transmit) * SecsPerDay, 0.020);
}

TEST(SntpStamps, FullResolutionAndEras) {
    EXPECT_EQ(TSntpClient::StampToUnixNs(static_cast<int32_t>(0xE1B65F80u), 0),
              int64_t{1577836800} * 1000000000);  // 2020-01-01
    EXPECT_EQ(TSntpClient::StampToUnixNs(static_cast<int32_t>(0xE1B65F80u), 0x00000431),
              int64_t{1577836800} * 1000000000 + 249);  // a quarter of a microsecond
    // Top bit clear: the era that began 2036-02-07 06:28:16.
    EXPECT_EQ(TSntpClient::StampToUnixNs(0, 0), int64_t{2085978496} * 1000000000);
}

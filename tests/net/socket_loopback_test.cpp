// The block sockets over each system's socket calls, on loopback, with peers made of the
// same classes: the test that runs unchanged on Linux and on Windows (under Wine).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "net/netsocket.h"
#include "net/netutil.h"

namespace {

long MsSince(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}

int64_t RealNowNs() {
    return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count());
}

// A port on loopback that nothing listens on.
std::string UnusedPort() {
    TTcpSocket probe;
    probe.BindTo("127.0.0.1", "0");
    return std::to_string(probe.LocalPortNumber());
}

}  // namespace

TEST(SocketLoopback, DatagramsGoBothWaysAndCarryTheirArrival) {
    TUdpSocket server;
    server.BindTo("127.0.0.1", "0");
    ASSERT_EQ(server.ErrorCode(), 0) << server.ErrorText();
    TUdpSocket client;
    client.ConnectTo("127.0.0.1", std::to_string(server.LocalPortNumber()));
    ASSERT_EQ(client.ErrorCode(), 0) << client.ErrorText();
    client.SetArrivalStamps(true);

    client.SendText("request");
    EXPECT_EQ(server.ReceiveAvailable(3000), "request");
    server.SendText("reply");  // to the sender, which became the peer
    EXPECT_EQ(client.ReceiveAvailable(3000), "reply");
    // Where the system stamps arrivals the stamp is the real time of a moment ago; where it
    // has none (Wine) the reader's own clock stands in later, and the stamp is 0.
    if (client.LastArrivalNs() != 0) {
        EXPECT_LE(client.LastArrivalNs(), RealNowNs());
        EXPECT_GT(client.LastArrivalNs(), RealNowNs() - 5'000'000'000LL);
    }
}

TEST(SocketLoopback, SilenceTimesOutWithTheSocketNumbers) {
    TUdpSocket server;
    server.BindTo("127.0.0.1", "0");
    TUdpSocket client;
    client.ConnectTo("127.0.0.1", std::to_string(server.LocalPortNumber()));
    client.SendText("nobody answers");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.ReceiveAvailable(300), "");
    EXPECT_EQ(client.ErrorCode(), kSockTimedOut);
    EXPECT_EQ(client.ErrorText(), "Connection timed out");
    EXPECT_GE(MsSince(start), 250);
    EXPECT_LT(MsSince(start), 3000);
}

TEST(SocketLoopback, AStreamIsAcceptedReadInLinesAndEndsWhenThePeerCloses) {
    TTcpSocket listener;
    listener.BindTo("127.0.0.1", "0");
    listener.StartListening();
    ASSERT_EQ(listener.ErrorCode(), 0) << listener.ErrorText();
    const std::string port = std::to_string(listener.LocalPortNumber());

    std::thread peer([&] {
        TTcpSocket client;
        client.ConnectTo("127.0.0.1", port);
        if (client.ErrorCode() != 0) return;
        client.SendText("HTTP/1.0 200 OK\r\nsync_time: 2026-12-08 12:00:00\r\n");
        client.CloseConnection();
    });
    ASSERT_TRUE(listener.WaitReadable(3000));
    TTcpSocket accepted;
    accepted.AdoptHandle(listener.AcceptConnection());
    EXPECT_EQ(accepted.ErrorCode(), 0);
    EXPECT_EQ(accepted.ReceiveLine(3000), "HTTP/1.0 200 OK");
    EXPECT_EQ(accepted.ReceiveLine(3000), "sync_time: 2026-12-08 12:00:00");
    EXPECT_EQ(accepted.ReceiveLine(3000), "");
    EXPECT_EQ(accepted.ErrorCode(), kSockConnReset);
    peer.join();
}

TEST(SocketLoopback, RefusalsAndUnknownNamesKeepTheirNumbers) {
    TTcpSocket refused;
    refused.ConnectTo("127.0.0.1", UnusedPort());
    EXPECT_EQ(refused.ErrorCode(), kSockConnRefused);
    EXPECT_EQ(refused.ErrorText(), "Connection refused");

    TTcpSocket ipv6;
    ipv6.ConnectTo("::1", UnusedPort());
    // A system without IPv6 on loopback refuses the family or the address instead.
    EXPECT_NE(ipv6.ErrorCode(), 0);

    TUdpSocket badPort;
    badPort.ConnectTo("127.0.0.1", "70000");
    EXPECT_EQ(badPort.ErrorCode(), kSockServiceNotFound);
}

TEST(SocketInterface, StartsOnceAndNamesTheLibraryWhenItCannot) {
    EXPECT_NO_THROW(StartSocketInterface());
    EXPECT_GE(SocketLibraryUsers(), 1);
    EXPECT_STREQ(kSocketLoadFailure, "Error loading Socket interface (ws2_32.dll)!");
}

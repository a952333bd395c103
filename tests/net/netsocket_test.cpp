#include "net/netsocket.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <time.h>

#include <chrono>
#include <sstream>
#include <thread>
#include <vector>

#include "net/loopback_peers.h"
#include "net/netutil.h"

using peers::TConnection;
using peers::TTcpServer;
using peers::TUdpResponder;

namespace {
uint32_t Since(uint32_t t0) { return TickElapsed(t0, TickNow()); }
}  // namespace

// Datagrams ------------------------------------------------------------------------------

class UdpSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        FResponder = std::make_unique<TUdpResponder>(
            [](TUdpResponder& r, const std::string& request, const sockaddr_in& client) {
                if (request == "quiet") return;
                if (request == "empty") {
                    r.Send(TUdpResponder::FromServer, "", client);
                    r.Send(TUdpResponder::FromServer, "after", client);
                    return;
                }
                if (request == "other") {
                    r.Send(TUdpResponder::FromOtherPort, "from elsewhere", client);
                    return;
                }
                r.Send(TUdpResponder::FromServer, "echo:" + request, client);
            });
    }
    void TearDown() override { FResponder.reset(); }
    std::unique_ptr<TUdpResponder> FResponder;
    TUdpSocket FSock;
};

TEST_F(UdpSocketTest, AnyAddressBindMakesNoHandle) {
    FSock.BindTo("0.0.0.0", "0");
    EXPECT_EQ(FSock.ErrorCode(), 0);
    EXPECT_EQ(FSock.Handle(), kInvalidSocket);
    EXPECT_FALSE(FSock.IsBound());
    FSock.BindTo("127.0.0.1", "0");
    EXPECT_EQ(FSock.ErrorCode(), 0);
    EXPECT_NE(FSock.Handle(), kInvalidSocket);
    EXPECT_TRUE(FSock.IsBound());
    EXPECT_GT(FSock.LocalPortNumber(), 0);
}

TEST_F(UdpSocketTest, ExchangeAndSenderBecomesPeer) {
    FSock.ConnectTo("127.0.0.1", FResponder->PortText());
    ASSERT_EQ(FSock.ErrorCode(), 0);
    FSock.SendText("hello");
    EXPECT_EQ(FSock.ErrorCode(), 0);
    EXPECT_EQ(FSock.ReceiveAvailable(2000), "echo:hello");
    EXPECT_EQ(FSock.RemotePortNumber(), FResponder->Port());

    FSock.SendText("other");
    EXPECT_EQ(FSock.ReceiveAvailable(2000), "from elsewhere");
    EXPECT_NE(FSock.RemotePortNumber(), FResponder->Port());
}

TEST_F(UdpSocketTest, ArrivalStampsAreTheKernelsWhenAskedFor) {
    FSock.ConnectTo("127.0.0.1", FResponder->PortText());
    FSock.SendText("hello");
    EXPECT_EQ(FSock.ReceiveAvailable(2000), "echo:hello");
    EXPECT_EQ(FSock.LastArrivalNs(), 0);  // none unless asked for
    FSock.SetArrivalStamps(true);
    // The kernel turns stamping on a moment later; until then a datagram is stamped as read.
    FSock.SendText("hello");
    EXPECT_EQ(FSock.ReceiveAvailable(2000), "echo:hello");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto now = [] {
        timespec t{};
        clock_gettime(CLOCK_REALTIME, &t);
        return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
    };
    const int64_t sent = now();
    FSock.SendText("hello");
    pollfd readable{static_cast<int>(FSock.Handle()), POLLIN, 0};
    ASSERT_EQ(poll(&readable, 1, 2000), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a reader that wakes late
    const int64_t read = now();
    EXPECT_EQ(FSock.ReceiveAvailable(2000), "echo:hello");
    const int64_t arrival = FSock.LastArrivalNs();
    EXPECT_GE(arrival, sent) << "read at +" << read - sent << " ns";
    EXPECT_LT(arrival, read - 10000000)  // when it came, not when read
        << "arrival at +" << arrival - sent << " ns, read at +" << read - sent << " ns";
}

TEST_F(UdpSocketTest, SilentPeerTimesOut) {
    FSock.ConnectTo("127.0.0.1", FResponder->PortText());
    FSock.SendText("quiet");
    const uint32_t t0 = TickNow();
    EXPECT_EQ(FSock.ReceiveAvailable(200), "");
    EXPECT_EQ(FSock.ErrorCode(), 10060);
    EXPECT_EQ(FSock.ErrorText(), "Connection timed out");
    EXPECT_GE(Since(t0), 190u);
    EXPECT_LT(Since(t0), 1000u);
}

TEST_F(UdpSocketTest, EmptyDatagramIsConsumedNotTakenAsAClose) {
    FSock.ConnectTo("127.0.0.1", FResponder->PortText());
    FSock.SendText("empty");
    std::string got = FSock.ReceiveAvailable(2000);
    EXPECT_EQ(FSock.ErrorCode(), 0);
    if (got.empty()) got = FSock.ReceiveAvailable(2000);
    EXPECT_EQ(got, "after");
}

TEST_F(UdpSocketTest, BadPortTextAndStatusHooks) {
    std::vector<THookSocketReason> seen;
    FSock.SetOnStatus(
        [&](TNetSocket*, THookSocketReason r, const std::string&) { seen.push_back(r); });
    FSock.ConnectTo("127.0.0.1", "no-such-service");
    EXPECT_EQ(FSock.ErrorCode(), 10109);
    EXPECT_EQ(FSock.Handle(), kInvalidSocket);
    seen.clear();
    FSock.ConnectTo("127.0.0.1", FResponder->PortText());
    const std::vector<THookSocketReason> expected = {
        THookSocketReason::HR_ResolvingBegin, THookSocketReason::HR_ResolvingEnd,
        THookSocketReason::HR_SocketCreate, THookSocketReason::HR_Connect};
    EXPECT_EQ(seen, expected);
}

TEST_F(UdpSocketTest, StopFlagAbortsTheNextOperation) {
    FSock.ConnectTo("127.0.0.1", FResponder->PortText());
    FSock.SetStopFlag(true);
    FSock.SendText("x");
    EXPECT_EQ(FSock.ErrorCode(), 10053);
    EXPECT_FALSE(FSock.StopFlag());
}

TEST_F(UdpSocketTest, QueuedOptionsWaitForTheHandleAndDieWithAClose) {
    FSock.SetReceiveBufferSize(65536);
    FSock.SetSendBufferSize(65536);
    EXPECT_EQ(FSock.QueuedOptionCount(), 2u);
    FSock.CloseConnection();
    EXPECT_EQ(FSock.QueuedOptionCount(), 0u);
    FSock.SetReceiveBufferSize(32768);
    FSock.ConnectTo("127.0.0.1", FResponder->PortText());
    EXPECT_EQ(FSock.QueuedOptionCount(), 0u);
    int size = 0;
    socklen_t n = sizeof(size);
    getsockopt(static_cast<int>(FSock.Handle()), SOL_SOCKET, SO_RCVBUF, &size, &n);
    EXPECT_GE(size, 32768);
}

// Streams ----------------------------------------------------------------------------------

TEST(TcpSocket, PeerCloseRefusalAndTls) {
    TTcpServer server([](TConnection& c) { c.Send("bye"); });
    TTcpSocket sock;
    sock.ConnectTo("127.0.0.1", server.PortText());
    ASSERT_EQ(sock.ErrorCode(), 0);
    EXPECT_EQ(sock.RemoteAddressText(), "127.0.0.1");
    std::string got;
    while (sock.ErrorCode() == 0) got += sock.ReceiveAvailable(2000);
    EXPECT_EQ(got, "bye");
    EXPECT_EQ(sock.ErrorCode(), 10054);

    sock.TlsConnect();
    EXPECT_EQ(sock.ErrorCode(), 10091);
    EXPECT_EQ(sock.ErrorText(), "TLS support is not compiled in!");

    const uint16_t closedPort = server.Port();
    TTcpSocket refused;
    {
        // A port that was just listening and is closed now refuses at once.
        const int fd = peers::BoundSocket(SOCK_STREAM, "127.0.0.1", 0);
        const uint16_t port = peers::LocalPort(fd);
        close(fd);
        refused.ConnectTo("127.0.0.1", std::to_string(port));
    }
    EXPECT_EQ(refused.ErrorCode(), 10061);
    EXPECT_EQ(refused.ErrorText(), "Connection refused");
    (void)closedPort;
}

TEST(TcpSocket, LinesWithMixedEndsAndSplitCrLf) {
    TTcpServer server([](TConnection& c) {
        c.Send("HTTP/1.0 200 OK\nnext\r");
        peers::SleepMs(50);
        c.Send("\nthird\n\rfourth\r\n");
        c.Hold(2000);
    });
    TTcpSocket sock;
    sock.SetConvertLineEnd(true);
    sock.ConnectTo("127.0.0.1", server.PortText());
    EXPECT_EQ(sock.ReceiveLine(2000), "HTTP/1.0 200 OK");
    EXPECT_EQ(sock.ReceiveLine(2000), "next");
    EXPECT_EQ(sock.ReceiveLine(2000), "third");  // the split CR LF was one line end
    EXPECT_EQ(sock.ReceiveLine(2000), "fourth");
    EXPECT_EQ(sock.ErrorCode(), 0);
}

TEST(TcpSocket, PartialLineTimesOutAndStaysPending) {
    TTcpServer server([](TConnection& c) {
        c.Send("no end yet");
        c.Hold(3000);
    });
    TTcpSocket sock;
    sock.SetConvertLineEnd(true);
    sock.ConnectTo("127.0.0.1", server.PortText());
    EXPECT_EQ(sock.ReceiveLine(200), "");
    EXPECT_EQ(sock.ErrorCode(), 10060);
    EXPECT_EQ(sock.Pending(), "no end yet");
}

TEST(TcpSocket, LineLengthBoundsTheLineNotTheRead) {
    TTcpServer server([](TConnection& c) {
        std::string many;
        for (int i = 0; i < 100; ++i) many += "short line\r\n";
        c.Send(many + std::string(300, 'x'));
        c.Hold(3000);
    });
    TTcpSocket sock;
    sock.SetMaxLineLength(200);
    sock.ConnectTo("127.0.0.1", server.PortText());
    peers::SleepMs(50);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(sock.ReceiveLine(2000), "short line") << i;
    EXPECT_EQ(sock.ReceiveLine(2000), "");
    EXPECT_EQ(sock.ErrorCode(), 10055);
}

TEST(TcpSocket, ExactCountsStreamsAndSizedBlocks) {
    const std::string big(65536 * 2 + 5, 'b');
    TTcpServer server([&](TConnection& c) {
        c.Send(big + "rest");
        c.Send(Int32ToBigEndian(3) + "abc");
        c.Send(Int32ToBigEndian(0x7FFFFFFF));
        c.Hold(3000);
    });
    TTcpSocket sock;
    sock.ConnectTo("127.0.0.1", server.PortText());
    std::stringstream stream;
    sock.ReceiveToStream(stream, 2000, static_cast<int64_t>(big.size()));
    EXPECT_EQ(sock.ErrorCode(), 0);
    EXPECT_EQ(stream.str(), big);
    EXPECT_EQ(sock.ReceiveExactText(4, 2000), "rest");
    EXPECT_EQ(sock.ReceiveSizedBlock(2000), "abc");
    EXPECT_EQ(sock.ReceiveSizedBlock(2000), "");
    EXPECT_EQ(sock.ErrorCode(), 10055);  // a length prefix of 2 GB is refused, not allocated
}

TEST(TcpSocket, TrickleIsCutByTheWholeOperationLimits) {
    TTcpServer server([](TConnection& c) {
        for (int i = 0; i < 200 && !c.Stopping(); ++i) {
            c.Send("x");
            peers::SleepMs(20);
        }
    });
    TTcpSocket sock;
    sock.ConnectTo("127.0.0.1", server.PortText());
    sock.SetInterPacketTimeout(false);
    uint32_t t0 = TickNow();
    sock.ReceiveLine(250);
    EXPECT_EQ(sock.ErrorCode(), 10060);
    EXPECT_LT(Since(t0), 800u);

    sock.SetInterPacketTimeout(true);
    sock.SetDeadline(250);
    t0 = TickNow();
    sock.ReceiveLine(1000);
    EXPECT_EQ(sock.ErrorCode(), 10060);
    EXPECT_LT(Since(t0), 800u);
    EXPECT_TRUE(sock.DeadlinePassed());
    sock.SetDeadline(-1);
    EXPECT_FALSE(sock.DeadlinePassed());
}

TEST(TcpSocket, SendToAPeerThatNeverReadsIsBounded) {
    TTcpServer server([](TConnection& c) { c.Idle(5000); });
    TTcpSocket sock;
    sock.SetNonblockSendTimeout(200);
    sock.ConnectTo("127.0.0.1", server.PortText());
    const std::string block(1 << 20, 'z');
    const uint32_t t0 = TickNow();
    for (int i = 0; i < 64 && sock.ErrorCode() == 0; ++i) sock.SendText(block);
    EXPECT_EQ(sock.ErrorCode(), 10060);
    EXPECT_LT(Since(t0), 3000u);
}

TEST(TcpSocket, CloseDiscardsInputFromAChattyPeer) {
    TTcpServer server([](TConnection& c) {
        const std::string block(65536, 'c');
        while (!c.Stopping()) c.Send(block);
    });
    TTcpSocket sock;
    sock.ConnectTo("127.0.0.1", server.PortText());
    peers::SleepMs(50);
    const uint32_t t0 = TickNow();
    sock.CloseConnection();
    EXPECT_EQ(sock.Handle(), kInvalidSocket);
    EXPECT_EQ(sock.ErrorCode(), 0);
    EXPECT_LT(Since(t0), 1000u);
}

TEST(TcpSocket, HttpTunnelThroughAProxy) {
    TTcpServer proxy([&](TConnection& c) {
        const std::string head = c.ReadHead();
        if (head.find("CONNECT 127.0.0.1:9 HTTP/1.0\r\n") == 0 &&
            head.find("Proxy-Authorization: Basic dTpw\r\n") != std::string::npos)
            c.Send("HTTP/1.0 200 Connection established\r\n\r\ntunnelled");
        else
            c.Send("HTTP/1.0 403 Forbidden\r\n\r\n");
        c.Hold(2000);
    });
    {
        TTcpSocket sock;
        sock.SetHTTPTunnelIP("127.0.0.1");
        sock.SetHTTPTunnelPort(proxy.PortText());
        sock.SetHTTPTunnelUser("u");
        sock.SetHTTPTunnelPass("p");
        sock.ConnectTo("127.0.0.1", "9");
        ASSERT_EQ(sock.ErrorCode(), 0);
        EXPECT_EQ(sock.ReceiveAvailable(2000), "tunnelled");
    }

    TTcpSocket refused;
    refused.SetHTTPTunnelIP("127.0.0.1");
    refused.SetHTTPTunnelPort(proxy.PortText());
    refused.ConnectTo("127.0.0.1", "9");
    EXPECT_EQ(refused.ErrorCode(), 10061);
}

TEST(TcpSocket, Socks5Connect) {
    TTcpServer proxy([](TConnection& c) {
        char b[64];
        recv(c.Fd(), b, 3, MSG_WAITALL);  // 05 01 00
        c.Send(std::string("\x05\x00", 2));
        const ssize_t n = recv(c.Fd(), b, 10, MSG_WAITALL);  // 05 01 00 01 a.b.c.d port
        if (n == 10 && b[3] == 1 && static_cast<unsigned char>(b[4]) == 127)
            c.Send(std::string("\x05\x00\x00\x01\x7f\x00\x00\x01\x00\x09", 10) + "via socks");
        c.Hold(2000);
    });
    TTcpSocket sock;
    sock.SetSocksIP("127.0.0.1");
    sock.SetSocksPort(proxy.PortText());
    sock.ConnectTo("127.0.0.1", "9");
    ASSERT_EQ(sock.ErrorCode(), 0);
    EXPECT_EQ(sock.ReceiveAvailable(2000), "via socks");
}

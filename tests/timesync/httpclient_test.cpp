#include "timesync/httpclient.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>

#include "net/loopback_peers.h"
#include "net/netutil.h"

using peers::TConnection;
using peers::TTcpServer;

extern char** environ;

namespace {
uint32_t Since(uint32_t t0) { return TickElapsed(t0, TickNow()); }

}  // namespace

class HttpClientTest : public ::testing::Test {
protected:
    // Every connection: record the request head, send response, hold the line open.
    void Start(std::string response, bool closeAfter = false) {
        FServer = std::make_unique<TTcpServer>([this, response, closeAfter](TConnection& c) {
            FServer->RecordHead(c.ReadHead());
            c.Send(response);
            if (!closeAfter) c.Hold(3000);
        });
        FClient.SetTimeout(300);
    }
    bool Get(const std::string& path = "/time.php") {
        return FClient.SendRequest("GET", FServer->Url(path));
    }
    std::string Body() { return FClient.Document().str(); }
    void TearDown() override {
        if (FServer) FServer->Stop();
        FServer.reset();
    }

    std::unique_ptr<TTcpServer> FServer;
    THttpClient FClient;
};

TEST_F(HttpClientTest, TheWorkersRequestOnTheWire) {
    Start("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
    ASSERT_TRUE(FClient.SendRequest("get", FServer->Url("/time.php?x=1")));
    FClient.Headers().Clear();
    ASSERT_TRUE(FClient.SendRequest("GET", "http://127.0.0.1:" + FServer->PortText()));
    const auto heads = FServer->Heads();
    ASSERT_EQ(heads.size(), 2u);
    EXPECT_EQ(heads[0], "GET /time.php?x=1 HTTP/1.0\r\nHost: 127.0.0.1:" + FServer->PortText() +
                            "\r\nKeep-Alive: 300\r\nConnection: keep-alive\r\n"
                            "User-Agent: Mozilla/4.0 (compatible; Tiktaal)\r\n\r\n");
    EXPECT_EQ(heads[1].substr(0, 16), "GET / HTTP/1.0\r\n");
    EXPECT_EQ(FServer->Connections(), 2);  // HTTP/1.0: closed after each response
}

TEST_F(HttpClientTest, PlainProxyTargetAndPortEightyLeftOutOfHost) {
    Start("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n");
    FClient.SetProxyHost("127.0.0.1");
    FClient.SetProxyPort(FServer->PortText());
    FClient.SetProxyUser("u");
    FClient.SetProxyPass("p");
    ASSERT_TRUE(FClient.SendRequest("GET", "http://time.example:80/t.php"));
    const std::string head = FServer->Heads().at(0);
    EXPECT_EQ(head.substr(0, head.find("\r\n")), "GET http://time.example:80/t.php HTTP/1.0");
    EXPECT_NE(head.find("\r\nHost: time.example\r\n"), std::string::npos);
    EXPECT_NE(head.find("\r\nProxy-Connection: keep-alive\r\n"), std::string::npos);
    EXPECT_NE(head.find("\r\nProxy-Authorization: Basic dTpw\r\n"), std::string::npos);
}

TEST_F(HttpClientTest, CountedBodyOnAConnectionLeftOpen) {
    Start(
        "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 25\r\n\r\n"
        "sync_time: 2024-01-02 03:04:05 and more that is never read");
    const uint32_t t0 = TickNow();
    ASSERT_TRUE(Get());
    EXPECT_LT(Since(t0), 250u);
    EXPECT_EQ(Body(), "sync_time: 2024-01-02 03:");
    EXPECT_EQ(FClient.ResultCode(), 200);
    EXPECT_EQ(FClient.ResultString(), "OK");
    EXPECT_EQ(FClient.DownloadSize(), 25);
    EXPECT_EQ(FClient.MimeType(), "text/plain");
    EXPECT_EQ(FClient.Headers()[0], "HTTP/1.0 200 OK");
}

TEST_F(HttpClientTest, ChunkedBody) {
    Start(
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
        "1a; ext=1\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n");
    ASSERT_TRUE(Get());
    EXPECT_EQ(Body(), "abcdefghijklmnopqrstuvwxyz");
}

TEST_F(HttpClientTest, BodyUntilCloseAndAServerThatNeverCloses) {
    Start("HTTP/1.0 200 OK\r\n\r\nuntil the end", true);
    ASSERT_TRUE(Get());
    EXPECT_EQ(Body(), "until the end");
    FServer.reset();
    Start("HTTP/1.0 200 OK\r\n\r\nstuck");
    const uint32_t t0 = TickNow();
    EXPECT_FALSE(Get());
    EXPECT_GE(Since(t0), 290u);
    EXPECT_EQ(FClient.Sock().ErrorCode(), 10060);
    EXPECT_EQ(Body(), "stuck");
}

TEST_F(HttpClientTest, NoStatusLineIsAllBody) {
    Start("sync_time: 2024-01-02 03:04:05\nsecond line", true);
    ASSERT_TRUE(Get());
    EXPECT_EQ(FClient.ResultCode(), 0);
    EXPECT_EQ(Body(), "sync_time: 2024-01-02 03:04:05\r\nsecond line");
}

TEST_F(HttpClientTest, NoContentAndNotModifiedReadNoBody) {
    for (const char* status : {"204 No Content", "304 Not Modified"}) {
        Start(std::string("HTTP/1.0 ") + status + "\r\n\r\n");
        const uint32_t t0 = TickNow();
        EXPECT_TRUE(Get()) << status;
        EXPECT_LT(Since(t0), 250u) << status;
        EXPECT_EQ(Body(), "");
        FServer.reset();
    }
}

TEST_F(HttpClientTest, FoldedHeadersInterimAnswersAndCookies) {
    Start(
        "HTTP/1.1 100 Continue\r\n\r\n"
        "HTTP/1.0 200 OK\r\nX-Long: first\r\n  second\r\n\tthird\r\n"
        "Set-Cookie: session = abc ; Path=/\r\nSet-Cookie: theme=dark\r\n"
        "Content-Length: 1\r\n\r\nx");
    FClient.Cookies().Add("session=old");
    ASSERT_TRUE(Get());
    EXPECT_EQ(FClient.ResultCode(), 200);
    EXPECT_GE(FClient.Headers().IndexOf("X-Long: first second third"), 0);
    ASSERT_EQ(FClient.Cookies().Count(), 2u);
    EXPECT_EQ(FClient.Cookies()[0], "session=abc");
    EXPECT_EQ(FClient.Cookies()[1], "theme=dark");
    FClient.Headers().Clear();
    ASSERT_TRUE(Get());
    EXPECT_NE(FServer->Heads().at(1).find("\r\nCookie: session=abc; theme=dark\r\n"),
              std::string::npos);
}

TEST_F(HttpClientTest, KeepAliveReusesTheConnectionOnHttp11) {
    FServer = std::make_unique<TTcpServer>([this](TConnection& c) {
        for (int i = 0; i < 2; ++i) {
            FServer->RecordHead(c.ReadHead());
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n" + std::to_string(i));
        }
        c.Hold(3000);
    });
    FClient.SetProtocol("1.1");
    ASSERT_TRUE(FClient.SendRequest("GET", FServer->Url("/a")));
    EXPECT_EQ(Body(), "0");
    FClient.Headers().Clear();
    ASSERT_TRUE(FClient.SendRequest("GET", FServer->Url("/b")));
    EXPECT_EQ(Body(), "1");
    EXPECT_EQ(FServer->Connections(), 1);
}

TEST_F(HttpClientTest, MalformedFramingEndsTheRequest) {
    struct Case {
        const char* response;
        int code;
    };
    const Case cases[] = {
        {"HTTP/1.0 200 OK\r\nContent-Length: 12a\r\n\r\nbody", 10022},
        {"HTTP/1.0 200 OK\r\nContent-Length: -5\r\n\r\nbody", 10022},
        {"HTTP/1.0 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\nbody", 10022},
        {"HTTP/1.0 200 OK\r\nContent-Length: 999999999999\r\n\r\nbody", 10055},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nbody", 10022},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10000000000000000\r\nbody", 10022},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFF\r\nbody", 10055},
    };
    for (const Case& c : cases) {
        Start(c.response);
        EXPECT_FALSE(Get()) << c.response;
        EXPECT_EQ(FClient.Sock().ErrorCode(), c.code) << c.response;
        FServer.reset();
    }
}

TEST_F(HttpClientTest, OversizedLinesHeadersAndBodies) {
    FClient.SetMaxLineLength(1024);
    FClient.SetMaxHeaderCount(50);
    FClient.SetMaxDocumentSize(4096);
    std::string manyHeaders = "HTTP/1.0 200 OK\r\n";
    for (int i = 0; i < 60; ++i) manyHeaders += "X-H" + std::to_string(i) + ": v\r\n";
    const std::string responses[] = {
        "HTTP/1.0 200 " + std::string(2000, 'R') + "\r\n\r\n",
        "HTTP/1.0 200 OK\r\nX-Big: " + std::string(2000, 'h') + "\r\n\r\n",
        manyHeaders + "\r\n",
    };
    for (const std::string& r : responses) {
        Start(r);
        EXPECT_FALSE(Get());
        EXPECT_EQ(FClient.Sock().ErrorCode(), 10055);
        FServer.reset();
    }
    Start("HTTP/1.0 200 OK\r\n\r\n" + std::string(10000, 'b'), true);
    EXPECT_FALSE(Get());
    EXPECT_EQ(FClient.Sock().ErrorCode(), 10055);
    EXPECT_EQ(Body().size(), 4096u);  // kept up to the bound, no further
}

TEST_F(HttpClientTest, ServerStopsMidBody) {
    Start("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nonly ten b", true);
    EXPECT_FALSE(Get());
    EXPECT_EQ(FClient.Sock().ErrorCode(), 10054);
    EXPECT_EQ(Body(), "only ten b");
}

TEST_F(HttpClientTest, TrickleIsCutByTheTotalDeadline) {
    FServer = std::make_unique<TTcpServer>([](TConnection& c) {
        c.ReadHead();
        c.Send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n");
        for (int i = 0; i < 500 && !c.Stopping(); ++i) {
            c.Send("t");
            peers::SleepMs(20);
        }
    });
    FClient.SetTimeout(1000);
    FClient.SetTotalTimeout(400);
    const uint32_t t0 = TickNow();
    EXPECT_FALSE(Get());
    EXPECT_EQ(FClient.Sock().ErrorCode(), 10060);
    EXPECT_LT(Since(t0), 900u);
    EXPECT_FALSE(Body().empty());
}

TEST_F(HttpClientTest, HttpsToAPlainServerIsRefusedAtTheHandshakeAndRefusalKeepsTheRequest) {
    // A server that answers in plain text, whatever it was sent.
    peers::TTcpServer plain([](peers::TConnection& c) { c.Send("HTTP/1.0 200 OK\r\n\r\n"); });
    EXPECT_FALSE(FClient.SendRequest("GET", "https://127.0.0.1:" + plain.PortText() + "/"));
    EXPECT_EQ(FClient.Sock().ErrorCode(), 10091);
    EXPECT_NE(FClient.Sock().ErrorText().find("TLS"), std::string::npos)
        << FClient.Sock().ErrorText();
    EXPECT_EQ(FClient.ResultCode(), 500);

    const int fd = peers::BoundSocket(SOCK_STREAM, "127.0.0.1", 0);
    const std::string closedPort = std::to_string(peers::LocalPort(fd));
    close(fd);
    THttpClient fresh;
    EXPECT_FALSE(fresh.SendRequest("GET", "http://127.0.0.1:" + closedPort + "/t.php"));
    EXPECT_EQ(fresh.Sock().ErrorCode(), 10061);
    EXPECT_EQ(fresh.ResultCode(), 500);
    EXPECT_EQ(fresh.Headers()[0], "GET /t.php HTTP/1.0");
}

// php -S with a real time script ---------------------------------------------------------

TEST(HttpClientPhp, TimeScriptBodyIsRead) {
    if (std::system("command -v php >/dev/null 2>&1") != 0) GTEST_SKIP() << "php is not on PATH";
    const int probe = peers::BoundSocket(SOCK_STREAM, "127.0.0.1", 0);
    const std::string port = std::to_string(peers::LocalPort(probe));
    close(probe);
    const std::string address = "127.0.0.1:" + port;
    const std::string root = std::string(TIKTAAL_FIXTURES) + "/http";
    const char* argv[] = {"php", "-S", address.c_str(), "-t", root.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawnp(&pid, "php", &actions, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    THttpClient client;
    client.SetTimeout(2000);
    bool ok = false;
    for (int i = 0; i < 100 && !ok; ++i) {
        ok = client.SendRequest("GET", "http://" + address + "/time.php");
        if (!ok) peers::SleepMs(30);
        client.Headers().Clear();
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    ASSERT_TRUE(ok);
    EXPECT_EQ(client.ResultCode(), 200);
    EXPECT_EQ(client.Document().str().rfind("sync_time: ", 0), 0u) << client.Document().str();
}

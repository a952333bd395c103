// https time scripts: the HTTP client over TLS against openssl s_server on loopback, with a
// certificate from a throw-away authority.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <thread>

#include "support/nts_peer.h"
#include "timesync/httpclient.h"

using nts_peer::TTestCa;

class HttpsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Ca = std::make_unique<TTestCa>("127.0.0.1");
        if (!Ca->Ok || !nts_peer::Run("command -v openssl >/dev/null 2>&1")) return;
        std::ofstream(Ca->Dir + "/time.php") << "sync_time: 2026-01-02 03:04:05\r\n";
        // On 127.0.0.2 too, where the certificate does not name the address asked.
        for (const char* address : {"127.0.0.1", "127.0.0.2"}) {
            const uint16_t port = nts_peer::FreePort(address, SOCK_STREAM);
            const pid_t pid = fork();
            if (pid == 0) {
                if (chdir(Ca->Dir.c_str()) != 0) _exit(1);
                freopen("/dev/null", "w", stdout);
                freopen("/dev/null", "w", stderr);
                const std::string accept = std::string(address) + ":" + std::to_string(port);
                execlp("openssl", "openssl", "s_server", "-quiet", "-WWW", "-accept",
                       accept.c_str(), "-cert", Ca->CertFile().c_str(), "-key",
                       Ca->KeyFile().c_str(), static_cast<char*>(nullptr));
                _exit(127);
            }
            Servers.push_back({pid, std::string("https://") + address + ":" + std::to_string(port)});
        }
    }
    static void TearDownTestSuite() {
        for (const auto& server : Servers) {
            kill(server.first, SIGTERM);
            waitpid(server.first, nullptr, 0);
        }
        Servers.clear();
        Ca.reset();
    }
    void SetUp() override {
        if (Servers.empty()) GTEST_SKIP() << "openssl is missing";
    }

    // s_server takes a moment to listen on a busy machine.
    static bool Get(THttpClient& client, const std::string& url) {
        for (int i = 0; i < 100; ++i) {
            if (client.SendRequest("GET", url)) return true;
            if (client.Sock().ErrorCode() != 10061) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    static inline std::unique_ptr<TTestCa> Ca;
    static inline std::vector<std::pair<pid_t, std::string>> Servers;
};

TEST_F(HttpsTest, ScriptIsReadWithTheCertificateChecked) {
    THttpClient client;
    client.SetCaFile(Ca->CaFile());
    client.SetTimeout(3000);
    ASSERT_TRUE(Get(client, Servers[0].second + "/time.php")) << client.Sock().GetErrorDescEx();
    EXPECT_EQ(client.ResultCode(), 200);
    EXPECT_EQ(client.Document().str(), "sync_time: 2026-01-02 03:04:05\r\n");
}

TEST_F(HttpsTest, UntrustedOrMisnamedCertificateIsRefusedWithItsReason) {
    THttpClient other;
    other.SetCaFile(Ca->OtherCaFile());
    other.SetTimeout(3000);
    EXPECT_FALSE(Get(other, Servers[0].second + "/time.php"));
    EXPECT_EQ(other.Sock().ErrorCode(), 10091);
    EXPECT_NE(other.Sock().GetErrorDescEx().find("certificate is not trusted"), std::string::npos)
        << other.Sock().GetErrorDescEx();
    EXPECT_TRUE(other.Document().str().empty());

    THttpClient misnamed;
    misnamed.SetCaFile(Ca->CaFile());
    misnamed.SetTimeout(3000);
    EXPECT_FALSE(Get(misnamed, Servers[1].second + "/time.php"));
    EXPECT_NE(misnamed.Sock().GetErrorDescEx().find("mismatch"), std::string::npos)
        << misnamed.Sock().GetErrorDescEx();

    THttpClient missing;
    missing.SetCaFile(Ca->Dir + "/no-such.pem");
    EXPECT_FALSE(Get(missing, Servers[0].second + "/time.php"));
    EXPECT_NE(missing.Sock().GetErrorDescEx().find("cannot be read"), std::string::npos)
        << missing.Sock().GetErrorDescEx();
}

// The serial device on a Windows COM port under Wine, against a real pseudo-terminal: the
// far end is reached over loopback TCP (with_com_peer.sh), and closing that connection
// unplugs the device.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "net/netsocket.h"
#include "serial/serialdevice.h"

namespace {

std::string EnvOr(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

const std::string Com = EnvOr("TIKTAAL_TEST_COM", "COM7");
const std::string FarPort = EnvOr("TIKTAAL_TEST_FAR", "0");

long MsSince(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}

// Retries cond every 20 ms until it holds or ms pass.
template <class F>
bool Eventually(F cond, int ms) {
    const auto start = std::chrono::steady_clock::now();
    while (!cond()) {
        if (MsSince(start) > ms) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// The board's side of the line.
class TFarEnd {
public:
    bool Connect() {
        return Eventually(
            [&] {
                FSock.AbortConnection();
                FSock.ConnectTo("127.0.0.1", FarPort);
                return FSock.ErrorCode() == 0;
            },
            5000);
    }
    void Send(const std::string& text) { FSock.SendText(text); }
    std::string Line() { return FSock.ReceiveUntil(3000, "\r"); }
    void Unplug() { FSock.AbortConnection(); }

private:
    TTcpSocket FSock;
};

// Opens the test's port; after an unplug socat needs a moment to offer a fresh one.
bool OpenWhenThere(TSerialDevice& d) {
    return Eventually(
        [&] {
            d.OpenPort(Com);
            return d.LastError() == 0;
        },
        5000);
}

// One port for the whole suite: a close ends socat's pseudo-terminal, and only a hang-up
// tells when the next one is there, so only the last test closes it.
class ComPort : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dev = new TSerialDevice;
        Far = new TFarEnd;
        if (!OpenWhenThere(*Dev)) return;
        Dev->ConfigurePort(115200, 8, 'N', 0, false, false);
        Connected = Dev->LastError() == 0 && Far->Connect();
    }
    static void TearDownTestSuite() {
        delete Far;
        delete Dev;
    }
    void SetUp() override {
        ASSERT_TRUE(Connected) << Dev->LastErrorDesc();
        Dev->LineBuffer.clear();
    }

    static inline TSerialDevice* Dev = nullptr;
    static inline TFarEnd* Far = nullptr;
    static inline bool Connected = false;
};

}  // namespace

TEST_F(ComPort, OpensExclusivelyAndGivesTheSystemsReasonOtherwise) {
    EXPECT_EQ(Dev->Device(), "\\\\.\\" + Com);
    EXPECT_NE(Dev->Handle(), -1);

    TSerialDevice second;
    second.OpenPort(Com);
    EXPECT_EQ(second.LastError(), 5);  // ERROR_ACCESS_DENIED
    EXPECT_EQ(second.LastErrorDesc(), TSerialDevice::GetErrorDesc(5));
    EXPECT_FALSE(second.LastErrorDesc().empty());
    EXPECT_EQ(second.Handle(), -1);

    TSerialDevice missing;
    missing.OpenPort("COM250");
    EXPECT_EQ(missing.LastError(), 2);  // ERROR_FILE_NOT_FOUND
    EXPECT_FALSE(missing.LastErrorDesc().empty());
    EXPECT_NE(missing.LastErrorDesc().back(), '\n');
    EXPECT_EQ(missing.Handle(), -1);
}

TEST_F(ComPort, LinesGoBothWaysAndRepliesAreReadAsFarAsTheyCame) {
    Dev->WriteText("2026-12-08,12:00:00\r");
    EXPECT_EQ(Dev->LastError(), 0);
    EXPECT_EQ(Far->Line(), "2026-12-08,12:00:00");

    Far->Send("OK\r\nO");
    EXPECT_EQ(Dev->ReadLine(2000), "OK");
    EXPECT_EQ(Dev->ReadUntil(300, "\r\n"), "");
    EXPECT_EQ(Dev->LastError(), ErrTimeout);
    EXPECT_EQ(Dev->LineBuffer, "O");
    Far->Send("K\r\n");
    EXPECT_EQ(Dev->ReadLine(2000), "OK");

    std::thread modem([&] {
        if (Far->Line() == "AT") Far->Send("AT\rOK\r\n");
    });
    EXPECT_EQ(Dev->SendModemCommand("AT"), "OK\r\n");
    EXPECT_TRUE(Dev->ATResult());
    modem.join();
}

TEST_F(ComPort, WaitsAreBoundedAndTheWakeEventEndsThem) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Dev->ReadChunk(300), "");
    EXPECT_EQ(Dev->LastError(), ErrTimeout);
    EXPECT_GE(MsSince(start), 250);
    EXPECT_LT(MsSince(start), 2000);

    TWakeSignal wake;
    std::thread raiser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        wake.Raise();
    });
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Dev->WaitLineOrWoken(10000, wake.Handle(), '\r'));
    EXPECT_LT(MsSince(start), 3000);
    raiser.join();

    // A raised stop ends a modem command's wait for its reply at once.
    Dev->WakeHandle = wake.Handle();
    start = std::chrono::steady_clock::now();
    Dev->AtTimeout = 10000;
    Dev->SendModemCommand("AT");
    EXPECT_EQ(Dev->LastError(), ErrTimeout);
    EXPECT_FALSE(Dev->ATResult());
    EXPECT_LT(MsSince(start), 3000);

    // Input that is waiting ends the wait at once and is read whole.
    wake.Clear();
    Dev->WakeHandle = kNoWaitHandle;
    Far->Send("line\r");
    EXPECT_TRUE(Dev->WaitLineOrWoken(3000, wake.Handle(), '\r'));
    EXPECT_EQ(Dev->ReadUntil(2000, "\r"), "line");
}

// Last: it unplugs the device.
TEST_F(ComPort, AnUnpluggedDeviceIsNoticedAndTheNextOpenFindsItBack) {
    Far->Unplug();
    const auto start = std::chrono::steady_clock::now();
    bool noticed = Eventually(
        [&] {
            Dev->ReadChunk(100);
            if (Dev->LastError() == ErrTimeout) Dev->FetchCommState();
            return Dev->LastError() != 0 && Dev->LastError() != ErrTimeout;
        },
        5000);
    EXPECT_TRUE(noticed);
    EXPECT_LT(MsSince(start), 5000);
    EXPECT_FALSE(Dev->LastErrorDesc().empty());

    Dev->ClosePort();
    ASSERT_TRUE(OpenWhenThere(*Dev)) << Dev->LastErrorDesc();
    TFarEnd again;
    ASSERT_TRUE(again.Connect());
    Dev->WriteText("back\r");
    EXPECT_EQ(again.Line(), "back");
}

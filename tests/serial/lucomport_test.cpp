#include "serial/lucomport.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <thread>

#include "serial/lucomthread.h"
#include "support/process_counts.h"
#include "support/pty_pair.h"
#include "support/wait.h"

namespace {

// Context switches of every thread but the calling one: while the test thread sleeps,
// these are the link thread's wake-ups.
long OtherThreadsSwitches() {
    rusage all{}, self{};
    getrusage(RUSAGE_SELF, &all);
    getrusage(RUSAGE_THREAD, &self);
    return (all.ru_nvcsw + all.ru_nivcsw) - (self.ru_nvcsw + self.ru_nivcsw);
}

// A component on the slave side of a fresh pair, every event recorded as text.
class LuComPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Pty.Ok());
        Port = std::make_unique<TLuComPort>();
        Port->BeginLoading();
        Port->SetComPort(Pty.SlavePath());
        Port->SetBaudRate("115200");
        Port->Loaded();
        Port->SetOnActive([this](TComponent*) { Add("active:" + std::to_string(Port->Active())); });
        Port->SetOnConnected([this](TComponent*) { Add("connected"); });
        Port->SetOnDisconnected([this](TComponent*) { Add("disconnected"); });
        Port->SetOnComError([this](TComponent*, int code, const std::string& text) {
            Add("error:" + std::to_string(code) + ":" + text);
        });
        Port->SetOnRxString([this](TComponent*, const std::string& s) { Rx.push_back(s); });
        Port->SetOnATTimeOut([this](TComponent*) { Add("timeout"); });
        Port->SetOnSendStr([this](TComponent*, const std::string& s) { Add("send:" + s); });
    }
    void TearDown() override {
        bool canClose = true;
        Port->OwnerCloseQuery(canClose);
        Port.reset();
        EXPECT_TRUE(WaitUntil([] { return TLuComThread::LiveCount() == 0; }, 1000));
    }
    void Add(const std::string& e) { Events.push_back(e); }
    bool Has(const std::string& e) const {
        for (const auto& x : Events)
            if (x == e) return true;
        return false;
    }
    bool WaitFor(const std::string& e, int ms = 2000) {
        return WaitUntil([&] { return Has(e); }, ms);
    }
    bool Connect() {
        Port->SetActive(true);
        Port->SetConnected(true);
        const bool ok = WaitFor("connected");
        Events.clear();
        return ok;
    }
    bool WaitThreadGone() {
        return WaitUntil(
            [&] { return Port->ComThread() == nullptr && TLuComThread::LiveCount() == 0; }, 3000);
    }
    // Whether another program could open the port right now.
    bool PortFree() {
        TSerialDevice other;
        other.OpenPort(Pty.SlavePath());
        return other.LastError() == 0;
    }

    TPtyPair Pty;
    std::unique_ptr<TLuComPort> Port;
    std::vector<std::string> Events;
    std::vector<std::string> Rx;
};

using Strings = std::vector<std::string>;

}  // namespace

TEST(LuComPortDefaults, ConstructionAndCheckIntervals) {
    TLuComPort port;
    EXPECT_EQ(port.ComPort(), "COM1");
    EXPECT_EQ(port.BaudRate(), "9600");
    EXPECT_EQ(port.DataBits(), "8");
    EXPECT_EQ(port.CheckCmd(), "AT");
    EXPECT_EQ(port.CheckInterval(), 5000);
    EXPECT_TRUE(port.RTS_());
    EXPECT_TRUE(port.DTR_());
    EXPECT_FALSE(port.Active());
    EXPECT_FALSE(port.AT_WORK());
    EXPECT_EQ(port.AnswerTimer().Interval(), 6250u);
    port.Loaded();
    EXPECT_FALSE(port.CheckTimer().Enabled());
    EXPECT_FALSE(port.AnswerTimer().Enabled());
    port.SetCheckInterval(2000);
    EXPECT_EQ(port.AnswerTimer().Interval(), 6000u);

    TATCommands source(nullptr);
    source.Add().ATcmd = "AT+A";
    source.Add().ATcmd = "AT+B";
    port.SetATCommands(source);
    ASSERT_EQ(port.ATCommands().Count(), 2u);
    EXPECT_EQ(port.ATCommands().Items(1).DisplayName(), "AT+B");
    EXPECT_EQ(port.ATCommands().Owner(), &port);
}

TEST(LuComThreadFraming, ChecksumAndAddressBytes) {
    EXPECT_EQ(TLuComThread::FrameLine("AB", false, false, false, ""), "AB");
    EXPECT_EQ(TLuComThread::FrameLine("AB", false, true, false, ""), "$#131@AB");
    EXPECT_EQ(TLuComThread::FrameLine("X", false, false, true, "5"), "\x05X");
    EXPECT_EQ(TLuComThread::FrameLine("X", true, false, true, "5"), "\xffX");
    EXPECT_EQ(TLuComThread::FrameLine("X", false, false, true, ""), "\x10X");
    EXPECT_EQ(TLuComThread::FrameLine("X", false, false, true, "300"), "\x2cX");
    EXPECT_EQ(TLuComThread::FrameLine("X", false, false, true, "-1"), "\xffX");
    EXPECT_EQ(TLuComThread::FrameLine("\xff\xff", false, true, false, ""), "$#510@\xff\xff");
}

TEST_F(LuComPortTest, MissingPortGivesTwoNoticesThenEnds) {
    Port->SetComPort("/nonexistent/ttyX");
    Port->SetActive(true);
    Port->SetConnected(true);
    ASSERT_TRUE(WaitThreadGone());
    EXPECT_EQ(Events, (Strings{"active:1", "error:2:No such file or directory",
                               "error:9:Bad file descriptor", "active:0", "disconnected"}));
    EXPECT_FALSE(Port->Active());
    EXPECT_FALSE(Port->Connected());
}

TEST_F(LuComPortTest, ActiveAloneOpensNothingUntilConnected) {
    Port->SetActive(true);
    DelayWithMessages(30);
    EXPECT_EQ(Events, Strings{"active:1"});
    EXPECT_TRUE(PortFree());
    Port->SetConnected(true);
    ASSERT_TRUE(WaitFor("connected", 500));
    EXPECT_FALSE(PortFree());  // a second opener is refused while the link holds the port
}

TEST_F(LuComPortTest, SendStrWhileNotConnectedRaisesNothing) {
    Port->SendStr("AT+CZAS=1", false);
    Port->SetActive(true);
    Port->SendStr("AT+CZAS=2", false);
    DelayWithMessages(30);
    EXPECT_EQ(Events, Strings{"active:1"});
    Port->SetConnected(true);
    ASSERT_TRUE(WaitFor("connected"));
    EXPECT_EQ(Pty.Drain(30), "");
}

TEST_F(LuComPortTest, QueuedLineIsWrittenExactlyOnceWithOneCR) {
    ASSERT_TRUE(Connect());
    std::string seenBeforeWrite = "unset";
    Port->SetOnSendStr([&](TComponent* sender, const std::string& s) {
        EXPECT_EQ(sender, Port.get());
        Add("send:" + s);
        seenBeforeWrite = Pty.Drain(0);
    });
    Port->SendStr("AT+CZAS=2011-05-04,12:34:56", false);
    EXPECT_EQ(Events, Strings{"send:AT+CZAS=2011-05-04,12:34:56"});
    EXPECT_EQ(seenBeforeWrite, "");
    EXPECT_EQ(Pty.Receive(28), "AT+CZAS=2011-05-04,12:34:56\r");
    EXPECT_EQ(Pty.Drain(50), "");
}

TEST_F(LuComPortTest, ReplyLinesDropTheLFAndEmptyLines) {
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(Pty.Send("OK\r\n"));
    ASSERT_TRUE(Pty.Send("\r\n"));
    ASSERT_TRUE(Pty.Send(std::string("B\0N\r", 4)));
    ASSERT_TRUE(WaitUntil([&] { return Rx.size() >= 2; }, 1000));
    DelayWithMessages(20);
    EXPECT_EQ(Rx, (Strings{"OK", std::string("B\0N", 3)}));
    EXPECT_TRUE(Port->AT_WORK());
}

// Each "OK" CR LF leaves its LF waiting; the lines behind it must not wait for a CR that
// never comes (that wait was 200 ms per line).
TEST_F(LuComPortTest, LinesNeverWaitBehindAReplysLeftoverLF) {
    ASSERT_TRUE(Connect());
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) {
        Port->SendStr("L" + std::to_string(i), false);
        ASSERT_EQ(Pty.ReadLine(), "L" + std::to_string(i) + "\r");
        ASSERT_TRUE(Pty.Send("OK\r\n"));
        ASSERT_TRUE(WaitUntil([&] { return Rx.size() == static_cast<size_t>(i + 1); }, 1000));
    }
    EXPECT_LT(ElapsedMs(start), 500);
    EXPECT_EQ(Rx, (Strings(5, "OK")));
    // A reply that comes in pieces is still one line.
    ASSERT_TRUE(Pty.Send("par"));
    DelayWithMessages(30);
    ASSERT_TRUE(Pty.Send("tial\r"));
    ASSERT_TRUE(WaitUntil([&] { return Rx.size() == 6; }, 1000));
    EXPECT_EQ(Rx.back(), "partial");
}

TEST_F(LuComPortTest, FloodWithoutCRIsHandedOnInBoundedPieces) {
    ASSERT_TRUE(Connect());
    const size_t flood = 3 * TLuComThread::MaxReplyLength + 100;
    ASSERT_TRUE(Pty.Send(std::string(flood, 'z') + "OK\r"));
    ASSERT_TRUE(WaitUntil(
        [&] {
            return !Rx.empty() && Rx.back().size() >= 2 &&
                   Rx.back().substr(Rx.back().size() - 2) == "OK";
        },
        2000));
    size_t total = 0;
    for (const auto& r : Rx) {
        EXPECT_LE(r.size(), static_cast<size_t>(TLuComThread::MaxReplyLength));
        total += r.size();
    }
    EXPECT_EQ(total, flood + 2);
    EXPECT_EQ(Events.size(), 3u);
    EXPECT_TRUE(Has("error:9996:Maximal buffer length exceeded"));
}

TEST_F(LuComPortTest, StopWhileOpenEndsAndReleasesThePort) {
    ASSERT_TRUE(Connect());
    Port->SetActive(false);
    ASSERT_TRUE(WaitThreadGone());
    EXPECT_EQ(Events, (Strings{"disconnected", "active:0", "disconnected"}));
    EXPECT_TRUE(PortFree());
}

TEST_F(LuComPortTest, VanishedBoardEndsTheThreadAtOnce) {
    ASSERT_TRUE(Connect());
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // the link sleeps now
    const auto start = std::chrono::steady_clock::now();
    Pty.CloseMaster();
    ASSERT_TRUE(WaitFor("error:5:Input/output error"));
    EXPECT_LT(ElapsedMs(start), 200);
    ASSERT_TRUE(WaitThreadGone());
    EXPECT_EQ(Events,
              (Strings{"error:5:Input/output error", "disconnected", "active:0", "disconnected"}));
    EXPECT_FALSE(Port->Active());
}

TEST_F(LuComPortTest, QuietLinkSleepsButServesEveryRequestAtOnce) {
    ASSERT_TRUE(Connect());
    DelayWithMessages(20);
    // The modem-line reads that the pty refuses go on meanwhile and raise nothing.
    const long before = OtherThreadsSwitches();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long wakeups = OtherThreadsSwitches() - before;
    EXPECT_LE(wakeups, 15) << "a quiet link should wake about every 100 ms";
    DelayWithMessages(5);
    EXPECT_EQ(Events, Strings{});

    // Lines sent into the thread's sleep, at different points of it.
    long slowest = 0;
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(23 + 17 * i));
        const auto start = std::chrono::steady_clock::now();
        Port->SendStr("T" + std::to_string(i), false);
        EXPECT_EQ(Pty.Receive(3, 500), "T" + std::to_string(i) + "\r");
        slowest = std::max(slowest, ElapsedMs(start));
    }
    EXPECT_LT(slowest, 50);

    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    const auto start = std::chrono::steady_clock::now();
    bool canClose = true;
    Port->OwnerCloseQuery(canClose);
    EXPECT_EQ(Port->ComThread(), nullptr);
    EXPECT_LT(ElapsedMs(start), 40);
}

TEST_F(LuComPortTest, QueuedBurstGoesOutUnpacedInOrderAndOnce) {
    ASSERT_TRUE(Connect());
    const int lines = 300;
    std::string expected;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < lines; ++i) {
        char line[8];
        std::snprintf(line, sizeof line, "L%04d", i);
        Port->SendStr(line, false);
        expected += std::string(line) + "\r";
    }
    EXPECT_EQ(Pty.Receive(expected.size()), expected);
    // A pause of even 2 ms per pass would take 600 ms.
    EXPECT_LT(ElapsedMs(start), 400);
    EXPECT_EQ(Pty.Drain(20), "");
}

TEST_F(LuComPortTest, ChecksumAndAddressFramingOnTheWire) {
    Port->SetUseCRC(true);
    Port->SetUseRS485(true);
    Port->SetRS485adr("5");
    ASSERT_TRUE(Connect());
    Port->SendStr("AB", false);
    EXPECT_EQ(Pty.Receive(10), "\x05$#131@AB\r");
    Port->SendStr("AB", true);
    EXPECT_EQ(Pty.Receive(10), "\xff$#131@AB\r");
}

TEST_F(LuComPortTest, GeneralCallPropertyAndAddressedCheckCommand) {
    Port->SetUseRS485(true);
    Port->SetRS485adr("5");
    Port->SetGeneralCall(true);
    ASSERT_TRUE(Connect());
    Port->SendStr("X", false);
    EXPECT_EQ(Pty.Receive(3), "\xffX\r");
    // A check is only queued when nothing else waits: let the thread finish with X.
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::lock_guard<std::mutex> g(Port->QueueLock());
            return Port->ComThread()->SendQueue.Empty();
        },
        500));
    Port->CheckTimer().Tick();
    EXPECT_EQ(Pty.Receive(4),
              "\x05"
              "AT\r");
}

TEST_F(LuComPortTest, FourFailedWritesDropTheLineAndTheLink) {
    Port->SetDeadlockTimeout(30);
    ASSERT_TRUE(Connect());
    // The board never reads: the pty buffer fills and every further write times out.
    const std::string big(1 << 20, 'x');
    Port->SendStr(big, false);
    ASSERT_TRUE(WaitFor("disconnected", 3000));
    const std::string notice = "error:9997:9997 - Serial Eror: ErrTimeout";
    EXPECT_EQ(Events, (Strings{"send:" + big, notice, notice, notice, notice,
                               "error:9997:999 - Serial ErrFrame", "disconnected"}));
    EXPECT_FALSE(Port->Connected());
    EXPECT_TRUE(Port->ComThread()->PortOpen);

    Events.clear();
    Port->SendStr("dropped", false);
    const std::string early = Pty.Drain(50);
    EXPECT_EQ(early.find_first_not_of('x'), std::string::npos);  // only the accepted part
    EXPECT_LT(early.size(), big.size());
    Port->SetConnected(true);
    ASSERT_TRUE(WaitFor("connected"));
    Port->SendStr("next", false);
    EXPECT_EQ(Pty.Receive(5), "next\r");
    EXPECT_EQ(Pty.Drain(30), "");
}

TEST_F(LuComPortTest, AnswerWatchDropsASilentLinkAndReconnectsOnRequest) {
    Port->SetEnableCheckTimer(true);
    ASSERT_TRUE(Connect());
    Port->CheckTimer().Tick();
    EXPECT_EQ(Pty.Receive(3), "AT\r");
    Port->AnswerTimer().Tick();
    ASSERT_TRUE(WaitFor("disconnected", 500));
    EXPECT_EQ(Events, (Strings{"timeout", "disconnected"}));
    EXPECT_TRUE(PortFree());
    Port->SetConnected(true);
    ASSERT_TRUE(WaitFor("connected", 500));
    ASSERT_TRUE(Pty.Send("anything\r"));
    ASSERT_TRUE(WaitUntil([&] { return !Rx.empty(); }, 500));
    EXPECT_TRUE(Port->CheckTimer().Enabled());
    EXPECT_TRUE(Port->AnswerTimer().Enabled());
}

TEST_F(LuComPortTest, HandlerExceptionEndsTheThreadButKeepsActive) {
    Port->SetOnConnected([](TComponent*) { throw std::runtime_error("handler failed"); });
    Port->SetActive(true);
    Port->SetConnected(true);
    ASSERT_TRUE(WaitThreadGone());
    EXPECT_EQ(Events, (Strings{"active:1", "error:-200:Thread exception", "disconnected"}));
    EXPECT_TRUE(Port->Active());
    EXPECT_TRUE(PortFree());
}

TEST_F(LuComPortTest, OwnerCloseQueryStopsTheLinkAndReleasesThePort) {
    ASSERT_TRUE(Connect());
    bool canClose = false;
    Port->OwnerCloseQuery(canClose);
    EXPECT_NE(Port->ComThread(), nullptr);
    canClose = true;
    Port->OwnerCloseQuery(canClose);
    EXPECT_TRUE(canClose);
    EXPECT_EQ(Port->ComThread(), nullptr);
    EXPECT_TRUE(PortFree());
}

TEST_F(LuComPortTest, StopDuringABlockedWriteEndsWithinTheWriteBound) {
    Port->SetDeadlockTimeout(300);
    ASSERT_TRUE(Connect());
    Port->SendStr(std::string(1 << 20, 'x'), false);
    DelayWithMessages(20);  // the thread is now waiting for room in the full buffer
    const auto start = std::chrono::steady_clock::now();
    bool canClose = true;
    Port->OwnerCloseQuery(canClose);
    EXPECT_LT(ElapsedMs(start), 300 + 250);
    EXPECT_EQ(Port->ComThread(), nullptr);
    EXPECT_TRUE(PortFree());
}

TEST_F(LuComPortTest, ConnectCyclesLeaveDescriptorsAndThreadsAsTheyWere) {
    auto settle = [&] {
        DelayWithMessages(20);  // lets finished threads be freed
        return std::make_pair(OpenFileCount(), ThreadCount());
    };
    const auto before = settle();
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(Connect());
        Port->SetActive(false);
        ASSERT_TRUE(WaitThreadGone());
    }
    EXPECT_EQ(settle(), before);
}

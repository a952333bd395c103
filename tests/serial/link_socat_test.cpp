// The link against socat's pty pair: the board reads the far end; killing socat is the
// board unplugged, starting it again is the board plugged back in.
#include <gtest/gtest.h>

#include <cstdlib>

#include "serial/lucomport.h"
#include "support/socat_pair.h"
#include "support/wait.h"
#include "toolkit/timer.h"

TEST(LinkWithSocat, SendsLinesLosesTheBoardAndReconnectsOnTheNextTick) {
    if (!SocatAvailable()) GTEST_SKIP() << "socat is not installed";
    char tmpl[] = "/tmp/tiktaal-socatXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    TSocatPair socat(dir);
    ASSERT_TRUE(socat.Start());

    TLuComPort port;
    port.BeginLoading();
    port.SetComPort(socat.A);
    port.SetBaudRate("115200");
    port.Loaded();
    int connects = 0, disconnects = 0;
    port.SetOnConnected([&](TComponent*) { ++connects; });
    port.SetOnDisconnected([&](TComponent*) { ++disconnects; });

    // The window's reconnect tick, at a test's pace.
    TTimer reconnect;
    reconnect.SetInterval(50);
    reconnect.SetOnTimer([&] {
        if (port.Connected()) return;
        port.SetComPort(socat.A);
        if (!port.Active()) port.SetActive(true);
        if (!port.Connected()) port.SetConnected(true);
    });
    ASSERT_TRUE(WaitUntil([&] { return connects == 1; }, 2000));

    {
        TBoard board(socat.B);
        ASSERT_TRUE(board.Ok());
        port.SendStr("AT+CZAS=2011-05-04,12:34:56", false);
        EXPECT_EQ(board.ReadLine(), "AT+CZAS=2011-05-04,12:34:56\r");
        EXPECT_EQ(board.Drain(30), "");
    }

    reconnect.SetEnabled(false);
    socat.Stop();
    ASSERT_TRUE(WaitUntil([&] { return port.ComThread() == nullptr; }, 2000));
    EXPECT_FALSE(port.Connected());
    EXPECT_GE(disconnects, 1);
    port.SendStr("lost", false);  // dropped: the link is down

    ASSERT_TRUE(socat.Start());
    reconnect.SetEnabled(true);
    ASSERT_TRUE(WaitUntil([&] { return connects == 2; }, 2000));
    TBoard board(socat.B);
    ASSERT_TRUE(board.Ok());
    port.SendStr("AT+CZAS=2011-05-04,12:35:00", false);
    EXPECT_EQ(board.ReadLine(), "AT+CZAS=2011-05-04,12:35:00\r");
    EXPECT_EQ(board.Drain(30), "");

    reconnect.SetEnabled(false);
    bool canClose = true;
    port.OwnerCloseQuery(canClose);
    socat.Stop();
    std::system(("rm -rf " + dir).c_str());
}

// Lines due at a moment (SendStrAt) against the stand-in board, which models the wire time
// at the baud rate and prints how far the time a line names was from its CR's arrival.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>

#include "serial/lucomport.h"
#include "support/board_tool.h"
#include "support/wait.h"

namespace {

using std::chrono::system_clock;

std::string LineFor(system_clock::time_point due) {
    const std::time_t t = system_clock::to_time_t(due);
    std::tm local{};
    localtime_r(&t, &local);
    char buf[64];
    std::strftime(buf, sizeof buf, "AT+CZAS=%Y-%m-%d,%H:%M:%S", &local);
    return buf;
}

class TimedLine : public ::testing::TestWithParam<int> {};

}  // namespace

TEST_P(TimedLine, TheCRArrivesOnItsSecondAndOtherLinesDoNotWait) {
    TBoardTool board(BOARD_TOOL);
    ASSERT_TRUE(board.Start({"--baud", std::to_string(GetParam())}));
    TLuComPort port;
    port.BeginLoading();
    port.SetComPort(board.Link());
    port.SetBaudRate(std::to_string(GetParam()));
    port.Loaded();
    bool connected = false;
    port.SetOnConnected([&](TComponent*) { connected = true; });
    port.SetActive(true);
    port.SetConnected(true);
    ASSERT_TRUE(WaitUntil([&] { return connected; }, 2000));

    for (size_t i = 1; i <= 2; ++i) {
        const auto due =
            std::chrono::ceil<std::chrono::seconds>(system_clock::now()) + std::chrono::seconds(1);
        port.SendStrAt(LineFor(due), false, due);
        port.SendStr("now" + std::to_string(i), false);
        ASSERT_TRUE(WaitUntil([&] { return board.ClockErrors().size() == i; }, 3000));
    }
    // The benchmark gives the real spread; this only says the lines land on their second (a
    // busy machine may wake the link thread late now and then, so one close one suffices).
    const std::vector<double> errors = board.ClockErrors();
    EXPECT_TRUE(
        std::any_of(errors.begin(), errors.end(), [](double e) { return std::fabs(e) < 0.005; }));
    for (double e : errors) EXPECT_LT(std::fabs(e), 0.100) << e;
    const auto received = board.Lines("received:");
    ASSERT_EQ(received.size(), 4u);
    EXPECT_NE(received[0].find("now1"), std::string::npos);
    EXPECT_NE(received[2].find("now2"), std::string::npos);

    bool canClose = true;
    port.OwnerCloseQuery(canClose);
}

INSTANTIATE_TEST_SUITE_P(Bauds, TimedLine, ::testing::Values(9600, 115200));

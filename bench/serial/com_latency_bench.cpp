// Latency from SendStr to the whole line at the far side of a serial port, the same on
// every system: the port is a name the system opens (COM7 on Windows, a pseudo-terminal's
// path on Linux) and its far end is reached over loopback TCP (socat, com_latency_bench.sh),
// so that the figures of the two systems differ only in the system's part of the link.
// Usage: com_latency_bench PORT FAR_TCP_PORT [lines=1000]
#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench_stats.h"
#include "net/netsocket.h"
#include "serial/lucomport.h"
#include "support/wait.h"

using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PORT FAR_TCP_PORT [lines]\n", argv[0]);
        return 2;
    }
    const std::string portName = argv[1], farPort = argv[2];
    const int lines = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1000;

    TLuComPort port;
    port.BeginLoading();
    port.SetComPort(portName);
    port.SetBaudRate("115200");
    port.Loaded();
    std::atomic<int> connects{0};
    port.SetOnConnected([&](TComponent*) { ++connects; });
    port.SetActive(true);
    port.SetConnected(true);
    if (!WaitUntil([&] { return connects > 0; }, 5000)) {
        std::fprintf(stderr, "could not connect to %s\n", portName.c_str());
        return 1;
    }
    // socat hands the far end over once the port is open.
    TTcpSocket board;
    for (int i = 0; i < 100; ++i) {
        board.AbortConnection();
        board.ConnectTo("127.0.0.1", farPort);
        if (board.ErrorCode() == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (board.ErrorCode() != 0) {
        std::fprintf(stderr, "far end: %s\n", board.ErrorText().c_str());
        return 1;
    }

    const std::string line = "AT+CZAS=2011-05-04,12:34:56";
    std::vector<double> lat;
    for (int i = 0; i < lines; ++i) {
        const auto t0 = Clock::now();
        port.SendStr(line, false);
        if (board.ReceiveUntil(3000, "\r") != line) {
            std::fprintf(stderr, "line %d did not arrive: %s\n", i, board.ErrorText().c_str());
            return 1;
        }
        lat.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::printf(
        "latency SendStr -> far side over %s: median %.3f ms, p99 %.3f ms, max %.3f ms (%d "
        "lines)\n",
        portName.c_str(), Percentile(lat, 0.5), Percentile(lat, 0.99), Percentile(lat, 1.0), lines);
    bool canClose = true;
    port.OwnerCloseQuery(canClose);
    return 0;
}

// Figures of the serial link over a pseudo-terminal: CPU while open and idle, latency from
// SendStr to the bytes at the far side, throughput of a long queue, and a connect/disconnect
// cycle count check of descriptors and threads.
// Usage: serial_bench [idle-seconds=10] [cycles=1000]
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench_stats.h"
#include "serial/lucomport.h"
#include "support/wait.h"
#include "support/process_counts.h"
#include "toolkit/mainthread.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds(long* switches = nullptr) {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    if (switches) *switches = u.ru_nvcsw + u.ru_nivcsw;
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Reads from the master until `crs` carriage returns arrived; returns false on time-out.
bool ReadCRs(int master, long crs, int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[65536];
    while (crs > 0) {
        if (Clock::now() >= end) return false;
        const ssize_t n = read(master, buf, sizeof buf);
        if (n > 0) {
            crs -= std::count(buf, buf + n, '\r');
            continue;
        }
        pollfd p{master, POLLIN, 0};
        poll(&p, 1, 20);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const int cycles = argc > 2 ? std::atoi(argv[2]) : 1000;

    termios raw{};
    cfmakeraw(&raw);
    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, &raw, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    close(slave);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    TLuComPort port;
    port.BeginLoading();
    port.SetComPort(name);
    port.SetBaudRate("115200");
    port.Loaded();
    std::atomic<int> connects{0};
    port.SetOnConnected([&](TComponent*) { ++connects; });
    auto connect = [&] {
        const int before = connects;
        port.SetActive(true);
        port.SetConnected(true);
        return WaitUntil([&] { return connects > before; }, 2000);
    };
    if (!connect()) {
        std::fprintf(stderr, "could not connect to %s\n", name);
        return 1;
    }

    // 1. CPU while the link is open and idle; the main thread sits in the event loop as the
    // window's does, so what is measured is the link thread.
    long sw0 = 0, sw1 = 0;
    const double cpu0 = CpuSeconds(&sw0);
    const auto wall0 = Clock::now();
    QEventLoop idle;
    QTimer::singleShot(idleSeconds * 1000, &idle, &QEventLoop::quit);
    idle.exec();
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    const double cpu = CpuSeconds(&sw1) - cpu0;
    std::printf(
        "idle CPU: %.1f ms per second of wall time (%.2f%% of one core), %.0f wake-ups/s, over "
        "%.1f s\n",
        cpu * 1000 / wall, cpu * 100 / wall, static_cast<double>(sw1 - sw0) / wall, wall);

    // 2. Latency from SendStr to the whole line at the far side.
    const std::string line = "AT+CZAS=2011-05-04,12:34:56";
    std::vector<double> lat;
    for (int i = 0; i < 1000; ++i) {
        const auto t0 = Clock::now();
        port.SendStr(line, false);
        if (!ReadCRs(master, 1, 2000)) {
            std::fprintf(stderr, "line %d did not arrive\n", i);
            return 1;
        }
        lat.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::printf(
        "latency SendStr -> far side: median %.3f ms, p99 %.3f ms, max %.3f ms (1000 lines)\n",
        Percentile(lat, 0.5), Percentile(lat, 0.99), Percentile(lat, 1.0));

    // 2b. The same with a board that answers every line with "OK" CR LF: the LF of each
    // reply waits in the input until the next one, and no line may wait behind it.
    std::atomic<int> replies{0};
    port.SetOnRxString([&](TComponent*, const std::string&) { ++replies; });
    std::vector<double> answered;
    for (int i = 0; i < 1000; ++i) {
        const auto t0 = Clock::now();
        port.SendStr(line, false);
        if (!ReadCRs(master, 1, 2000)) {
            std::fprintf(stderr, "answered line %d did not arrive\n", i);
            return 1;
        }
        answered.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        if (write(master, "OK\r\n", 4) != 4 || !WaitUntil([&] { return replies > i; }, 2000)) {
            std::fprintf(stderr, "reply %d was not read\n", i);
            return 1;
        }
    }
    port.SetOnRxString(nullptr);
    std::printf(
        "latency SendStr -> far side, board answering OK CR LF: median %.3f ms, p99 %.3f ms, max "
        "%.3f ms (1000 lines)\n",
        Percentile(answered, 0.5), Percentile(answered, 0.99), Percentile(answered, 1.0));

    // 3. Throughput of 10 000 lines queued at once.
    const long lines = 10000;
    std::atomic<bool> done{false};
    const auto q0 = Clock::now();
    std::thread reader([&] { done = ReadCRs(master, lines, 60000); });
    for (long i = 0; i < lines; ++i) port.SendStr(line, false);
    reader.join();
    const double qs = std::chrono::duration<double>(Clock::now() - q0).count();
    std::printf("queued lines: %ld in %.3f s = %.0f lines/s%s\n", lines, qs,
                static_cast<double>(lines) / qs, done ? "" : " (INCOMPLETE)");

    // 4. Connect and disconnect cycles: descriptors and threads must come back to the start.
    bool canClose = true;
    port.OwnerCloseQuery(canClose);
    DelayWithMessages(20);
    const int fds0 = OpenFileCount(), tasks0 = ThreadCount();
    const auto c0 = Clock::now();
    int failed = 0;
    for (int i = 0; i < cycles; ++i) {
        if (!connect()) ++failed;
        port.OwnerCloseQuery(canClose);
    }
    DelayWithMessages(50);
    std::printf(
        "%d connect/disconnect cycles in %.1f s (%d failed): fds %d -> %d, threads %d -> %d\n",
        cycles, std::chrono::duration<double>(Clock::now() - c0).count(), failed, fds0,
        OpenFileCount(), tasks0, ThreadCount());
    close(master);
    return 0;
}

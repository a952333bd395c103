// Figures of the GSM engine against the modem simulator answering at once: connection time,
// the time to send a three-part message, and the modem thread's CPU use and wake-ups per
// second while connected and idle, with the process's resident memory.
//   gsm_bench [IDLE_SECONDS] [ROUNDS]
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "gsm/lugsm.h"
#include "gsm/lugsmthread.h"
#include "modem_sim.h"
#include "support/wait.h"
#include "toolkit/mainthread.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// CPU seconds and context switches of one thread of this process.
struct TThreadUse {
    double Cpu = 0;
    long Switches = 0;
};

// On-CPU time from schedstat (nanoseconds, unlike the 10 ms ticks of stat).
TThreadUse ThreadUse(pid_t tid) {
    TThreadUse u;
    const std::string base = "/proc/self/task/" + std::to_string(tid);
    std::ifstream sched(base + "/schedstat");
    long long ns = 0;
    if (sched >> ns) u.Cpu = static_cast<double>(ns) / 1e9;
    std::ifstream status(base + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
            line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
            u.Switches += std::atol(line.substr(line.find(':') + 1).c_str());
    return u;
}

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.substr(6).c_str());
    return -1;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void Idle(int seconds) {
    QEventLoop idle;
    QTimer::singleShot(seconds * 1000, &idle, &QEventLoop::quit);
    idle.exec();
}

void ReportIdle(const char* what, pid_t tid, int seconds) {
    const TThreadUse a = ThreadUse(tid);
    const auto t0 = Clock::now();
    Idle(seconds);
    const double wall = MsSince(t0) / 1000;
    const TThreadUse b = ThreadUse(tid);
    std::printf(
        "idle, %s: modem thread %.3f ms CPU per second (%.4f%% of a core), %.1f "
        "wake-ups/s over %.0f s; resident %ld KiB\n",
        what, (b.Cpu - a.Cpu) * 1000 / wall, (b.Cpu - a.Cpu) * 100 / wall,
        static_cast<double>(b.Switches - a.Switches) / wall, wall, ResidentKiB());
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int idleSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;

    char dir[] = "/tmp/gsmbenchXXXXXX";
    if (!mkdtemp(dir)) return 1;
    TModemSimOptions options;
    options.LinkPath = std::string(dir) + "/modem";
    TModemSim modem(options);
    if (!modem.Start()) return 1;

    TLuGSM gsm;
    gsm.SetComPort(options.LinkPath);
    gsm.SetCheckPwrSig(false);
    gsm.CheckTimer().SetEnabled(false);
    int connects = 0, sends = 0;
    gsm.SetOnConnected([&](TComponent*) { ++connects; });
    gsm.SetOnAfterSend([&](TComponent*, std::string&, const std::string&, int&, const std::string&,
                           int, int, int, bool) { ++sends; });
    gsm.SetActive(true);

    // 1. Connected := True to OnConnected, the design's pacing (ATDelay 20 ms) and none.
    for (int delay : {20, 0}) {
        gsm.SetATDelay(delay);
        std::vector<double> times;
        for (int i = 0; i < rounds; ++i) {
            const int before = connects;
            const auto t0 = Clock::now();
            gsm.SetConnected(true);
            if (!WaitUntil([&] { return connects > before; }, 30000)) {
                std::fprintf(stderr, "no connection\n");
                return 1;
            }
            times.push_back(MsSince(t0));
            gsm.SetConnected(false);
            WaitUntil([&] { return !gsm.Connected(); }, 5000);
        }
        std::printf(
            "Connected := True -> OnConnected, ATDelay %d ms: median %.1f ms, max %.1f "
            "ms (%d rounds, %d commands a connection)\n",
            delay, Median(times), *std::max_element(times.begin(), times.end()), rounds,
            static_cast<int>(modem.Received().size()) / (rounds * (delay ? 1 : 2)));
    }

    // 2. A three-part message: SendSMS to the third OnAfterSend.
    gsm.SetATDelay(20);
    const int connectsBefore = connects;
    gsm.SetConnected(true);
    WaitUntil([&] { return connects > connectsBefore; }, 30000);
    // The commands queued at connection (listings, phone books) run first.
    WaitUntil([&] { return gsm.GSMThread()->CommandCount() == 0; }, 30000);
    Idle(1);
    gsm.SetSMSNumber("600100200");
    gsm.SetSMSText(std::string(400, 'x'));
    std::vector<double> sendTimes;
    for (int i = 0; i < rounds; ++i) {
        const int before = sends;
        const auto t0 = Clock::now();
        gsm.SendSMS();
        if (!WaitUntil([&] { return sends == before + 3; }, 30000)) {
            std::fprintf(stderr, "message not sent\n");
            return 1;
        }
        sendTimes.push_back(MsSince(t0));
        if (getenv("GSM_BENCH_VERBOSE"))
            std::printf("  message %d: %.1f ms\n", i, sendTimes.back());
    }
    std::printf(
        "three-part message, SendSMS -> third OnAfterSend: median %.1f ms, max %.1f ms "
        "(%d messages)\n",
        Median(sendTimes), *std::max_element(sendTimes.begin(), sendTimes.end()), rounds);

    // 3. Connected and idle: the main thread sits in its event loop as a window's does.
    const pid_t tid = static_cast<pid_t>(gsm.GSMThread()->ThreadId());
    ReportIdle("no readings", tid, idleSeconds);
    gsm.SetCheckPwrSig(true);
    gsm.SetCheckInterval(5);
    ReportIdle("battery and signal every 5 s", tid, idleSeconds);

    gsm.SetActive(false);
    modem.Stop();
    std::system((std::string("rm -rf ") + dir).c_str());
    return 0;
}

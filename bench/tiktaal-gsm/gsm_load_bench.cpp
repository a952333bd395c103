// tiktaal-gsm under a real phone's load, against the modem simulator:
//   1. 200 stored full-length messages and a 700-entry phone book at connection,
//   2. a burst of 2,000 routed messages,
//   3. send after three refusals of part 1, and after an unplug (modem back in 2 s),
//   4. a soak: listen for SECONDS under a steady stream of messages (routed and stored),
//      status reports, rings and readings; messages/s, lost messages, RSS, fds, threads.
// Every figure is printed; lost messages must be 0.
//   gsm_load_bench [SECONDS (600)] [EVENTS_PER_SECOND (20)] [BURST (2000)] [STORED (200)]
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "modem_sim.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// The tool as a child process, its standard output read line by line.
class TTool {
public:
    TTool(const std::string& link, std::vector<std::string> args) {
        args.insert(args.begin(), {TIKTAAL_GSM_TOOL, "--port", link});
        int fds[2];
        if (pipe(fds) != 0) return;
        FPid = fork();
        if (FPid == 0) {
            dup2(fds[1], 1);
            const int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 2);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        FOut = fds[0];
    }
    ~TTool() {
        Stop();
        if (FOut >= 0) close(FOut);
    }
    void Stop() {
        if (FPid <= 0) return;
        kill(FPid, SIGTERM);
        waitpid(FPid, nullptr, 0);
        FPid = -1;
    }
    // Runs to its end; false after ms.
    bool WaitExit(int ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            Read(20);
            if (waitpid(FPid, nullptr, WNOHANG) == FPid) {
                FPid = -1;
                Read(0);
                return true;
            }
        }
        return false;
    }
    // Reads what came within ms; each whole line goes to onLine.
    template <typename F>
    void Read(int ms, F onLine) {
        pollfd p{FOut, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0) return;
        char buf[65536];
        const ssize_t n = read(FOut, buf, sizeof buf);
        if (n <= 0) return;
        FPending.append(buf, static_cast<size_t>(n));
        for (size_t e; (e = FPending.find('\n')) != std::string::npos;) {
            onLine(FPending.substr(0, e));
            FPending.erase(0, e + 1);
        }
    }
    void Read(int ms) {
        Read(ms, [this](const std::string& l) { Lines.push_back(l); });
    }
    pid_t Pid() const { return FPid; }
    std::vector<std::string> Lines;

private:
    pid_t FPid = -1;
    int FOut = -1;
    std::string FPending;
};

// "message <n> " in a printed line: the generated message's number, -1 for another line.
int MessageNumber(const std::string& line) {
    const size_t p = line.find("message ");
    if (p == std::string::npos) return -1;
    return std::atoi(line.c_str() + p + 8);
}

struct TProcessFigures {
    long RssKb = 0;
    int Threads = 0, Fds = 0;
};

TProcessFigures Measure(pid_t pid) {
    TProcessFigures f;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") status >> f.RssKb;
        if (key == "Threads:") status >> f.Threads;
    }
    if (DIR* d = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        while (readdir(d)) ++f.Fds;
        closedir(d);
        f.Fds -= 2;  // . and ..
    }
    return f;
}

std::string TempLink() {
    char tmpl[] = "/tmp/gsmloadXXXXXX";
    if (!mkdtemp(tmpl)) return "";
    return std::string(tmpl) + "/modem";
}

// Waits until every message of [first, first + count) was printed; seconds, or -1.
double UntilPrinted(TTool& tool, int first, int count, Clock::time_point since, int boundMs) {
    std::set<int> seen;
    const auto end = Clock::now() + std::chrono::milliseconds(boundMs);
    auto take = [&](const std::string& line) {
        const int n = MessageNumber(line);
        if (n >= first && n < first + count) seen.insert(n);
    };
    while (static_cast<int>(seen.size()) < count && Clock::now() < end) tool.Read(50, take);
    if (static_cast<int>(seen.size()) < count)
        std::printf("  only %zu of %d printed\n", seen.size(), count);
    return static_cast<int>(seen.size()) == count ? SecondsSince(since) : -1;
}

void StoredAndPhoneBook(int stored) {
    TModemSimOptions o;
    o.LinkPath = TempLink();
    o.StoredMessages = stored;
    o.PhoneBookEntries = 700;
    TModemSim modem(o);
    if (!modem.Start()) return;
    const auto t = Clock::now();
    TTool tool(o.LinkPath, {"listen"});
    const double s = UntilPrinted(tool, 0, stored, t, 120000);
    std::printf("%d stored messages and a 700-entry phone book: all printed %s in %.2f s\n",
                stored, s >= 0 ? "yes" : "NO", s);
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (modem.StoredCount("SM") > 0 && Clock::now() < deadline) tool.Read(50);
    std::printf("  %d left on the SIM %.2f s after start; connections: %d\n",
                modem.StoredCount("SM"), SecondsSince(t), modem.CountReceived("ATE0"));
}

void Burst(int count) {
    TModemSimOptions o;
    o.LinkPath = TempLink();
    TModemSim modem(o);
    if (!modem.Start()) return;
    TTool tool(o.LinkPath, {"listen"});
    while (modem.CountReceived("AT+CMGL=0") < 2) tool.Read(20);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto t = Clock::now();
    modem.Control("burst " + std::to_string(count));
    const double s = UntilPrinted(tool, 0, count, t, 300000);
    std::printf("burst of %d routed messages: all printed %s in %.2f s (%.0f messages/s); "
                "connections: %d\n",
                count, s >= 0 ? "yes" : "NO", s, s > 0 ? count / s : 0.0,
                modem.CountReceived("ATE0"));
}

void SendAfter(const char* what, TModemSimOptions o) {
    o.LinkPath = TempLink();
    TModemSim modem(o);
    if (!modem.Start()) return;
    const auto t = Clock::now();
    TTool tool(o.LinkPath, {"send", "600100200", std::string(400, 'x')});
    tool.WaitExit(200000);
    std::printf("send of 3 parts %s: %.2f s to the last line\n", what, SecondsSince(t));
    for (const std::string& l : tool.Lines) std::printf("  %s\n", l.c_str());
}

void Soak(int seconds, int rate) {
    TModemSimOptions o;
    o.LinkPath = TempLink();
    o.SimCapacity = 30;
    TModemSim modem(o);
    if (!modem.Start()) return;
    TTool tool(o.LinkPath, {"listen", "--json"});
    while (modem.CountReceived("AT+CMGL=0") < 2) tool.Read(20);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    std::set<int> seen;
    long lines = 0;
    auto take = [&](const std::string& line) {
        ++lines;
        const int n = MessageNumber(line);
        if (n >= 0) seen.insert(n);
    };
    tool.Read(100, take);
    const TProcessFigures start = Measure(tool.Pid());
    TProcessFigures peak = start;
    const auto t = Clock::now();
    const auto end = t + std::chrono::seconds(seconds);
    const auto step = std::chrono::microseconds(1000000 / rate);
    auto next = t;
    int sent = 0, tick = 0, reports = 0, rings = 0, readings = 0;
    auto nextSample = t + std::chrono::seconds(10);
    while (Clock::now() < end) {
        if (Clock::now() >= next) {
            // Every other event a message (routed and stored in turn), the rest reports,
            // rings and readings.
            switch (tick++ % 6) {
                case 0:
                    modem.Control("cmt " + GeneratedMessagePdu(sent++));
                    break;
                case 1:
                    modem.Control("raw \\r\\n+CDS: 25\\r\\n"
                                  "00062A0B918421436587F952100221436580521002214365800000\\r\\n");
                    ++reports;
                    break;
                case 2:
                    modem.Control("deliver " + GeneratedMessagePdu(sent++));
                    break;
                case 3:
                    modem.Control("ring 600100" + std::to_string(100 + tick % 900));
                    ++rings;
                    break;
                case 4:
                    modem.Control("cmt " + GeneratedMessagePdu(sent++));
                    break;
                default:
                    modem.Control("say +CSQ: " + std::to_string(tick % 32) + ",99");
                    ++readings;
            }
            next += step;
        }
        tool.Read(5, take);
        if (Clock::now() >= nextSample) {
            const TProcessFigures f = Measure(tool.Pid());
            if (f.RssKb > peak.RssKb) peak.RssKb = f.RssKb;
            std::printf("  %4.0f s: %zu/%d messages printed, RSS %ld kB, %d fds, %d threads\n",
                        SecondsSince(t), seen.size(), sent, f.RssKb, f.Fds, f.Threads);
            std::fflush(stdout);
            nextSample += std::chrono::seconds(10);
        }
    }
    const double streamed = SecondsSince(t);
    const auto drain = Clock::now() + std::chrono::seconds(30);
    while (static_cast<int>(seen.size()) < sent && Clock::now() < drain) tool.Read(50, take);
    const TProcessFigures last = Measure(tool.Pid());
    int lost = 0;
    for (int i = 0; i < sent; ++i) lost += seen.count(i) ? 0 : 1;
    std::printf("soak: %.0f s, %d messages (%.2f messages/s), %d reports, %d rings, %d readings, "
                "%ld lines printed\n",
                streamed, sent, sent / streamed, reports, rings, readings, lines);
    std::printf("  lost messages: %d; refused by a full SIM: %d; connections: %d\n", lost,
                modem.RefusedDeliveries(), modem.CountReceived("ATE0"));
    std::printf("  RSS start %ld kB, end %ld kB, peak %ld kB; fds %d -> %d; threads %d -> %d\n",
                start.RssKb, last.RssKb, peak.RssKb, start.Fds, last.Fds, start.Threads,
                last.Threads);
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 600;
    const int rate = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    const int burst = argc > 3 ? std::atoi(argv[3]) : 2000;
    const int stored = argc > 4 ? std::atoi(argv[4]) : 200;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    StoredAndPhoneBook(stored);
    Burst(burst);
    TModemSimOptions refuse;
    refuse.RefuseSends = 3;
    SendAfter("after three refusals of part 1", refuse);
    TModemSimOptions unplug;
    unplug.VanishOn = {"PDU"};
    unplug.ReturnAfterMs = 2000;
    SendAfter("with the modem unplugged at part 1 and back 2 s later", unplug);
    if (seconds > 0) Soak(seconds, rate);
    return 0;
}

// Figures of the report dispatch: events per second it turns into events by itself, and
// through tiktaal-gsm listening to a flooding modem simulator; and the time from the
// simulator's report to the printed line.
//   gsm_tool_bench [FLOOD_MESSAGES] [LATENCY_ROUNDS]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "gsm/codecs/gsm7.h"
#include "gsm/modemdispatch.h"
#include "gsm/codecs/utf.h"
#include "modem_sim.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

std::string Deliver(const std::string& text) {
    const std::string septets = TextToGsm7(Utf8ToUtf16(text));
    char udl[3];
    std::snprintf(udl, sizeof udl, "%02X", static_cast<unsigned>(septets.size()));
    return "00040B918421436587F9000052100221436580" + std::string(udl) + PackGsm7(septets);
}

class TNullTarget : public TModemDispatchTarget {
public:
    long Events = 0;
    TDispatchSettings Settings() const override { return {}; }
    void AddPhoneBookLine(const std::string&) override {}
    void RaiseGetPhoneBook() override {}
    void RaiseNewSMS(const TDispatchedSms&) override { ++Events; }
    void RaiseNewQuestion(const TDispatchedSms&, const std::string&) override { ++Events; }
    void RaiseSecretSMS(const std::string&, const std::string&) override { ++Events; }
    void RaiseSMSMemoryFull() override {}
    void RaiseRing(const std::string&) override { ++Events; }
    void RaiseCallBusy(bool, TDispatchCallStatus) override { ++Events; }
    void RaiseCheckSignalPower(const TDispatchReading&) override { ++Events; }
    void RaiseAfterComRx() override {}
    void ReportQuietError(const std::string&) override {}
    void Log(const std::string&) override {}
    std::string CurrentCommand() const override { return ""; }
    bool HasCommand(const std::string&) const override { return true; }
    void AppendCommand(const std::string&) override {}
    void InsertCommandsAtFront(const std::vector<std::string>&) override {}
    void InsertCommandAfterCurrent(const std::string&) override {}
    bool TakeSendOneSignal() override { return false; }
    int64_t NowMs() const override { return 0; }
    std::string DateTimeText(TDateTime) const override { return "2025-01-20 12:34:56"; }
};

void DispatchAlone(int messages) {
    std::string text;
    for (int i = 0; i < messages; ++i)
        text += "\r\n+CMT: ,20\r\n" + Deliver("m" + std::to_string(i)) + "\r\n";
    TNullTarget target;
    TModemDispatch dispatch(target);
    const auto t = Clock::now();
    dispatch.DispatchReply(text);
    const double ms = MsSince(t);
    std::printf("dispatch alone: %ld routed messages in %.1f ms, %.0f events/s\n", target.Events,
                ms, target.Events * 1000.0 / ms);
}

class TListener {
public:
    bool Start(const std::string& port) {
        int fds[2];
        if (pipe(fds) != 0) return false;
        FPid = fork();
        if (FPid == 0) {
            dup2(fds[1], 1);
            const int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 2);
            execl(TIKTAAL_GSM_TOOL, TIKTAAL_GSM_TOOL, "--port", port.c_str(), "listen", "--json",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        FOut = fds[0];
        return FPid > 0;
    }
    ~TListener() {
        if (FPid > 0) {
            kill(FPid, SIGTERM);
            waitpid(FPid, nullptr, 0);
        }
        if (FOut >= 0) close(FOut);
    }
    // Lines holding `part` until `count` of them came; false after ms.
    bool WaitLines(const std::string& part, int count, int ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Seen(part) < count) {
            const int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
            if (left <= 0) return false;
            pollfd p{FOut, POLLIN, 0};
            if (poll(&p, 1, left) <= 0) continue;
            char buf[65536];
            const ssize_t n = read(FOut, buf, sizeof buf);
            if (n <= 0) return false;
            FText.append(buf, static_cast<size_t>(n));
        }
        return true;
    }
    void Forget() { FText.clear(); }

private:
    int Seen(const std::string& part) const {
        int n = 0;
        for (size_t p = FText.find(part); p != std::string::npos; p = FText.find(part, p + 1)) ++n;
        return n;
    }
    pid_t FPid = -1;
    int FOut = -1;
    std::string FText;
};

}  // namespace

int main(int argc, char** argv) {
    const int flood = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 50;
    DispatchAlone(flood * 10);

    char tmpl[] = "/tmp/gsmtoolbenchXXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    TModemSimOptions options;
    options.LinkPath = std::string(tmpl) + "/modem";
    TModemSim modem(options);
    if (!modem.Start()) return 1;
    {
        TListener listener;
        if (!listener.Start(options.LinkPath)) return 1;
        const auto up = Clock::now();
        while (modem.CountReceived("AT+CMGL=0") < 2 && MsSince(up) < 20000)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));

        std::vector<double> latency;
        for (int i = 0; i < rounds; ++i) {
            const std::string text = "\"text\":\"late" + std::to_string(i) + "\"";
            const auto t = Clock::now();
            modem.Control("cmt " + Deliver("late" + std::to_string(i)));
            if (!listener.WaitLines(text, 1, 10000)) break;
            latency.push_back(MsSince(t));
        }
        std::sort(latency.begin(), latency.end());
        if (!latency.empty())
            std::printf("report to printed line: median %.2f ms, 90th %.2f ms, max %.2f ms (%zu)\n",
                        latency[latency.size() / 2], latency[latency.size() * 9 / 10],
                        latency.back(), latency.size());

        // The pseudo-terminal holds a few kilobytes: the flood comes in bursts of 20 reports
        // (about 1.5 kB), each as soon as the one before has been printed.
        listener.Forget();
        const int burst = 20;
        const auto t = Clock::now();
        int sent = 0;
        bool all = true;
        while (sent < flood && all) {
            for (int i = 0; i < burst && sent < flood; ++i, ++sent)
                modem.Control("cmt " + Deliver("f" + std::to_string(sent)));
            all = listener.WaitLines("\"event\":\"sms\"", sent, 20000);
        }
        const double ms = MsSince(t);
        std::printf("flood through tiktaal-gsm: %d routed messages %s in %.0f ms, %.0f events/s\n",
                    sent, all ? "printed" : "NOT all printed", ms, sent * 1000.0 / ms);
    }
    modem.Stop();
    std::system((std::string("rm -rf ") + tmpl).c_str());
    return 0;
}

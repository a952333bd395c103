// tiktaal-modem: a GSM modem on a pseudo-terminal for the engine, its tests and the demo.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "modem_sim.h"

namespace {

const char* const Usage = R"(usage: tiktaal-modem --link PATH [options]

A GSM modem in PDU mode (3GPP TS 27.007 / 27.005) on a pseudo-terminal. PATH becomes a
symbolic link to the terminal: point the engine's port at it. Echo is on until ATE0,
answers are framed CR LF, a message is taken after "AT+CMGS=<n>", the "> " prompt, the PDU
and Ctrl-Z, and answered "+CMGS: <reference>" and "OK".

Behaviour:
  --delay MS            answer every command MS milliseconds late
  --slow-on CMD::MS     answer commands that begin with CMD MS milliseconds late (repeatable)
  --silent              read everything, answer nothing
  --silent-on CMD       never answer commands that begin with CMD (repeatable)
  --error CMD           refuse commands that begin with CMD (repeatable), e.g. "AT+CMER=?"
  --reply CMD::LINES    answer CMD with these information lines (split at '|') and OK,
                        e.g. 'AT+CSQ::+CSQ: 999,999' (repeatable)
  --refuse-sends N      refuse the first N messages
  --no-prompt           give no "> " prompt to AT+CMGS (the PDU is still taken)
  --no-reference        answer a sent message "OK" without "+CMGS:"
  --garbage             answer every command with noise and no result code
  --half-line           answer every command with half a line, then nothing
  --flood               answer every command with 200000 bytes without CR
  --vanish-on CMD       close the far side (an unplugged modem) on receiving a command that
                        begins with CMD, or "PDU" for a message body; once per rule
  --return-after MS     after vanishing, come back on the same link MS milliseconds later
  --store PDU           an unread message on the SIM at start (repeatable)
  --stored N            N more unread 160-character messages on the SIM at start
  --phonebook N         N more entries in the SIM's phone book
  --sim-capacity N      messages the SIM holds (default 30); a message delivered to a full
                        SIM is refused by the network and lost
  --phone-capacity N    messages the phone memory holds (default 100)
  --no-phone-storage    refuse AT+CPMS="ME": a modem with SIM storage only

Real-modem settings (the defaults follow the simpler assumptions):
  --error-codes         refusals end with "+CME ERROR: <n>" / "+CMS ERROR: <n>", not "ERROR"
  --charset SET         the character set at start: UCS2 (default), IRA or GSM
  --no-ucs2             refuse AT+CSCS="UCS2"
  --indicators NAMES    the AT+CIND=? order, comma-separated
                        (default call,service,callsetup,battchg,signal,roam,smsfull)

Recording and control:
  --record FILE         append every received command: "<unix seconds.ms> <command>";
                        a message body is written as its PDU followed by "^Z"
  --control FIFO        read control lines from this FIFO (made when missing); standard
                        input is read for control lines too
Control lines:
  say TEXT              send CR LF TEXT CR LF (an unsolicited result line)
  raw TEXT              send TEXT as is (\r \n \z for CR, LF, Ctrl-Z)
  cmt PDU               a routed message: CR LF "+CMT: ,<length>" CR LF PDU CR LF
  cmti INDEX            CR LF +CMTI: "SM",INDEX CR LF
  ring NUMBER           RING and +CLIP: "NUMBER",145
  ciev INDEX,VALUE      an indicator event
  flood N               N bytes without CR (at most 4 MiB)
  store PDU             add an unread message on the SIM
  deliver PDU           the network delivers a message: stored on the SIM and announced
                        with +CMTI, or lost when the SIM is full
  burst N [FIRST]       N routed 160-character messages (+CMT) at once, numbered from FIRST
  vanish | return       unplug / plug the modem back in
  quit                  end

It prints "ready PATH" on standard output once the link exists, and ends on quit, SIGTERM
or SIGINT.
)";

volatile sig_atomic_t Stop = 0;
void OnSignal(int) { Stop = 1; }

std::vector<std::string> SplitAt(const std::string& s, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t p = s.find(sep, start);
        out.push_back(s.substr(start, p - start));
        if (p == std::string::npos) return out;
        start = p + 1;
    }
}

std::string Upper(std::string s) {
    bool quoted = false;
    for (char& c : s) {
        if (c == '"') quoted = !quoted;
        if (!quoted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return s;
}

bool ParseNumber(const char* text, int& value) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < 0 || v > 100000000) return false;
    value = static_cast<int>(v);
    return true;
}

// Returns 0 to run, 1 after --help, 2 on a bad option.
int ParseOptions(int argc, char** argv, TModemSimOptions& o, std::string& control) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        auto value = [&]() -> std::string { return argv[++i]; };
        auto number = [&](int& target) {
            if (hasValue && ParseNumber(argv[i + 1], target)) {
                ++i;
                return true;
            }
            std::fprintf(stderr, "tiktaal-modem: %s needs a number\n", a.c_str());
            return false;
        };
        if (a == "--help" || a == "-h") {
            std::fputs(Usage, stdout);
            return 1;
        }
        if (a == "--silent")
            o.Silent = true;
        else if (a == "--garbage")
            o.Garbage = true;
        else if (a == "--half-line")
            o.HalfLine = true;
        else if (a == "--flood")
            o.Flood = true;
        else if (a == "--no-prompt")
            o.NoPrompt = true;
        else if (a == "--no-reference")
            o.NoMessageReference = true;
        else if (a == "--error-codes")
            o.ErrorCodes = true;
        else if (a == "--no-ucs2")
            o.NoUcs2 = true;
        else if (a == "--no-phone-storage")
            o.NoPhoneStorage = true;
        else if (a == "--stored") {
            if (!number(o.StoredMessages)) return 2;
        } else if (a == "--phonebook") {
            if (!number(o.PhoneBookEntries)) return 2;
        } else if (a == "--sim-capacity") {
            if (!number(o.SimCapacity)) return 2;
        } else if (a == "--phone-capacity") {
            if (!number(o.PhoneCapacity)) return 2;
        }
        else if (a == "--delay") {
            if (!number(o.DelayMs)) return 2;
        } else if (a == "--refuse-sends") {
            if (!number(o.RefuseSends)) return 2;
        } else if (a == "--return-after") {
            if (!number(o.ReturnAfterMs)) return 2;
        } else if (!hasValue) {
            std::fprintf(stderr, "tiktaal-modem: unknown option or missing value: %s\n", a.c_str());
            return 2;
        } else if (a == "--link")
            o.LinkPath = value();
        else if (a == "--record")
            o.RecordPath = value();
        else if (a == "--control")
            control = value();
        else if (a == "--silent-on")
            o.SilentCommands.push_back(Upper(value()));
        else if (a == "--error")
            o.ErrorCommands.push_back(Upper(value()));
        else if (a == "--vanish-on")
            o.VanishOn.push_back(value());
        else if (a == "--store")
            o.StoredPdus.push_back(value());
        else if (a == "--indicators")
            o.Indicators = SplitAt(value(), ',');
        else if (a == "--charset") {
            o.Charset = Upper(value());
            if (o.Charset != "UCS2" && o.Charset != "IRA" && o.Charset != "GSM") {
                std::fprintf(stderr, "tiktaal-modem: --charset takes UCS2, IRA or GSM\n");
                return 2;
            }
        } else if (a == "--slow-on") {
            const std::string r = value();
            const size_t sep = r.find("::");
            int ms = 0;
            if (sep == std::string::npos || !ParseNumber(r.c_str() + sep + 2, ms)) {
                std::fprintf(stderr, "tiktaal-modem: --slow-on takes CMD::MS\n");
                return 2;
            }
            o.SlowCommands.emplace_back(Upper(r.substr(0, sep)), ms);
        } else if (a == "--reply") {
            const std::string r = value();
            const size_t sep = r.find("::");
            if (sep == std::string::npos) {
                std::fprintf(stderr, "tiktaal-modem: --reply takes CMD::LINES\n");
                return 2;
            }
            o.Replies.emplace_back(Upper(r.substr(0, sep)), SplitAt(r.substr(sep + 2), '|'));
        } else {
            std::fprintf(stderr, "tiktaal-modem: unknown option: %s\n", a.c_str());
            return 2;
        }
    }
    if (o.LinkPath.empty()) {
        std::fprintf(stderr, "tiktaal-modem: --link PATH is required (see --help)\n");
        return 2;
    }
    return 0;
}

// Hands complete lines from a descriptor to the simulator; false once it is at its end.
bool PumpLines(int fd, std::string& pending, TModemSim& modem) {
    char buf[1024];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n == 0) return false;
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    pending.append(buf, static_cast<size_t>(n));
    for (size_t p; (p = pending.find('\n')) != std::string::npos;) {
        std::string line = pending.substr(0, p);
        pending.erase(0, p + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "quit") Stop = 1;
        if (!line.empty()) modem.Control(line);
    }
    if (pending.size() > 65536) pending.clear();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    TModemSimOptions options;
    std::string controlPath;
    if (const int rc = ParseOptions(argc, argv, options, controlPath)) return rc == 1 ? 0 : 2;

    int control = -1;
    if (!controlPath.empty()) {
        if (mkfifo(controlPath.c_str(), 0600) != 0 && errno != EEXIST) {
            std::fprintf(stderr, "tiktaal-modem: cannot make %s: %s\n", controlPath.c_str(),
                         std::strerror(errno));
            return 1;
        }
        // Opened for writing too, so that writers coming and going never read as its end.
        control = open(controlPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (control < 0) {
            std::fprintf(stderr, "tiktaal-modem: cannot open %s: %s\n", controlPath.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    TModemSim modem(options);
    if (!modem.Start()) {
        std::fprintf(stderr, "tiktaal-modem: cannot make the terminal at %s: %s\n",
                     options.LinkPath.c_str(), std::strerror(errno));
        return 1;
    }
    struct sigaction act {};
    act.sa_handler = OnSignal;
    sigaction(SIGTERM, &act, nullptr);
    sigaction(SIGINT, &act, nullptr);
    std::printf("ready %s\n", options.LinkPath.c_str());
    std::fflush(stdout);

    bool stdinOpen = true;
    std::string fromStdin, fromFifo;
    while (!Stop) {
        pollfd p[2] = {{stdinOpen ? 0 : -1, POLLIN, 0}, {control, POLLIN, 0}};
        if (poll(p, 2, 200) <= 0) continue;
        if (p[0].revents & (POLLIN | POLLHUP)) stdinOpen = PumpLines(0, fromStdin, modem);
        if (p[1].revents & POLLIN) PumpLines(control, fromFifo, modem);
    }
    modem.Stop();
    if (control >= 0) close(control);
    return 0;
}

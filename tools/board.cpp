// Stands in for the microcontroller board: reads lines ending in CR from a serial device or
// from a pseudo-terminal of its own, prints each one with the moment its CR arrived, keeps a
// clock set by the lines it receives, and can answer lines and a time query.
//   tiktaal-board DEVICE|--pty LINK [--epoch] [--count N] [--baud N] [--boot-ms N]
//                 [--reply TEXT] [--query TEXT]
// --pty LINK    makes a pseudo-terminal and LINK pointing to its port side; the board then
//               sees the port being opened and closed, as a board sees DTR.
// --epoch       stamps lines with Unix seconds (to the microsecond) instead of the local time.
// --baud N      the time a character takes on the wire (10 bits at N baud): a CR arrives
//               that long after the bytes before it, and replies take as long to go back.
// --boot-ms N   ignores what arrives during N ms after the port opens (a board that resets
//               when DTR rises), saying "lost while booting" once; without --pty, after the
//               board starts.
// --reply TEXT  answers every line with TEXT CR LF (as "OK" boards do).
// --query TEXT  answers the line TEXT with its clock: "+CZAS: yyyy-MM-dd,HH:mm:ss.mmm" CR LF.
// A received line holding yyyy-MM-dd,HH:mm:ss sets the clock to that time at the moment its
// CR arrived; the board prints how far that time was from the true one ("clock set, off by").
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>

namespace {

volatile sig_atomic_t Stop = 0;
void OnSignal(int) { Stop = 1; }

using Nanos = int64_t;  // CLOCK_REALTIME in nanoseconds

Nanos Now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<Nanos>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void SleepUntil(Nanos when) {
    const timespec ts{static_cast<time_t>(when / 1000000000), static_cast<long>(when % 1000000000)};
    while (clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &ts, nullptr) == EINTR && !Stop) {
    }
}

struct TOptions {
    std::string Device, Link;
    bool Epoch = false;
    long Count = -1;
    long Baud = 0;
    long BootMs = 0;
    std::string Reply, Query;
};

struct TBoard {
    TOptions Opt;
    int Fd = -1;
    bool PeerOpen = false;
    Nanos BootEnd = 0;
    bool LostInBoot = false;  // told once per boot
    Nanos WireFree = 0;     // when the last byte received so far has fully arrived
    Nanos ClockOffset = 0;  // board clock minus true time
    std::string Line;
};

std::string Stamp(const TBoard& b, Nanos t) {
    char buf[64];
    const time_t sec = static_cast<time_t>(t / 1000000000);
    const long frac = static_cast<long>(t % 1000000000);
    if (b.Opt.Epoch) {
        std::snprintf(buf, sizeof buf, "%lld.%06ld", static_cast<long long>(sec), frac / 1000);
        return buf;
    }
    struct tm tmv {};
    localtime_r(&sec, &tmv);
    const size_t n = strftime(buf, sizeof buf, "%H:%M:%S", &tmv);
    std::snprintf(buf + n, sizeof buf - n, ".%03ld", frac / 1000000);
    return buf;
}

void Say(const TBoard& b, Nanos t, const std::string& text) {
    std::printf("%s board %s\n", Stamp(b, t).c_str(), text.c_str());
    std::fflush(stdout);
}

// Control bytes would garble the terminal: show them escaped.
std::string Printable(const std::string& line) {
    std::string out;
    for (unsigned char c : line) {
        if (c >= 0x20 && c != 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

Nanos CharTime(const TBoard& b) { return b.Opt.Baud > 0 ? 10000000000LL / b.Opt.Baud : 0; }

// The date and time a line names, as the true instant of that local time; -1 when none.
Nanos NamedTime(const std::string& line) {
    static const std::regex stamp(R"((\d{4})-(\d{2})-(\d{2}),(\d{2}):(\d{2}):(\d{2}))");
    std::smatch m;
    if (!std::regex_search(line, m, stamp)) return -1;
    struct tm tmv {};
    tmv.tm_year = std::stoi(m[1]) - 1900;
    tmv.tm_mon = std::stoi(m[2]) - 1;
    tmv.tm_mday = std::stoi(m[3]);
    tmv.tm_hour = std::stoi(m[4]);
    tmv.tm_min = std::stoi(m[5]);
    tmv.tm_sec = std::stoi(m[6]);
    tmv.tm_isdst = -1;
    const time_t t = mktime(&tmv);
    return t == -1 ? -1 : static_cast<Nanos>(t) * 1000000000;
}

std::string ClockText(Nanos t) {
    const time_t sec = static_cast<time_t>(t / 1000000000);
    struct tm tmv {};
    localtime_r(&sec, &tmv);
    char buf[64];
    const size_t n = strftime(buf, sizeof buf, "%Y-%m-%d,%H:%M:%S", &tmv);
    std::snprintf(buf + n, sizeof buf - n, ".%03ld", static_cast<long>(t % 1000000000) / 1000000);
    return buf;
}

// A reply leaves when the line has arrived and reaches the PC after its wire time.
void Answer(TBoard& b, const std::string& text) {
    const std::string wire = text + "\r\n";
    SleepUntil(Now() + CharTime(b) * static_cast<Nanos>(wire.size()));
    size_t done = 0;
    while (done < wire.size()) {
        const ssize_t n = write(b.Fd, wire.data() + done, wire.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        } else {
            pollfd p{b.Fd, POLLOUT, 0};
            poll(&p, 1, 10);
        }
    }
}

void LineArrived(TBoard& b, Nanos arrival) {
    SleepUntil(arrival);  // the board acts when the CR is really there
    Say(b, arrival, "received: " + Printable(b.Line));
    const Nanos named = NamedTime(b.Line);
    if (named >= 0) {
        b.ClockOffset = named - arrival;
        char buf[96];
        std::snprintf(buf, sizeof buf, "clock set, off by %+.6f s",
                      static_cast<double>(b.ClockOffset) / 1e9);
        Say(b, arrival, buf);
    }
    if (!b.Opt.Query.empty() && b.Line == b.Opt.Query) {
        const Nanos clock = Now() + b.ClockOffset;
        Answer(b, "+CZAS: " + ClockText(clock));
    } else if (!b.Opt.Reply.empty()) {
        Answer(b, b.Opt.Reply);
    }
    if (b.Opt.Count > 0) --b.Opt.Count;
}

// Bytes enter the wire when they show up here and arrive one character time apart.
void Received(TBoard& b, const char* data, ssize_t n, Nanos readAt) {
    for (ssize_t i = 0; i < n && b.Opt.Count != 0; ++i) {
        const Nanos arrival = std::max(readAt, b.WireFree) + CharTime(b);
        b.WireFree = arrival;
        if (arrival < b.BootEnd) {  // still in the boot loader
            if (!b.LostInBoot) Say(b, arrival, "lost while booting");
            b.LostInBoot = true;
            continue;
        }
        if (data[i] != '\r') {
            if (b.Line.size() < 4096) b.Line += data[i];
            continue;
        }
        LineArrived(b, arrival);
        b.Line.clear();
    }
}

void PowerUp(TBoard& b) {
    const Nanos now = Now();
    b.BootEnd = now + static_cast<Nanos>(b.Opt.BootMs) * 1000000;
    b.LostInBoot = false;
    b.Line.clear();
    Say(b, now, "powered up");
}

// With a pseudo-terminal of its own the board sees the port side come and go: the master
// reports a hang-up while nothing holds the port open.
bool WaitForInput(TBoard& b) {
    pollfd p{b.Fd, POLLIN, 0};
    if (!b.Opt.Link.empty() && !b.PeerOpen) {
        if (poll(&p, 1, 0) >= 0 && (p.revents & POLLHUP)) {
            usleep(500);
            return false;
        }
        b.PeerOpen = true;
        PowerUp(b);
    }
    if (poll(&p, 1, 200) <= 0) return false;
    if ((p.revents & POLLHUP) && !(p.revents & POLLIN)) {
        b.PeerOpen = false;
        return false;
    }
    return true;
}

bool ParseOptions(int argc, char** argv, TOptions& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--epoch")
            o.Epoch = true;
        else if (a == "--count" && hasValue)
            o.Count = std::atol(argv[++i]);
        else if (a == "--baud" && hasValue)
            o.Baud = std::atol(argv[++i]);
        else if (a == "--boot-ms" && hasValue)
            o.BootMs = std::atol(argv[++i]);
        else if (a == "--reply" && hasValue)
            o.Reply = argv[++i];
        else if (a == "--query" && hasValue)
            o.Query = argv[++i];
        else if (a == "--pty" && hasValue)
            o.Link = argv[++i];
        else if (a.rfind("--", 0) != 0 && o.Device.empty())
            o.Device = a;
        else
            return false;
    }
    return o.Device.empty() != o.Link.empty() && o.Baud >= 0 && o.BootMs >= 0;
}

int OpenPseudoTerminal(const std::string& link) {
    termios raw{};
    cfmakeraw(&raw);
    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, &raw, nullptr) != 0) return -1;
    close(slave);  // held by nobody, so that the port side's opening shows
    unlink(link.c_str());
    if (symlink(name, link.c_str()) != 0) {
        close(master);
        return -1;
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    return master;
}

}  // namespace

int main(int argc, char** argv) {
    TBoard b;
    if (!ParseOptions(argc, argv, b.Opt)) {
        std::fprintf(stderr,
                     "usage: %s DEVICE|--pty LINK [--epoch] [--count N] [--baud N] "
                     "[--boot-ms N] [--reply TEXT] [--query TEXT]\n",
                     argv[0]);
        return 2;
    }
    const bool ownPty = !b.Opt.Link.empty();
    b.Fd = ownPty ? OpenPseudoTerminal(b.Opt.Link)
                  : open(b.Opt.Device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (b.Fd < 0) {
        std::fprintf(stderr, "board: cannot open %s: %s\n",
                     (ownPty ? b.Opt.Link : b.Opt.Device).c_str(), std::strerror(errno));
        return 1;
    }
    termios t{};
    if (!ownPty && tcgetattr(b.Fd, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(b.Fd, TCSANOW, &t);
    }
    if (!ownPty) PowerUp(b);
    struct sigaction act {};
    act.sa_handler = OnSignal;
    sigaction(SIGTERM, &act, nullptr);
    sigaction(SIGINT, &act, nullptr);
    while (!Stop && b.Opt.Count != 0) {
        if (!WaitForInput(b)) continue;
        char buf[256];
        const ssize_t n = read(b.Fd, buf, sizeof buf);
        const Nanos readAt = Now();
        if (n <= 0) {
            if (!ownPty) break;  // the link's other end is gone
            b.PeerOpen = false;  // the port was closed; the board waits for the next open
            continue;
        }
        Received(b, buf, n, readAt);
    }
    close(b.Fd);
    if (ownPty) unlink(b.Opt.Link.c_str());
    return 0;
}

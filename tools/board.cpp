// Stands in for the microcontroller board: opens a serial device (or a pseudo-terminal
// link), and prints every line it receives, one per output line, until stopped.
//   tiktaal-board DEVICE [--count N] [--epoch]
// --epoch stamps each line with Unix seconds (and milliseconds) instead of the local time.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
volatile sig_atomic_t Stop = 0;
void OnSignal(int) { Stop = 1; }
bool EpochStamps = false;

std::string Stamp() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    if (EpochStamps) {
        char buf[48];
        std::snprintf(buf, sizeof buf, "%lld.%03ld", static_cast<long long>(ts.tv_sec),
                      ts.tv_nsec / 1000000);
        return buf;
    }
    struct tm tmv {};
    localtime_r(&ts.tv_sec, &tmv);
    char buf[48];
    const size_t n = strftime(buf, sizeof buf, "%H:%M:%S", &tmv);
    std::snprintf(buf + n, sizeof buf - n, ".%03ld", ts.tv_nsec / 1000000);
    return buf;
}

// Control bytes other than the CR would garble the terminal: show them escaped.
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
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DEVICE [--count N] [--epoch]\n", argv[0]);
        return 2;
    }
    long count = -1;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--count") == 0 && i + 1 < argc)
            count = std::atol(argv[++i]);
        else if (std::strcmp(argv[i], "--epoch") == 0)
            EpochStamps = true;
    }
    const int fd = open(argv[1], O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "board: cannot open %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    termios t{};
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
    struct sigaction act {};
    act.sa_handler = OnSignal;
    sigaction(SIGTERM, &act, nullptr);
    sigaction(SIGINT, &act, nullptr);
    std::string line;
    while (!Stop && count != 0) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        char buf[256];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;  // the link's other end is gone
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] != '\r') {
                if (line.size() < 4096) line += buf[i];
                continue;
            }
            std::printf("%s board received: %s\n", Stamp().c_str(), Printable(line).c_str());
            std::fflush(stdout);
            line.clear();
            if (count > 0) --count;
        }
    }
    close(fd);
    return 0;
}

// A small SNTP server for the demo and the benchmarks: answers every request on one
// loopback address with this machine's clock (moved by --offset seconds, for a server
// that is wrong), or (with --silent) never answers at all.
//   tiktaal-sntp-responder [--address 127.0.0.1] [--port 12300] [--silent] [--offset S]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

volatile sig_atomic_t Stop = 0;
void OnSignal(int) { Stop = 1; }

constexpr uint64_t UnixToNtp = 2208988800ULL;
int64_t OffsetNs = 0;

void PutWord(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

// Now as NTP seconds (modulo the era) and fraction.
void NtpNow(uint32_t& seconds, uint32_t& fraction) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    const int64_t ns = static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec + OffsetNs;
    seconds = static_cast<uint32_t>(static_cast<uint64_t>(ns / 1000000000) + UnixToNtp);
    fraction =
        static_cast<uint32_t>((static_cast<uint64_t>(ns % 1000000000) << 32) / 1000000000ULL);
}

void Answer(const unsigned char* request, unsigned char* reply) {
    std::memset(reply, 0, 48);
    const int version = (request[0] >> 3) & 7;
    reply[0] = static_cast<unsigned char>((0 << 6) | ((version ? version : 4) << 3) | 4);
    reply[1] = 2;                                // stratum
    reply[2] = request[2];                       // poll
    reply[3] = static_cast<unsigned char>(-20);  // precision about a microsecond
    std::memcpy(reply + 12, "LOCL", 4);          // reference id
    std::memcpy(reply + 24, request + 40, 8);    // originate := the request's transmit
    uint32_t s = 0, f = 0;
    NtpNow(s, f);
    PutWord(reply + 16, s);  // reference time
    PutWord(reply + 32, s);  // receive time
    PutWord(reply + 36, f);
    NtpNow(s, f);
    PutWord(reply + 40, s);  // transmit time
    PutWord(reply + 44, f);
}

}  // namespace

int main(int argc, char** argv) {
    std::string address = "127.0.0.1";
    int port = 12300;
    bool silent = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--address" && i + 1 < argc)
            address = argv[++i];
        else if (a == "--port" && i + 1 < argc)
            port = std::atoi(argv[++i]);
        else if (a == "--silent")
            silent = true;
        else if (a == "--offset" && i + 1 < argc)
            OffsetNs = static_cast<int64_t>(std::atof(argv[++i]) * 1e9);
        else {
            std::fprintf(stderr, "usage: %s [--address A] [--port P] [--silent] [--offset S]\n",
                         argv[0]);
            return 2;
        }
    }
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    if (fd < 0 || inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1 ||
        bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        std::fprintf(stderr, "sntp responder: cannot listen on %s:%d: %s\n", address.c_str(), port,
                     std::strerror(errno));
        return 1;
    }
    struct sigaction act {};
    act.sa_handler = OnSignal;
    sigaction(SIGTERM, &act, nullptr);
    sigaction(SIGINT, &act, nullptr);
    std::printf("sntp responder on %s:%d%s\n", address.c_str(), port, silent ? " (silent)" : "");
    std::fflush(stdout);
    while (!Stop) {
        unsigned char request[512];
        sockaddr_storage from{};
        socklen_t fromLen = sizeof from;
        const ssize_t n =
            recvfrom(fd, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 48 || silent) continue;
        unsigned char reply[48];
        Answer(request, reply);
        sendto(fd, reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), fromLen);
    }
    close(fd);
    return 0;
}

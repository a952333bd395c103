// socat's pseudo-terminal pair and a board on its far end: killing socat is the board
// unplugged, starting it again is the board plugged back in.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "support/wait.h"

extern char** environ;

inline bool SocatAvailable() { return std::system("command -v socat >/dev/null 2>&1") == 0; }

inline bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

class TSocatPair {
public:
    explicit TSocatPair(const std::string& dir) : A(dir + "/ttyA"), B(dir + "/ttyB") {}
    ~TSocatPair() { Stop(); }

    bool Start() {
        unlink(A.c_str());
        unlink(B.c_str());
        const std::string ea = "pty,raw,echo=0,link=" + A, eb = "pty,raw,echo=0,link=" + B;
        char* argv[] = {const_cast<char*>("socat"), const_cast<char*>(ea.c_str()),
                        const_cast<char*>(eb.c_str()), nullptr};
        if (posix_spawnp(&FPid, "socat", nullptr, nullptr, argv, environ) != 0) return false;
        return WaitUntil([&] { return Exists(A) && Exists(B); }, 3000);
    }
    void Stop() {
        if (FPid <= 0) return;
        kill(FPid, SIGKILL);
        waitpid(FPid, nullptr, 0);
        FPid = -1;
    }

    const std::string A, B;

private:
    pid_t FPid = -1;
};

// The microcontroller's side: a raw reader on the far end.
class TBoard {
public:
    explicit TBoard(const std::string& path) {
        FFd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (FFd >= 0) {
            termios t{};
            tcgetattr(FFd, &t);
            cfmakeraw(&t);
            tcsetattr(FFd, TCSANOW, &t);
        }
    }
    ~TBoard() {
        if (FFd >= 0) close(FFd);
    }
    bool Ok() const { return FFd >= 0; }
    std::string ReadLine(int timeoutMs = 2000) {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            char c;
            const ssize_t n = read(FFd, &c, 1);
            if (n == 1) {
                got += c;
                if (c == '\r') break;
                continue;
            }
            pollfd p{FFd, POLLIN, 0};
            poll(&p, 1, 5);
        }
        return got;
    }
    std::string Drain(int ms) {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            char buf[256];
            const ssize_t n = read(FFd, buf, sizeof buf);
            if (n > 0) got.append(buf, static_cast<size_t>(n));
            pollfd p{FFd, POLLIN, 0};
            poll(&p, 1, 5);
        }
        return got;
    }

private:
    int FFd = -1;
};

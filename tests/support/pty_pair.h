// A pseudo-terminal pair standing for a board: the code under test opens SlavePath(), the
// test talks through the master side. Closing the master is an unplugged board.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

class TPtyPair {
public:
    TPtyPair() {
        termios raw{};
        cfmakeraw(&raw);
        int slave = -1;
        char name[256] = {};
        if (openpty(&FMaster, &slave, name, &raw, nullptr) == 0) {
            FSlavePath = name;
            // The code under test opens its own descriptor; keeping none here lets the
            // master see the port released.
            close(slave);
            fcntl(FMaster, F_SETFL, fcntl(FMaster, F_GETFL) | O_NONBLOCK);
        }
    }
    ~TPtyPair() { CloseMaster(); }
    TPtyPair(const TPtyPair&) = delete;
    TPtyPair& operator=(const TPtyPair&) = delete;

    bool Ok() const { return FMaster >= 0; }
    const std::string& SlavePath() const { return FSlavePath; }
    int Master() const { return FMaster; }
    void CloseMaster() {
        if (FMaster >= 0) close(FMaster);
        FMaster = -1;
    }

    // Writes everything (the pty buffer takes far more than tests send at once).
    bool Send(const std::string& bytes) {
        size_t done = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (done < bytes.size() && std::chrono::steady_clock::now() < end) {
            const ssize_t n = write(FMaster, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else
                WaitFor(POLLOUT, 5);
        }
        return done == bytes.size();
    }

    // Reads until `count` bytes arrived or timeoutMs passed.
    std::string Receive(size_t count, int timeoutMs = 2000) {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < count && std::chrono::steady_clock::now() < end) {
            char buf[4096];
            const ssize_t n = read(FMaster, buf, sizeof buf);
            if (n > 0)
                got.append(buf, static_cast<size_t>(n));
            else
                WaitFor(POLLIN, 5);
        }
        return got;
    }

    // Whatever arrives within timeoutMs.
    std::string Drain(int timeoutMs) { return Receive(static_cast<size_t>(-1), timeoutMs); }

    // Bytes up to and including the first CR, or what came within timeoutMs.
    std::string ReadLine(int timeoutMs = 3000) {
        std::string line;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            char c = 0;
            if (read(FMaster, &c, 1) == 1) {
                line += c;
                if (c == '\r') break;
            } else {
                WaitFor(POLLIN, 5);
            }
        }
        return line;
    }

private:
    void WaitFor(short events, int ms) {
        pollfd p{FMaster, events, 0};
        poll(&p, 1, ms);
        if (p.revents & (POLLHUP | POLLERR)) usleep(1000);  // no slave yet: do not spin
    }

    int FMaster = -1;
    std::string FSlavePath;
};

inline long ElapsedMs(std::chrono::steady_clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - since)
                                 .count());
}

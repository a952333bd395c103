// A pseudo-terminal pair: the program opens SlavePath as its serial port, the test reads
// and writes the master side as the board would.
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
        int slave = -1;
        char name[256] = {};
        if (openpty(&Master, &slave, name, nullptr, nullptr) == 0) {
            termios t{};
            tcgetattr(slave, &t);
            cfmakeraw(&t);
            tcsetattr(slave, TCSANOW, &t);
            SlavePath = name;
            // Held open so that the master never sees the far side vanish between opens.
            FSlave = slave;
        }
    }
    ~TPtyPair() {
        if (Master >= 0) close(Master);
        if (FSlave >= 0) close(FSlave);
    }
    TPtyPair(const TPtyPair&) = delete;
    TPtyPair& operator=(const TPtyPair&) = delete;

    // Bytes up to and including the first CR, or what came within timeoutMs.
    std::string ReadLine(int timeoutMs = 3000) {
        std::string line;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{Master, POLLIN, 0};
            if (poll(&p, 1, 10) <= 0) continue;
            char c = 0;
            if (read(Master, &c, 1) != 1) continue;
            line += c;
            if (c == '\r') break;
        }
        return line;
    }
    void Write(const std::string& s) { [[maybe_unused]] ssize_t n = write(Master, s.data(), s.size()); }

    int Master = -1;
    std::string SlavePath;

private:
    int FSlave = -1;
};

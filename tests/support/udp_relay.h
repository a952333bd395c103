// A loopback UDP forwarder that holds every datagram for a fixed time each way, so that a
// time server on loopback looks as far away as one on the Internet, symmetrically.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <thread>

class TUdpRelay {
public:
    using TAlter = std::function<void(std::string& reply)>;

    // Listens on front (127.0.0.1 and an ephemeral port by default) and forwards to
    // server:port; alter, when given, changes each reply on its way back.
    TUdpRelay(const std::string& server, uint16_t port, std::chrono::microseconds delay,
              const std::string& front = "127.0.0.1", uint16_t frontPort = 0,
              TAlter alter = nullptr)
        : FDelay(delay), FAlter(std::move(alter)) {
        FFront = Bound(front, frontPort);
        FBack = Bound("127.0.0.1", 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        inet_pton(AF_INET, server.c_str(), &to.sin_addr);
        connect(FBack, reinterpret_cast<sockaddr*>(&to), sizeof to);
        FThread = std::thread([this] { Run(); });
        // Punctual even on a busy machine, where the system lets us; plain otherwise.
        sched_param realtime{};
        realtime.sched_priority = 10;
        pthread_setschedparam(FThread.native_handle(), SCHED_FIFO, &realtime);
    }
    ~TUdpRelay() {
        FStop = true;
        FThread.join();
        close(FFront);
        close(FBack);
    }
    TUdpRelay(const TUdpRelay&) = delete;
    TUdpRelay& operator=(const TUdpRelay&) = delete;

    // Datagrams taken so far: requests and replies.
    int Requests() const { return FCount[0]; }
    int Replies() const { return FCount[1]; }

    uint16_t Port() const {
        sockaddr_in a{};
        socklen_t n = sizeof a;
        getsockname(FFront, reinterpret_cast<sockaddr*>(&a), &n);
        return ntohs(a.sin_port);
    }

private:
    using TClock = std::chrono::steady_clock;
    struct THeld {
        TClock::time_point Due;
        bool Outward;  // client to server
        std::string Bytes;
    };

    static int Bound(const std::string& address, uint16_t port) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, address.c_str(), &a.sin_addr);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        return fd;
    }

    void Take(int fd, bool outward) {
        char buf[2048];
        sockaddr_in from{};
        socklen_t n = sizeof from;
        const ssize_t got =
            recvfrom(fd, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &n);
        if (got < 0) return;
        if (outward) FClient = from;
        std::string bytes(buf, size_t(got));
        if (!outward && FAlter) FAlter(bytes);
        ++FCount[outward ? 0 : 1];
        FHeld.push_back({TClock::now() + FDelay, outward, std::move(bytes)});
    }

    void SendDue() {
        while (!FHeld.empty() && FHeld.front().Due <= TClock::now()) {
            const THeld& h = FHeld.front();
            if (h.Outward)
                send(FBack, h.Bytes.data(), h.Bytes.size(), 0);
            else
                sendto(FFront, h.Bytes.data(), h.Bytes.size(), 0,
                       reinterpret_cast<const sockaddr*>(&FClient), sizeof FClient);
            FHeld.pop_front();
        }
    }

    void Run() {
        while (!FStop) {
            pollfd p[2] = {{FFront, POLLIN, 0}, {FBack, POLLIN, 0}};
            int wait = 20;
            if (!FHeld.empty()) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    FHeld.front().Due - TClock::now());
                wait = left.count() > 1 ? static_cast<int>(left.count()) - 1 : 0;
            }
            if (poll(p, 2, wait) > 0) {
                if (p[0].revents & POLLIN) Take(FFront, true);
                if (p[1].revents & POLLIN) Take(FBack, false);
            }
            // The last millisecond is waited out precisely, not left to poll's granularity.
            while (!FHeld.empty() && FHeld.front().Due > TClock::now() &&
                   FHeld.front().Due - TClock::now() < std::chrono::milliseconds(1))
                std::this_thread::yield();
            SendDue();
        }
    }

    std::chrono::microseconds FDelay;
    TAlter FAlter;
    std::atomic<int> FCount[2] = {0, 0};
    int FFront = -1, FBack = -1;
    sockaddr_in FClient{};
    std::deque<THeld> FHeld;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

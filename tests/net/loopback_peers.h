// Real peers on loopback for the socket and client tests: a UDP responder that answers
// with chosen bytes from chosen addresses, and a TCP server that plays a script per
// connection. Both run on their own thread and are stopped and joined by their destructor.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace peers {

inline int BoundSocket(int kind, const char* ip, uint16_t port) {
    const int fd = socket(AF_INET, kind | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, ip, &a.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

inline uint16_t LocalPort(int fd) {
    sockaddr_in a{};
    socklen_t n = sizeof(a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    return ntohs(a.sin_port);
}

inline void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

class TUdpResponder {
public:
    // Which socket a reply leaves from: the one asked, another port on the same address,
    // or the same port on another loopback address.
    enum TFrom { FromServer, FromOtherPort, FromOtherAddress };
    using THandler =
        std::function<void(TUdpResponder&, const std::string& request, const sockaddr_in& client)>;

    explicit TUdpResponder(THandler handler, const char* ip = "127.0.0.1")
        : FHandler(std::move(handler)) {
        FServer = BoundSocket(SOCK_DGRAM, ip, 0);
        FOtherPort = BoundSocket(SOCK_DGRAM, ip, 0);
        FOtherAddress = BoundSocket(SOCK_DGRAM, "127.0.0.9", LocalPort(FServer));
        FThread = std::thread([this] { Run(); });
    }
    ~TUdpResponder() {
        FStop = true;
        FThread.join();
        for (int fd : {FServer, FOtherPort, FOtherAddress})
            if (fd >= 0) close(fd);
    }
    uint16_t Port() const { return LocalPort(FServer); }
    std::string PortText() const { return std::to_string(Port()); }
    int Requests() const { return FRequests; }
    std::string LastRequest() {
        std::lock_guard<std::mutex> lock(FLock);
        return FLastRequest;
    }
    bool OtherAddressReady() const { return FOtherAddress >= 0; }

    void Send(TFrom from, const std::string& bytes, const sockaddr_in& to) {
        const int fd = from == FromServer      ? FServer
                       : from == FromOtherPort ? FOtherPort
                                               : FOtherAddress;
        sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof(to));
    }
    // Waits up to ms unless the responder is stopping.
    void Hold(int ms) {
        for (int i = 0; i < ms && !FStop; i += 5) SleepMs(5);
    }

private:
    void Run() {
        while (!FStop) {
            pollfd p{FServer, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            char buffer[2048];
            sockaddr_in client{};
            socklen_t n = sizeof(client);
            const ssize_t got = recvfrom(FServer, buffer, sizeof(buffer), 0,
                                         reinterpret_cast<sockaddr*>(&client), &n);
            if (got < 0) continue;
            const std::string request(buffer, static_cast<size_t>(got));
            {
                std::lock_guard<std::mutex> lock(FLock);
                FLastRequest = request;
            }
            ++FRequests;
            FHandler(*this, request, client);
        }
    }

    THandler FHandler;
    int FServer = -1, FOtherPort = -1, FOtherAddress = -1;
    std::atomic<bool> FStop{false};
    std::atomic<int> FRequests{0};
    std::mutex FLock;
    std::string FLastRequest;
    std::thread FThread;
};

// One accepted connection, as the script sees it.
class TConnection {
public:
    TConnection(int fd, const std::atomic<bool>& stop) : FFd(fd), FStop(stop) {}
    int Fd() const { return FFd; }
    void Send(const std::string& bytes) {
        size_t off = 0;
        while (off < bytes.size()) {
            const ssize_t n = send(FFd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
            if (n <= 0) return;
            off += static_cast<size_t>(n);
        }
    }
    // Reads a request head up to its empty line (or 2 s of silence).
    std::string ReadHead() {
        std::string head;
        while (head.find("\r\n\r\n") == std::string::npos && !FStop) {
            pollfd p{FFd, POLLIN, 0};
            if (poll(&p, 1, 2000) <= 0) break;
            char b[4096];
            const ssize_t n = recv(FFd, b, sizeof(b), 0);
            if (n <= 0) break;
            head.append(b, static_cast<size_t>(n));
        }
        return head;
    }
    // Keeps the connection open for ms, until the server stops or the client closes;
    // anything the client sends meanwhile is dropped.
    void Hold(int ms) {
        for (int i = 0; i < ms && !FStop; i += 5) {
            pollfd p{FFd, POLLIN, 0};
            if (poll(&p, 1, 5) > 0) {
                char b[4096];
                if (recv(FFd, b, sizeof(b), MSG_DONTWAIT) == 0) return;
            }
        }
    }
    // Keeps the connection open for ms without reading anything.
    void Idle(int ms) {
        for (int i = 0; i < ms && !FStop; i += 5) SleepMs(5);
    }
    bool Stopping() const { return FStop; }

private:
    int FFd;
    const std::atomic<bool>& FStop;
};

class TTcpServer {
public:
    using TScript = std::function<void(TConnection&)>;

    explicit TTcpServer(TScript script) : FScript(std::move(script)) {
        FListen = BoundSocket(SOCK_STREAM, "127.0.0.1", 0);
        listen(FListen, 16);
        FThread = std::thread([this] { Run(); });
    }
    ~TTcpServer() {
        Stop();
        close(FListen);
    }
    // Ends the connection script and joins its thread while the owner's pointer to this
    // server is still set: scripts that reach the server through it must never see it null.
    void Stop() {
        FStop = true;
        if (FThread.joinable()) FThread.join();
    }
    uint16_t Port() const { return LocalPort(FListen); }
    std::string PortText() const { return std::to_string(Port()); }
    std::string Url(const std::string& path = "/") const {
        return "http://127.0.0.1:" + PortText() + path;
    }
    int Connections() const { return FConnections; }
    std::vector<std::string> Heads() {
        std::lock_guard<std::mutex> lock(FLock);
        return FHeads;
    }
    void RecordHead(const std::string& head) {
        std::lock_guard<std::mutex> lock(FLock);
        FHeads.push_back(head);
    }

private:
    void Run() {
        while (!FStop) {
            pollfd p{FListen, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            const int fd = accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            ++FConnections;
            TConnection connection(fd, FStop);
            FScript(connection);
            close(fd);
        }
    }

    TScript FScript;
    int FListen = -1;
    std::atomic<bool> FStop{false};
    std::atomic<int> FConnections{0};
    std::mutex FLock;
    std::vector<std::string> FHeads;
    std::thread FThread;
};

}  // namespace peers

#include "net/resolver.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {
// What the lookup thread and its caller share; whichever lets go last frees it.
struct TLookup {
    std::mutex Lock;
    std::condition_variable Done;
    bool Finished = false;
    int Result = 0;
    TSockAddr Address{};
};
}  // namespace

int FillSockAddrUnlessStopped(TSockAddr& address, const std::string& host, const std::string& port,
                              bool preferIPv4, int kind, int protocol, int family, int checkMs,
                              const std::function<int()>& giveUp) {
    if (!giveUp || checkMs <= 0 || IsIPv4Literal(host) || IsIPv6Literal(host))
        return FillSockAddr(address, host, port, preferIPv4, kind, protocol, family);
    std::memset(&address, 0, sizeof(address));
    auto lookup = std::make_shared<TLookup>();
    try {
        std::thread([lookup, host, port, preferIPv4, kind, protocol, family] {
            TSockAddr found{};
            const int result = FillSockAddr(found, host, port, preferIPv4, kind, protocol, family);
            std::lock_guard<std::mutex> g(lookup->Lock);
            lookup->Result = result;
            lookup->Address = found;
            lookup->Finished = true;
            lookup->Done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: resolve here, as a blocking lookup would.
        return FillSockAddr(address, host, port, preferIPv4, kind, protocol, family);
    }
    std::unique_lock<std::mutex> lock(lookup->Lock);
    while (!lookup->Done.wait_for(lock, std::chrono::milliseconds(checkMs),
                                  [&] { return lookup->Finished; })) {
        lock.unlock();
        const int stop = giveUp();
        lock.lock();
        if (stop != 0 && !lookup->Finished) return stop;
    }
    address = lookup->Address;
    return lookup->Result;
}

// The clock service's named pipe: a few instances, each connection served on a thread of
// its own with every wait bounded, so that a caller that connects and says nothing, or
// never reads its answer, holds up nobody else and never the service's stop. Reads are made
// only once data is there (peeked), so that no read is ever left pending to be cancelled.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "clock_requests.h"
#include "pipe_security.h"

class TPipeServer {
public:
    TPipeServer(std::wstring name, TPipeSecurity& security, TClockRequests& requests);
    ~TPipeServer();
    TPipeServer(const TPipeServer&) = delete;
    TPipeServer& operator=(const TPipeServer&) = delete;

    // Creates the pipe and starts listening: 0, or the system's error (ERROR_ACCESS_DENIED
    // or ERROR_PIPE_BUSY when another program holds the name).
    DWORD Start();
    // Stops listening and waits for the connections being served.
    void Stop();

private:
    HANDLE CreateInstance(bool first);
    bool WaitForCaller(HANDLE pipe);
    void AcceptLoop(HANDLE pipe);
    void Serve(HANDLE pipe);
    TClockAnswer Answer(HANDLE pipe, const std::string& request, bool tooLong);
    // Until the caller has sent something (true), or hung up, or the time is up (false).
    bool WaitForData(HANDLE pipe, std::chrono::steady_clock::time_point deadline);
    // One read or write with a deadline; false on time-out, stop or failure.
    bool Transfer(HANDLE pipe, bool write, void* data, DWORD size, DWORD& done, DWORD& error,
                  std::chrono::steady_clock::time_point deadline);

    std::wstring FName;
    TPipeSecurity& FSecurity;
    TClockRequests& FRequests;
    HANDLE FStop = nullptr;
    std::thread FAcceptor;
    std::mutex FLock;
    std::condition_variable FIdle;
    int FServing = 0;
};

#include "pipe_server.h"

#include <chrono>

#include "platform/windows/clock_service_protocol.h"

namespace {

using TDeadline = std::chrono::steady_clock::time_point;
constexpr DWORD MaxInstances = 4;
// How long a caller has to send its request, and to take its answer.
constexpr DWORD CallerTimeoutMs = 3000;

}  // namespace

TPipeServer::TPipeServer(std::wstring name, TPipeSecurity& security, TClockRequests& requests)
    : FName(std::move(name)), FSecurity(security), FRequests(requests) {
    FStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

TPipeServer::~TPipeServer() {
    Stop();
    if (FStop) CloseHandle(FStop);
}

HANDLE TPipeServer::CreateInstance(bool first) {
    // The first instance must be ours: a pipe of that name made by someone else would
    // otherwise take the callers' requests in the service's place.
    DWORD open = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
    if (first) open |= FILE_FLAG_FIRST_PIPE_INSTANCE;
    return CreateNamedPipeW(
        FName.c_str(), open,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        MaxInstances, ClockAnswerMax, ClockRequestMax, 0, FSecurity.Attributes());
}

DWORD TPipeServer::Start() {
    if (!FStop || !FSecurity.Valid()) return ERROR_INVALID_SECURITY_DESCR;
    HANDLE first = CreateInstance(true);
    if (first == INVALID_HANDLE_VALUE) return GetLastError();
    ResetEvent(FStop);
    FAcceptor = std::thread(&TPipeServer::AcceptLoop, this, first);
    return 0;
}

void TPipeServer::Stop() {
    if (!FAcceptor.joinable()) return;
    SetEvent(FStop);
    // Wakes the acceptor should it be waiting for a caller.
    HANDLE wake = CreateFileW(FName.c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (wake != INVALID_HANDLE_VALUE) CloseHandle(wake);
    FAcceptor.join();
    std::unique_lock<std::mutex> lock(FLock);
    FIdle.wait(lock, [this] { return FServing == 0; });
}

bool TPipeServer::WaitForCaller(HANDLE pipe) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!overlapped.hEvent) return false;
    bool connected = ConnectNamedPipe(pipe, &overlapped) != FALSE;
    const DWORD error = GetLastError();
    if (!connected && error == ERROR_PIPE_CONNECTED) connected = true;
    if (!connected && error == ERROR_IO_PENDING) {
        // Stop() ends this wait by calling in itself: cancelling a pending connection is not
        // dependable everywhere (Wine).
        DWORD ignored = 0;
        connected = GetOverlappedResult(pipe, &overlapped, &ignored, TRUE) != FALSE;
    }
    CloseHandle(overlapped.hEvent);
    return connected && WaitForSingleObject(FStop, 0) != WAIT_OBJECT_0;
}

void TPipeServer::AcceptLoop(HANDLE pipe) {
    while (WaitForSingleObject(FStop, 0) != WAIT_OBJECT_0) {
        if (pipe == INVALID_HANDLE_VALUE) {
            // Every instance is serving a caller: try again shortly.
            if (WaitForSingleObject(FStop, 50) == WAIT_OBJECT_0) break;
            pipe = CreateInstance(false);
            continue;
        }
        if (WaitForCaller(pipe)) {
            {
                std::lock_guard<std::mutex> lock(FLock);
                ++FServing;
            }
            std::thread(&TPipeServer::Serve, this, pipe).detach();
        } else {
            CloseHandle(pipe);
        }
        pipe = CreateInstance(false);
    }
    if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
}

bool TPipeServer::Transfer(HANDLE pipe, bool write, void* data, DWORD size, DWORD& done,
                           DWORD& error, TDeadline deadline) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!overlapped.hEvent) return false;
    done = 0;
    BOOL ok = write ? WriteFile(pipe, data, size, nullptr, &overlapped)
                    : ReadFile(pipe, data, size, nullptr, &overlapped);
    error = ok ? 0 : GetLastError();
    if (!ok && error == ERROR_IO_PENDING) {
        HANDLE waits[] = {overlapped.hEvent, FStop};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const DWORD wait = left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
        if (WaitForMultipleObjects(2, waits, FALSE, wait) != WAIT_OBJECT_0) CancelIo(pipe);
    }
    ok = GetOverlappedResult(pipe, &overlapped, &done, TRUE);
    error = ok ? 0 : GetLastError();
    CloseHandle(overlapped.hEvent);
    return ok || error == ERROR_MORE_DATA;
}

TClockAnswer TPipeServer::Answer(HANDLE pipe, const std::string& request, bool tooLong) {
    HANDLE token = PipeClientToken(pipe);
    const bool admitted = FSecurity.Admits(token);
    if (token) CloseHandle(token);
    if (!admitted) {
        std::string group;
        for (const wchar_t* c = TIKTAAL_CLOCK_GROUP; *c; ++c) group += static_cast<char>(*c);
        return {ClockCallerRefused, "only members of the group \"" + group +
                                        "\", administrators and the system may set the clock"};
    }
    if (tooLong) return {ClockBadOffset, BadOffsetReason};
    return FRequests.Handle(request);
}

bool TPipeServer::WaitForData(HANDLE pipe, TDeadline deadline) {
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
        if (available > 0) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        if (WaitForSingleObject(FStop, 10) == WAIT_OBJECT_0) return false;
    }
}

void TPipeServer::Serve(HANDLE pipe) {
    const TDeadline deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(CallerTimeoutMs);
    char request[ClockRequestMax + 1];
    char rest[256];
    DWORD got = 0, error = 0;
    if (WaitForData(pipe, deadline) &&
        Transfer(pipe, false, request, sizeof request, got, error, deadline)) {
        const bool tooLong = error == ERROR_MORE_DATA || got > ClockRequestMax;
        // An overlong request is read to its end first: its caller is still writing it.
        while (error == ERROR_MORE_DATA && WaitForData(pipe, deadline) &&
               Transfer(pipe, false, rest, sizeof rest, got, error, deadline)) {
        }
        const std::string answer =
            Answer(pipe, std::string(request, tooLong ? 0 : got), tooLong).Text();
        std::string out = answer.substr(0, ClockAnswerMax);
        const TDeadline answerDeadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(CallerTimeoutMs);
        DWORD sent = 0;
        if (Transfer(pipe, true, out.data(), static_cast<DWORD>(out.size()), sent, error,
                     answerDeadline)) {
            // Wait for the caller to take the answer and hang up: disconnecting first would
            // throw the answer away unread. Whatever else it sends is dropped.
            while (WaitForData(pipe, answerDeadline) &&
                   Transfer(pipe, false, rest, sizeof rest, got, error, answerDeadline)) {
            }
        }
    }
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
    std::lock_guard<std::mutex> lock(FLock);
    --FServing;
    FIdle.notify_all();
}

// Setting the clock through the clock service: the window never holds the right to set the
// clock, so no plugin or library it loads can set it; it asks the service over its pipe,
// whose access list (the group "Tiktaal Clock") decides who may. Every wait is bounded: a
// service that is missing, stopped or stuck is a reason, never a hang.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>

#include "platform/clock.h"
#include "platform/windows/clock_service_protocol.h"
#include "platform/windows/wide_text.h"

namespace {

// Finding a free instance of the pipe, and the whole exchange once connected: the service
// answers within milliseconds, and the caller is the window's main thread.
constexpr DWORD ConnectTimeoutMs = 2000;
// How long the pipe's name may be missing before the service counts as not running.
constexpr DWORD MissingPipeGraceMs = 250;
constexpr DWORD AnswerTimeoutMs = 5000;

std::atomic<bool> FailureTold{false};

// Tells the user once why the clock stays as it is.
void TellFailureOnce(const std::string& pipe, const std::string& reason) {
    if (FailureTold.exchange(true)) return;
    std::fprintf(stderr,
                 "tiktaal: cannot set the PC clock: %s (%s). Only the clock service may set "
                 "it: install Tiktaal with its clock service and add this user to the group "
                 "\"Tiktaal Clock\" (see the README), or run with --set-clock=never to leave "
                 "the clock to the system.\n",
                 reason.c_str(), pipe.c_str());
    std::fflush(stderr);
}

[[noreturn]] void Refuse(const std::string& pipe, DWORD error, const std::string& reason) {
    TellFailureOnce(pipe, reason);
    throw std::system_error(static_cast<int>(error), std::system_category(), reason);
}

std::string OpenFailureReason(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return "the clock service is not running";
        case ERROR_ACCESS_DENIED:
            return "this user may not ask the clock service: it admits only members of the "
                   "group \"Tiktaal Clock\"";
        default:
            return "cannot reach the clock service: " + WindowsErrorText(error);
    }
}

// Opens the pipe, waiting a bounded time while every instance is taken. A running service
// may for a moment have no instance at all (between handing one to a caller and putting up
// the next): only a name missing for longer means no service.
HANDLE OpenServicePipe(const std::wstring& name, DWORD& error) {
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::milliseconds(ConnectTimeoutMs);
    const auto missingFor = start + std::chrono::milliseconds(MissingPipeGraceMs);
    for (;;) {
        // Identification only: whoever serves the pipe learns who asks, but cannot act as us.
        HANDLE pipe = CreateFileW(
            name.c_str(),
            FILE_READ_DATA | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES |
                SYNCHRONIZE,
            0, nullptr, OPEN_EXISTING,
            FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) return pipe;
        error = GetLastError();
        const auto now = std::chrono::steady_clock::now();
        if (error == ERROR_FILE_NOT_FOUND && now < missingFor) {
            Sleep(10);
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        if (error != ERROR_PIPE_BUSY || left.count() <= 0) return INVALID_HANDLE_VALUE;
        WaitNamedPipeW(name.c_str(), static_cast<DWORD>(left.count()));
    }
}

// One read or write on the overlapped pipe, within the deadline.
bool Transfer(HANDLE pipe, bool write, void* data, DWORD size, DWORD& done, DWORD& error,
              std::chrono::steady_clock::time_point deadline) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!overlapped.hEvent) {
        error = GetLastError();
        return false;
    }
    BOOL ok = write ? WriteFile(pipe, data, size, nullptr, &overlapped)
                    : ReadFile(pipe, data, size, nullptr, &overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const DWORD wait = left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
        if (WaitForSingleObject(overlapped.hEvent, wait) != WAIT_OBJECT_0) CancelIo(pipe);
    }
    ok = GetOverlappedResult(pipe, &overlapped, &done, TRUE);
    error = ok ? 0 : GetLastError();
    CloseHandle(overlapped.hEvent);
    return ok != FALSE;
}

// The request and its answer; the answer's text, or a reason raised.
std::string Exchange(HANDLE pipe, const std::string& name, std::string request) {
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(AnswerTimeoutMs);
    DWORD done = 0, error = 0;
    char answer[ClockAnswerMax + 1];
    if (Transfer(pipe, true, request.data(), static_cast<DWORD>(request.size()), done, error,
                 deadline) &&
        Transfer(pipe, false, answer, ClockAnswerMax, done, error, deadline))
        return std::string(answer, done);
    if (error == ERROR_OPERATION_ABORTED) error = WAIT_TIMEOUT;
    const std::string reason = error == WAIT_TIMEOUT
                                   ? "the clock service did not answer within " +
                                         std::to_string(AnswerTimeoutMs / 1000) + " s"
                                   : "the clock service hung up: " + WindowsErrorText(error);
    Refuse(name, error, reason);
}

// "STATUS REASON" from the service: true when stepped, else the reason raised.
bool Judge(const std::string& name, const std::string& answer) {
    const size_t blank = answer.find(' ');
    const std::string status = answer.substr(0, blank);
    const std::string reason =
        blank == std::string::npos ? "it gave no reason" : answer.substr(blank + 1);
    if (status.size() != 1 || status[0] < '0' || status[0] > '9')
        throw std::runtime_error("the clock service gave an answer that is not one");
    switch (status[0] - '0') {
        case ClockStepped:
            return true;
        case ClockNotPermitted:
            Refuse(name, ERROR_PRIVILEGE_NOT_HELD, "the clock service has " + reason);
        case ClockCallerRefused:
            Refuse(name, ERROR_ACCESS_DENIED, "the clock service refused this user: " + reason);
        default:
            throw std::runtime_error("the clock service refused it (status " + status +
                                     "): " + reason);
    }
}

}  // namespace

std::string ClockHelperPath() {
    const wchar_t* chosen = _wgetenv(L"TIKTAAL_SET_CLOCK_PIPE");
    return WideToUtf8(chosen && *chosen ? chosen : TIKTAAL_CLOCK_PIPE);
}

bool SystemStepClock(double offsetSeconds) {
    if (!std::isfinite(offsetSeconds)) return false;
    const std::string name = ClockHelperPath();
    char offset[64];
    std::snprintf(offset, sizeof offset, "%+.9f", offsetSeconds);
    DWORD error = 0;
    HANDLE pipe = OpenServicePipe(Utf8ToWide(name), error);
    if (pipe == INVALID_HANDLE_VALUE) {
        if (error == ERROR_PIPE_BUSY)
            throw std::runtime_error("the clock service is busy: every line to it is taken");
        Refuse(name, error, OpenFailureReason(error));
    }
    try {
        const std::string answer = Exchange(pipe, name, offset);
        CloseHandle(pipe);
        return Judge(name, answer);
    } catch (...) {
        CloseHandle(pipe);
        throw;
    }
}

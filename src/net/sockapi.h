// The socket interface under the block sockets: start-up of the interface, and the
// mapping of system errors onto the Windows Sockets numbers, so that the codes and texts
// the clients see are the same on every system.
#pragma once

#include <cerrno>
#include <stdexcept>
#include <string>

// The Windows Sockets numbers the layer sets or tests by name.
constexpr int kSockNoError = 0;
constexpr int kSockNoMemory = 8;
constexpr int kSockInterrupted = 10004;
constexpr int kSockBadHandle = 10009;
constexpr int kSockAccessDenied = 10013;
constexpr int kSockInvalidArgument = 10022;
constexpr int kSockWouldBlock = 10035;
constexpr int kSockInProgress = 10036;
constexpr int kSockNotSupported = 10044;
constexpr int kSockFamilyNotSupported = 10047;
constexpr int kSockAborted = 10053;        // stopped through StopFlag
constexpr int kSockConnReset = 10054;      // peer closed
constexpr int kSockNoBufferSpace = 10055;  // line or document over its bound
constexpr int kSockTimedOut = 10060;
constexpr int kSockConnRefused = 10061;
constexpr int kSockSysNotReady = 10091;  // TLS refused
constexpr int kSockServiceNotFound = 10109;
constexpr int kSockHostNotFound = 11001;
constexpr int kSockTryAgain = 11002;
constexpr int kSockNoRecovery = 11003;
constexpr int kSockNoData = 11004;

constexpr int kSocketError = -1;    // SOCKET_ERROR
constexpr int kInvalidSocket = -1;  // INVALID_SOCKET

// Raised only when a socket's RaiseExcept is set, and when the interface cannot start.
class ESocketError : public std::runtime_error {
public:
    ESocketError(int code, const std::string& text) : std::runtime_error(text), FErrorCode(code) {}
    int ErrorCode() const { return FErrorCode; }

private:
    int FErrorCode;
};

extern const char* const kSocketLoadFailure;

// The interface is linked directly here; loading only checks that the system can make
// sockets at all, counted so that nested loads and unloads stay balanced.
bool LoadSocketLibrary(const std::string& name = "");
bool UnloadSocketLibrary();
int SocketLibraryUsers();
// Loads the interface once per process; raises ESocketError with kSocketLoadFailure
// when it cannot start.
void StartSocketInterface();

// An errno value as its Windows Sockets number.
int ErrnoToSockError(int err);
// A getaddrinfo result as its Windows Sockets number (0 stays 0); savedErrno serves
// EAI_SYSTEM.
int AddrInfoToSockError(int result, int savedErrno);
// errno of the failed call just made, mapped; read it before any other call.
int LastSocketError();

// Repeats a system call that a signal interrupted.
template <class F>
auto RetryOnEintr(F call) {
    decltype(call()) result;
    do {
        result = call();
    } while (result == -1 && errno == EINTR);
    return result;
}

// The description of a Windows Sockets number.
std::string GetErrorDesc(int code);

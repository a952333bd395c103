// The socket interface under the block sockets: start-up of the interface, and the
// Windows Sockets numbers every system's errors are given in, so that the codes and texts
// the clients see are the same on every system.
#pragma once

#include <cstdint>
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
constexpr int kSockNotSocket = 10038;
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

constexpr int kSocketError = -1;  // SOCKET_ERROR

// A socket as the system names it: a descriptor on Linux, a SOCKET on Windows.
using TSocketHandle = intptr_t;
constexpr TSocketHandle kInvalidSocket = -1;  // INVALID_SOCKET

// Raised only when a socket's RaiseExcept is set, and when the interface cannot start.
class ESocketError : public std::runtime_error {
public:
    ESocketError(int code, const std::string& text) : std::runtime_error(text), FErrorCode(code) {}
    int ErrorCode() const { return FErrorCode; }

private:
    int FErrorCode;
};

extern const char* const kSocketLoadFailure;

// The interface is linked directly; loading starts it (on Linux: checks that the system can
// make sockets at all), counted so that nested loads and unloads stay balanced.
bool LoadSocketLibrary(const std::string& name = "");
bool UnloadSocketLibrary();
int SocketLibraryUsers();
// Loads the interface once per process; raises ESocketError with kSocketLoadFailure
// when it cannot start.
void StartSocketInterface();

// The reason the system call just made failed, as a Windows Sockets number; read it
// before any other call.
int LastSocketError();

// The description of a Windows Sockets number.
std::string GetErrorDesc(int code);

// Windows Sockets 2.2: started once per process; errors are the system's own numbers,
// which are the ones the socket layer speaks everywhere.
#include "net/socksys.h"

#include <mstcpip.h>
#include <mswsock.h>
#include <windows.h>

#include <cstring>
#include <mutex>

namespace {

// Receive stamps came with Windows 10 version 21H2; the SDK shows their names only to
// programs that require it, so the values are spelled out for older targets here.
const DWORD TimestampingIoctl = _WSAIOW(IOC_VENDOR, 235);
struct TTimestampingConfig {
    ULONG Flags;
    USHORT TxTimestampsBuffered;
};
constexpr ULONG TimestampReceived = 0x1;
constexpr INT TimestampMessage = 0x300A;

SOCKET Sock(TSocketHandle handle) { return static_cast<SOCKET>(handle); }

int Result(int value) { return value == SOCKET_ERROR ? kSocketError : value; }

// WSARecvMsg is reached through the provider's extension table; it hands over the control
// data (the arrival stamp) that recvfrom drops.
LPFN_WSARECVMSG RecvMsgFunction(SOCKET s) {
    static std::once_flag once;
    static LPFN_WSARECVMSG function = nullptr;
    std::call_once(once, [s] {
        GUID id = WSAID_WSARECVMSG;
        DWORD bytes = 0;
        if (WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function,
                     sizeof function, &bytes, nullptr, nullptr) != 0)
            function = nullptr;
    });
    return function;
}

// The stamp counts the performance counter; real time is the system time now less the
// counter's distance since then.
int64_t CounterToRealNs(uint64_t stamp) {
    LARGE_INTEGER now{}, frequency{};
    FILETIME wall{};
    QueryPerformanceCounter(&now);
    GetSystemTimePreciseAsFileTime(&wall);
    QueryPerformanceFrequency(&frequency);
    const uint64_t counter = static_cast<uint64_t>(now.QuadPart);
    if (frequency.QuadPart <= 0 || stamp == 0 || stamp > counter) return 0;
    const uint64_t ago = counter - stamp;
    const uint64_t freq = static_cast<uint64_t>(frequency.QuadPart);
    if (ago > freq * 10) return 0;  // older than any datagram we still wait for
    const int64_t agoNs =
        static_cast<int64_t>(ago / freq * 1000000000 + ago % freq * 1000000000 / freq);
    // FILETIME counts 100 ns from 1601; 1970 is 11644473600 s later.
    const uint64_t ticks = (static_cast<uint64_t>(wall.dwHighDateTime) << 32) | wall.dwLowDateTime;
    const int64_t wallNs = static_cast<int64_t>(ticks - 116444736000000000ULL) * 100;
    return wallNs - agoNs;
}

int64_t ArrivalStampOf(WSAMSG& message) {
    for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&message); c; c = WSA_CMSG_NXTHDR(&message, c))
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == TimestampMessage &&
            c->cmsg_len >= WSA_CMSG_LEN(sizeof(uint64_t))) {
            uint64_t stamp = 0;
            std::memcpy(&stamp, WSA_CMSG_DATA(c), sizeof stamp);
            return CounterToRealNs(stamp);
        }
    return 0;
}

}  // namespace

int LastSocketError() { return WSAGetLastError(); }

bool StartSystemSockets() {
    static const bool started = [] {
        WSADATA data{};
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
        if (LOBYTE(data.wVersion) == 2 && HIBYTE(data.wVersion) == 2) return true;
        WSACleanup();
        return false;
    }();
    return started;
}

int SystemToSockError(int code) { return code; }

// Sockets are not handed down to programs this one starts.
TSocketHandle OpenSocket(int family, int kind, int protocol) {
    const SOCKET s = socket(family, kind, protocol);
    if (s == INVALID_SOCKET) return kInvalidSocket;
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return static_cast<TSocketHandle>(s);
}

void CloseSocket(TSocketHandle handle) {
    if (handle != kInvalidSocket) closesocket(Sock(handle));
}

int BindSocket(TSocketHandle handle, const TSockAddr& address) {
    return Result(bind(Sock(handle), &address.Any, SockAddrLength(address)));
}

int ListenOnSocket(TSocketHandle handle) { return Result(listen(Sock(handle), SOMAXCONN)); }

TSocketHandle AcceptOnSocket(TSocketHandle handle) {
    const SOCKET s = accept(Sock(handle), nullptr, nullptr);
    if (s == INVALID_SOCKET) return kInvalidSocket;
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return static_cast<TSocketHandle>(s);
}

int ConnectSocket(TSocketHandle handle, const TSockAddr& address) {
    return Result(connect(Sock(handle), &address.Any, SockAddrLength(address)));
}

void ReadLocalAddress(TSocketHandle handle, TSockAddr& address) {
    int length = sizeof(address);
    getsockname(Sock(handle), &address.Any, &length);
}

void ReadPeerAddress(TSocketHandle handle, TSockAddr& address) {
    int length = sizeof(address);
    getpeername(Sock(handle), &address.Any, &length);
}

int ShutdownSending(TSocketHandle handle) { return Result(shutdown(Sock(handle), SD_SEND)); }

int SetNonBlocking(TSocketHandle handle, bool on) {
    u_long mode = on ? 1 : 0;
    return Result(ioctlsocket(Sock(handle), FIONBIO, &mode));
}

// select() rather than WSAPoll(): WSAPoll does not report a connect that failed on every
// Windows version, select() shows it in the exception set.
int WaitSocket(TSocketHandle handle, bool forWriting, int timeout) {
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(Sock(handle), &ready);
    FD_SET(Sock(handle), &failed);
    timeval limit{timeout / 1000, (timeout % 1000) * 1000};
    return Result(select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr,
                         forWriting ? &failed : nullptr, timeout < 0 ? nullptr : &limit));
}

int PendingSocketBytes(TSocketHandle handle) {
    u_long count = 0;
    if (ioctlsocket(Sock(handle), FIONREAD, &count) != 0) return kSocketError;
    return count > 0x7fffffff ? 0x7fffffff : static_cast<int>(count);
}

int SocketErrorValue(TSocketHandle handle) {
    int err = 0;
    int size = sizeof err;
    if (getsockopt(Sock(handle), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &size) != 0)
        return 0;
    return err;
}

// Windows has no per-call "don't wait": the socket is non-blocking for the one call.
int SendNow(TSocketHandle handle, const void* buffer, int length, bool nonBlocking) {
    if (!nonBlocking) SetNonBlocking(handle, true);
    const int r = send(Sock(handle), static_cast<const char*>(buffer), length, 0);
    const int err = WSAGetLastError();
    if (!nonBlocking) SetNonBlocking(handle, false);
    WSASetLastError(err);
    return Result(r);
}

int SendDatagramTo(TSocketHandle handle, const void* buffer, int length, const TSockAddr& to) {
    return Result(sendto(Sock(handle), static_cast<const char*>(buffer), length, 0, &to.Any,
                         SockAddrLength(to)));
}

int ReceiveSome(TSocketHandle handle, void* buffer, int length) {
    return Result(recv(Sock(handle), static_cast<char*>(buffer), length, 0));
}

int PeekSome(TSocketHandle handle, void* buffer, int length) {
    return Result(recv(Sock(handle), static_cast<char*>(buffer), length, MSG_PEEK));
}

int ReceiveDatagramFrom(TSocketHandle handle, void* buffer, int length, TSockAddr& sender,
                        int64_t& arrivalNs) {
    arrivalNs = 0;
    if (const LPFN_WSARECVMSG recvMsg = RecvMsgFunction(Sock(handle))) {
        WSABUF data{static_cast<ULONG>(length), static_cast<char*>(buffer)};
        alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(uint64_t)) + 64];
        WSAMSG message{};
        message.name = &sender.Any;
        message.namelen = sizeof(sender);
        message.lpBuffers = &data;
        message.dwBufferCount = 1;
        message.Control = {sizeof control, control};
        DWORD got = 0;
        if (recvMsg(Sock(handle), &message, &got, nullptr, nullptr) == 0) {
            arrivalNs = ArrivalStampOf(message);
            return static_cast<int>(got);
        }
        // A message too long for the buffer is still a datagram read, cut to length.
        if (WSAGetLastError() == WSAEMSGSIZE) return length;
        const int err = WSAGetLastError();
        if (err != WSAEOPNOTSUPP && err != WSAEINVAL) return kSocketError;
    }
    int size = sizeof(sender);
    return Result(
        recvfrom(Sock(handle), static_cast<char*>(buffer), length, 0, &sender.Any, &size));
}

void SetIntOption(TSocketHandle handle, int level, int name, int value) {
    setsockopt(Sock(handle), level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

void SetLingerOption(TSocketHandle handle, int seconds) {
    linger l{};
    l.l_onoff = seconds >= 0 ? 1 : 0;
    l.l_linger = static_cast<u_short>(seconds >= 0 ? (seconds > 65535 ? 65535 : seconds) : 0);
    setsockopt(Sock(handle), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
}

// The system takes these time-outs as a count of milliseconds.
void SetTimeoutOption(TSocketHandle handle, bool receiving, int ms) {
    const DWORD value = static_cast<DWORD>(ms < 0 ? 0 : ms);
    setsockopt(Sock(handle), SOL_SOCKET, receiving ? SO_RCVTIMEO : SO_SNDTIMEO,
               reinterpret_cast<const char*>(&value), sizeof value);
}

// Receive stamps where the system has them (SIO_TIMESTAMPING); where it refuses, datagrams
// carry none and the reader's own clock stands in.
void SetArrivalStampOption(TSocketHandle handle, bool on) {
    TTimestampingConfig config{};
    config.Flags = on ? TimestampReceived : 0;
    DWORD bytes = 0;
    WSAIoctl(Sock(handle), TimestampingIoctl, &config, sizeof config, nullptr, 0, &bytes, nullptr,
             nullptr);
}

int LookUpAddrInfo(const char* host, const char* port, const addrinfo& hints, addrinfo** list) {
    return getaddrinfo(host, port, &hints, list);
}

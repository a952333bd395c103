// The system's socket calls under the block sockets, one implementation per system
// (linux/, windows/), chosen by the build. Calls answer as the system's own do: a count or 0
// on success, kSocketError on failure, after which LastSocketError() gives the reason as a
// Windows Sockets number.
#pragma once

#include <cstdint>

#include "net/ipaddr.h"
#include "net/sockapi.h"

// Whether the system's socket interface can be used (and on Windows, starts it).
bool StartSystemSockets();
// An error the system handed over as a value (the socket's pending error) as a Windows
// Sockets number.
int SystemToSockError(int code);

TSocketHandle OpenSocket(int family, int kind, int protocol);
void CloseSocket(TSocketHandle handle);
int BindSocket(TSocketHandle handle, const TSockAddr& address);
int ListenOnSocket(TSocketHandle handle);
// A waiting connection, or kInvalidSocket.
TSocketHandle AcceptOnSocket(TSocketHandle handle);
// Starts a connect; on a non-blocking socket the handshake goes on after kSocketError
// with kSockInProgress or kSockWouldBlock.
int ConnectSocket(TSocketHandle handle, const TSockAddr& address);
void ReadLocalAddress(TSocketHandle handle, TSockAddr& address);
void ReadPeerAddress(TSocketHandle handle, TSockAddr& address);
int ShutdownSending(TSocketHandle handle);

int SetNonBlocking(TSocketHandle handle, bool on);
// Waits up to timeout ms (-1 = no limit) until the socket can be read (or written); a
// failed connect counts as writable. > 0 ready, 0 time-out, kSocketError.
int WaitSocket(TSocketHandle handle, bool forWriting, int timeout);
// Bytes the system holds for reading, or kSocketError.
int PendingSocketBytes(TSocketHandle handle);
// The socket's pending error as the system's number (reading clears it), 0 for none.
int SocketErrorValue(TSocketHandle handle);

// Sends what the system takes now, never waiting and never raising a signal; the socket
// is left blocking or not as nonBlocking says (the mode its owner chose).
int SendNow(TSocketHandle handle, const void* buffer, int length, bool nonBlocking);
int SendDatagramTo(TSocketHandle handle, const void* buffer, int length, const TSockAddr& to);
int ReceiveSome(TSocketHandle handle, void* buffer, int length);
int PeekSome(TSocketHandle handle, void* buffer, int length);
// One datagram and its sender; arrivalNs is the system's stamp of its arrival (real time,
// ns since 1970), 0 when it carried none.
int ReceiveDatagramFrom(TSocketHandle handle, void* buffer, int length, TSockAddr& sender,
                        int64_t& arrivalNs);

// Options; a value the system refuses leaves its default.
void SetIntOption(TSocketHandle handle, int level, int name, int value);
// seconds < 0 turns lingering off.
void SetLingerOption(TSocketHandle handle, int seconds);
void SetTimeoutOption(TSocketHandle handle, bool receiving, int ms);
// Asks the system to stamp each arriving datagram (ReceiveDatagramFrom's arrivalNs).
void SetArrivalStampOption(TSocketHandle handle, bool on);

// One name lookup: the list the system gives (free with freeaddrinfo), and 0 or a Windows
// Sockets number.
int LookUpAddrInfo(const char* host, const char* port, const addrinfo& hints, addrinfo** list);

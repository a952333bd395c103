// Address resolution: socket addresses from host and port texts (IPv4 and IPv6, with
// the prefer-IPv4 order), addresses back to text, and the address-literal tests.
#pragma once

#include <cstdint>
#include <string>

// The system's own socket declarations, from the folder of the system being built for.
#include "socket_headers.h"

class TStringList;

// Either family in one record: IPv4 or IPv6, the port in network byte order.
union TSockAddr {
    sockaddr Any;
    sockaddr_in V4;
    sockaddr_in6 V6;
};

// 16 for IPv4, 28 for IPv6, 0 for anything else.
socklen_t SockAddrLength(const TSockAddr& address);
// Same family, port and address (and IPv6 scope when both name one).
bool SameSockAddr(const TSockAddr& a, const TSockAddr& b);

// Hints for one resolution attempt.
struct TAddrHints {
    int Flags = 0;
    int Family = AF_UNSPEC;
    int Kind = 0;  // SOCK_STREAM, SOCK_DGRAM, SOCK_RAW
    int Protocol = 0;
};

bool UsesAddrInfo(int family);
// Fills address for host:port; with family AF_UNSPEC tries both families, IPv4 first when
// preferIPv4. Returns 0 or a Windows Sockets number; the address stays zero on failure.
int FillSockAddr(TSockAddr& address, const std::string& host, const std::string& port,
                 bool preferIPv4, int kind, int protocol, int family);
// One getaddrinfo attempt; the first entry goes to address. 0 or a Windows Sockets number.
int QueryAddrInfo(const std::string& host, const std::string& port, const TAddrHints& hints,
                  TSockAddr& address);
// Numeric host text, or empty.
std::string SockAddrToText(const TSockAddr& address);
// Port in host byte order.
uint16_t SockAddrToPort(const TSockAddr& address);
// All addresses of host (of family, unless AF_UNSPEC); never empty: "0.0.0.0" stands in.
void ListHostAddresses(const std::string& host, int family, int protocol, TStringList& list,
                       int kind);
// A port or service text as a number; 0 when it is neither.
uint16_t LookupPortNumber(const std::string& port, int family, int protocol, int kind);

bool IsIPv4Literal(const std::string& text);
bool IsIPv6Literal(const std::string& text);

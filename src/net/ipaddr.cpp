#include "net/ipaddr.h"

#include <cstring>

#include "net/netutil.h"
#include "net/sockapi.h"
#include "net/socksys.h"
#include "toolkit/stringlist.h"

socklen_t SockAddrLength(const TSockAddr& address) {
    switch (address.Any.sa_family) {
        case AF_INET:
            return sizeof(sockaddr_in);
        case AF_INET6:
            return sizeof(sockaddr_in6);
        default:
            return 0;
    }
}

bool SameSockAddr(const TSockAddr& a, const TSockAddr& b) {
    if (a.Any.sa_family != b.Any.sa_family) return false;
    if (a.Any.sa_family == AF_INET)
        return a.V4.sin_port == b.V4.sin_port && a.V4.sin_addr.s_addr == b.V4.sin_addr.s_addr;
    if (a.Any.sa_family == AF_INET6) {
        if (a.V6.sin6_port != b.V6.sin6_port) return false;
        if (std::memcmp(&a.V6.sin6_addr, &b.V6.sin6_addr, sizeof(in6_addr)) != 0) return false;
        return a.V6.sin6_scope_id == 0 || b.V6.sin6_scope_id == 0 ||
               a.V6.sin6_scope_id == b.V6.sin6_scope_id;
    }
    return false;
}

// getaddrinfo is always there on this system, for both families.
bool UsesAddrInfo(int /*family*/) { return true; }

namespace {
bool AllDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// getaddrinfo quietly wraps a numeric service above 65535 into range; such a port text
// names no port at all.
bool PortOutOfRange(const std::string& port) {
    if (!AllDigits(port)) return false;
    const size_t first = port.find_first_not_of('0');
    return first != std::string::npos &&
           (port.size() - first > 5 || std::stol(port.substr(first)) > 65535);
}

int CallGetAddrInfo(const char* host, const char* port, const addrinfo& hints, TSockAddr& address) {
    addrinfo* list = nullptr;
    const int result = LookUpAddrInfo(host, port, hints, &list);
    if (result == 0 && list && list->ai_addr && list->ai_addrlen <= sizeof(TSockAddr))
        std::memcpy(&address, list->ai_addr, list->ai_addrlen);
    if (list) freeaddrinfo(list);
    return result;
}
}  // namespace

int QueryAddrInfo(const std::string& host, const std::string& port, const TAddrHints& hints,
                  TSockAddr& address) {
    std::memset(&address, 0, sizeof(address));
    addrinfo h{};
    h.ai_flags = hints.Flags;
    h.ai_family = hints.Family;
    h.ai_socktype = hints.Kind;
    h.ai_protocol = hints.Protocol;
    if (hints.Kind == SOCK_RAW) {
        h.ai_socktype = 0;
        h.ai_protocol = 0;
        return CallGetAddrInfo(host.c_str(), nullptr, h, address);
    }
    if (PortOutOfRange(port)) return kSockServiceNotFound;
    const char* service = port.empty() ? "0" : port.c_str();
    if (host == "0.0.0.0" || host == "::0") {
        h.ai_flags |= AI_PASSIVE;
        return CallGetAddrInfo(nullptr, service, h, address);
    }
    if (host == "127.0.0.1" || host == "::1") return CallGetAddrInfo(nullptr, service, h, address);
    return CallGetAddrInfo(host.c_str(), service, h, address);
}

int FillSockAddr(TSockAddr& address, const std::string& host, const std::string& port,
                 bool preferIPv4, int kind, int protocol, int family) {
    std::memset(&address, 0, sizeof(address));
    TAddrHints first;
    first.Kind = kind;
    first.Protocol = protocol;
    TAddrHints second = first;
    const bool twoAttempts = family == AF_UNSPEC;
    if (twoAttempts) {
        first.Family = preferIPv4 ? AF_INET : AF_INET6;
        second.Family = preferIPv4 ? AF_INET6 : AF_INET;
    } else {
        first.Family = family;
    }
    int result = QueryAddrInfo(host, port, first, address);
    if (result != 0 && twoAttempts) result = QueryAddrInfo(host, port, second, address);
    return result;
}

std::string SockAddrToText(const TSockAddr& address) {
    const socklen_t length = SockAddrLength(address);
    if (length == 0) return std::string();
    char host[1025] = "";
    char service[32] = "";
    if (getnameinfo(&address.Any, length, host, sizeof(host), service, sizeof(service),
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return std::string();
    return host;
}

uint16_t SockAddrToPort(const TSockAddr& address) { return ntohs(address.V4.sin_port); }

void ListHostAddresses(const std::string& host, int family, int protocol, TStringList& list,
                       int kind) {
    list.Clear();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = kind == SOCK_RAW ? 0 : kind;
    hints.ai_protocol = kind == SOCK_RAW ? 0 : protocol;
    addrinfo* entries = nullptr;
    if (LookUpAddrInfo(host.c_str(), nullptr, hints, &entries) == 0) {
        for (const addrinfo* e = entries; e; e = e->ai_next) {
            if (family != AF_UNSPEC && e->ai_family != family) continue;
            if (!e->ai_addr || e->ai_addrlen > sizeof(TSockAddr)) continue;
            TSockAddr address{};
            std::memcpy(&address, e->ai_addr, e->ai_addrlen);
            const std::string text = SockAddrToText(address);
            if (!text.empty() && list.IndexOf(text) < 0) list.Add(text);
        }
    }
    if (entries) freeaddrinfo(entries);
    if (list.Empty()) list.Add("0.0.0.0");
}

uint16_t LookupPortNumber(const std::string& port, int family, int protocol, int kind) {
    TAddrHints hints;
    hints.Flags = AI_PASSIVE;
    hints.Family = family;
    hints.Kind = kind;
    hints.Protocol = protocol;
    TSockAddr address;
    if (QueryAddrInfo("0.0.0.0", port, hints, address) != 0) return 0;
    return SockAddrToPort(address);
}

namespace {
bool IsDecimalOctet(const std::string& field) {
    if (!AllDigits(field)) return false;
    const size_t first = field.find_first_not_of('0');
    if (first == std::string::npos) return true;
    return field.size() - first <= 3 && std::stoi(field.substr(first)) <= 255;
}

bool IsHexGroup(const std::string& field) {
    if (field.empty()) return false;
    unsigned long value = 0;
    for (char c : field) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        value = value * 16 + static_cast<unsigned long>(digit);
        if (value > 0xFFFF) return false;
    }
    return true;
}

// The last group may carry a zone after "%", itself a hexadecimal number.
bool IsLastHexGroup(const std::string& field) {
    const std::string group = TextBefore(field, "%");
    const std::string zone = field.find('%') == std::string::npos ? group : TextAfter(field, "%");
    return IsHexGroup(group) && IsHexGroup(zone);
}
}  // namespace

bool IsIPv4Literal(const std::string& text) {
    std::string rest = text;
    for (int i = 0; i < 3; ++i)
        if (!IsDecimalOctet(CutField(rest, "."))) return false;
    return IsDecimalOctet(rest);
}

bool IsIPv6Literal(const std::string& text) {
    if (text == "::") return true;
    // Written addresses may end in "::" (2001:db8::): that last empty group is allowed.
    const bool endsCompressed = text.size() > 2 && text.compare(text.size() - 2, 2, "::") == 0;
    std::string rest = text;
    int fields = 0, emptyFields = 0;
    bool lastValid = false;
    while (!rest.empty()) {
        const std::string field = CutField(rest, ":");
        ++fields;
        const bool isLast = rest.empty();
        if (field.empty()) {
            if (fields > 1 && ++emptyFields > 1) return false;
            lastValid = false;
            continue;
        }
        if (fields > 8) return false;
        if (!(isLast ? IsLastHexGroup(field) : IsHexGroup(field))) return false;
        lastValid = isLast;
    }
    if (!lastValid) return endsCompressed && fields > 1 && emptyFields == 1;
    return fields > 1 || emptyFields > 0;
}

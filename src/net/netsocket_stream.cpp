// The stream socket with its proxy paths and TLS plug-in, and the datagram sockets.
#include <algorithm>
#include <cstring>

#include "net/netsocket.h"
#include "net/netutil.h"
#include "net/socksys.h"

namespace {

std::string BracketedHost(const std::string& host) {
    return IsIPv6Literal(host) ? "[" + host + "]" : host;
}
}  // namespace

bool TTlsNone::Connect() {
    FErrorCode = -1;
    FErrorText = "TLS support is not compiled in!";
    return false;
}

TTcpSocket::TTcpSocket() : FTls(std::make_unique<TTlsNone>()) {}

std::string TTcpSocket::GetErrorDescEx() {
    if (FErrorCode == kSockSysNotReady && !FTlsError.empty()) return FTlsError;
    if (FErrorCode == kSockSysNotReady && FTls->ErrorCode() != 0) return FTls->ErrorText();
    return TNetSocket::GetErrorDescEx();
}

void TTcpSocket::TlsConnect() {
    ClearError();
    if (!FTls->Connect()) FErrorCode = kSockSysNotReady;
    ReportErrors();
}

void TTcpSocket::CloseConnection() {
    if (FTls->Enabled()) FTls->Shutdown();
    EndTls();
    if (FHandle != kInvalidSocket && FErrorCode == 0) {
        ShutdownSending(FHandle);
        DiscardPendingInput();
    }
    AbortConnection();
}

void TTcpSocket::ConnectTo(const std::string& host, const std::string& port) {
    FTlsSession.reset();
    FTlsError.clear();
    if (!FSocksIP.empty())
        ConnectThroughSocks(host, port);
    else if (!FHTTPTunnelIP.empty())
        ConnectThroughTunnel(host, port);
    else
        ConnectDirect(host, port);
    if (FErrorCode == 0 && FOnAfterConnect) FOnAfterConnect(this);
}

void TTcpSocket::ConnectDirect(const std::string& host, const std::string& port) {
    ResolveInto(FPeerAddr, host, port);
    if (FErrorCode == 0) {
        OpenHandle(FPeerAddr);
        if (FHandle != kInvalidSocket) {
            FErrorCode = ConnectHandle(FPeerAddr);
            if (FErrorCode == 0) {
                ReadLocalAddress(FHandle, FLocalAddr);
                ReadPeerAddress(FHandle, FPeerAddr);
            }
        }
        FPending.clear();
        FAfterCR = FAfterLF = false;
    }
    ReportErrors();
    DoStatus(THookSocketReason::HR_Connect, host + ":" + port);
}

void TTcpSocket::ConnectThroughSocks(const std::string& host, const std::string& port) {
    ConnectDirect(FSocksIP, FSocksPort);
    if (FErrorCode == 0 && !SocksOpen(host, port)) {
        if (FErrorCode == 0) FErrorCode = kSockConnRefused;
        ReportErrors();
    }
}

void TTcpSocket::ConnectThroughTunnel(const std::string& host, const std::string& port) {
    ConnectDirect(FHTTPTunnelIP, FHTTPTunnelPort);
    if (FErrorCode != 0) return;
    std::string request = "CONNECT " + BracketedHost(host) + ":" + port + " HTTP/1.0\r\n";
    if (!FHTTPTunnelUser.empty())
        request += "Proxy-Authorization: Basic " +
                   Base64Text(FHTTPTunnelUser + ":" + FHTTPTunnelPass) + "\r\n";
    SendText(request + "\r\n");
    if (FErrorCode != 0) return;
    const bool convert = FConvertLineEnd;
    FConvertLineEnd = true;
    const std::string status = ReceiveLine(FHTTPTunnelTimeout);
    // The proxy's own header lines end at an empty line; a proxy that keeps talking is
    // cut off after a sane number of them.
    for (int i = 0; i < 256 && FErrorCode == 0; ++i)
        if (ReceiveLine(FHTTPTunnelTimeout).empty()) break;
    FConvertLineEnd = convert;
    if (FErrorCode == 0 &&
        (status.compare(0, 5, "HTTP/") != 0 || status.size() < 10 || status[9] != '2')) {
        FErrorCode = kSockConnRefused;
        ReportErrors();
    }
}

int TTcpSocket::SendOnWire(const void* buffer, int length) {
    if (StopCheck()) return 0;
    DoMonitor(true, buffer, length);
    const char* data = static_cast<const char*>(buffer);
    int total = 0;
    while (total < length) {
        const int piece = std::min(FSendMaxChunk, length - total);
        Throttle(piece, true);
        // Never blocking in send itself: a peer that stops reading is met by the bounded
        // writability wait below.
        auto sendPiece = [&] { return SendNow(FHandle, data + total, piece, FNonBlocking); };
        int sent = sendPiece();
        TakeSocketError(sent < 0 ? kSocketError : 0);
        if (FErrorCode == kSockWouldBlock) {
            if (WaitWritable(CapToDeadline(FNonblockSendTimeout))) {
                sent = sendPiece();
                TakeSocketError(sent < 0 ? kSocketError : 0);
            } else if (FErrorCode == 0) {
                FErrorCode = kSockTimedOut;
            }
        }
        if (FErrorCode != 0) break;
        total += sent;
        FBytesSent += sent;
        DoStatus(THookSocketReason::HR_WriteCount, std::to_string(sent));
    }
    ReportErrors();
    return total;
}

int TTcpSocket::ReceiveBytes(void* buffer, int length) {
    if (StopCheck()) return 0;
    Throttle(length, false);
    const int result = ReceiveSome(FHandle, buffer, length);
    if (result == 0) {
        ClearError();
        FErrorCode = kSockConnReset;
    } else {
        TakeSocketError(result < 0 ? kSocketError : 0);
    }
    ReportErrors();
    if (result <= 0) return 0;
    FBytesReceived += result;
    DoStatus(THookSocketReason::HR_ReadCount, std::to_string(result));
    DoMonitor(false, buffer, result);
    if (!FOnReadFilter) return result;
    std::string data(static_cast<const char*>(buffer), static_cast<size_t>(result));
    FOnReadFilter(this, data);
    const size_t n = std::min(data.size(), static_cast<size_t>(length));
    std::memcpy(buffer, data.data(), n);
    return static_cast<int>(n);
}

int TTcpSocket::PendingByteCount() { return TNetSocket::PendingByteCount(); }
std::string TTcpSocket::LocalAddressText() { return TNetSocket::LocalAddressText(); }
std::string TTcpSocket::RemoteAddressText() { return TNetSocket::RemoteAddressText(); }
int TTcpSocket::LocalPortNumber() { return TNetSocket::LocalPortNumber(); }
int TTcpSocket::RemotePortNumber() { return TNetSocket::RemotePortNumber(); }

void TTcpSocket::StartListening() {
    ClearError();
    if (FHandle == kInvalidSocket) {
        FErrorCode = kSockNotSocket;
    } else {
        TakeSocketError(ListenOnSocket(FHandle));
        ReadLocalAddress(FHandle, FLocalAddr);
    }
    ReportErrors();
    DoStatus(THookSocketReason::HR_Listen, "");
}

TSocketHandle TTcpSocket::AcceptConnection() {
    ClearError();
    const TSocketHandle handle = AcceptOnSocket(FHandle);
    TakeSocketError(handle == kInvalidSocket ? kSocketError : 0);
    ReportErrors();
    DoStatus(THookSocketReason::HR_Accept, "");
    return handle;
}

// SOCKS ---------------------------------------------------------------------------------

bool TProxySocket::SocksOpen(const std::string& host, const std::string& port) {
    const uint16_t number = LookupPortNumber(port, AF_UNSPEC, IPPROTO_TCP, SOCK_STREAM);
    return FSocksType == TSocksType::ST_Socks5 ? Socks5Open(host, number)
                                               : Socks4Open(host, number);
}

bool TProxySocket::Socks5Open(const std::string& host, uint16_t port) {
    const bool withUser = !FSocksUsername.empty();
    SendText(withUser ? std::string("\x05\x02\x00\x02", 4) : std::string("\x05\x01\x00", 3));
    if (FErrorCode != 0) return false;
    const std::string choice = ReceiveExactText(2, FSocksTimeout);
    if (choice.size() != 2 || choice[0] != 5) return false;
    if (choice[1] == 2) {
        if (FSocksUsername.size() > 255 || FSocksPassword.size() > 255) return false;
        SendText(std::string(1, 1) + static_cast<char>(FSocksUsername.size()) + FSocksUsername +
                 static_cast<char>(FSocksPassword.size()) + FSocksPassword);
        const std::string answer = ReceiveExactText(2, FSocksTimeout);
        if (answer.size() != 2 || answer[1] != 0) return false;
    } else if (choice[1] != 0) {
        return false;
    }
    std::string request("\x05\x01\x00", 3);
    TSockAddr target;
    if (IsIPv4Literal(host) || IsIPv6Literal(host) || !FSocksResolver) {
        if (FillSockAddr(target, host, "0", FPreferIP4, SOCK_STREAM, IPPROTO_TCP, AF_UNSPEC) != 0)
            return false;
        if (target.Any.sa_family == AF_INET)
            request += '\x01' + std::string(reinterpret_cast<const char*>(&target.V4.sin_addr), 4);
        else
            request +=
                '\x04' + std::string(reinterpret_cast<const char*>(&target.V6.sin6_addr), 16);
    } else {
        if (host.size() > 255) return false;
        request += '\x03' + std::string(1, static_cast<char>(host.size())) + host;
    }
    SendText(request + Int16ToBigEndian(port));
    const std::string head = ReceiveExactText(4, FSocksTimeout);
    if (head.size() != 4 || head[0] != 5 || head[1] != 0) return false;
    int rest = 0;
    if (head[3] == 1)
        rest = 4 + 2;
    else if (head[3] == 4)
        rest = 16 + 2;
    else if (head[3] == 3)
        rest = ReceiveOneByte(FSocksTimeout) + 2;
    else
        return false;
    ReceiveExactText(rest, FSocksTimeout);
    return FErrorCode == 0;
}

bool TProxySocket::Socks4Open(const std::string& host, uint16_t port) {
    std::string request = std::string("\x04\x01", 2) + Int16ToBigEndian(port);
    TSockAddr target;
    const bool local = IsIPv4Literal(host) || !FSocksResolver;
    if (local) {
        if (FillSockAddr(target, host, "0", true, SOCK_STREAM, IPPROTO_TCP, AF_INET) != 0)
            return false;
        request += std::string(reinterpret_cast<const char*>(&target.V4.sin_addr), 4);
    } else {
        request += std::string("\x00\x00\x00\x01", 4);  // 4a: the proxy resolves the name
    }
    request += FSocksUsername + '\0';
    if (!local) request += host + '\0';
    SendText(request);
    const std::string answer = ReceiveExactText(8, FSocksTimeout);
    return answer.size() == 8 && answer[1] == 0x5A;
}

// Datagrams -----------------------------------------------------------------------------

void TDatagramSocket::ConnectTo(const std::string& host, const std::string& port) {
    ResolveInto(FPeerAddr, host, port);
    // A name that did not resolve leaves no handle and keeps its own error, rather than a
    // socket of no family whose failure would hide the cause.
    if (FErrorCode == 0) OpenHandle(FPeerAddr);
    FPending.clear();
    ReportErrors();
    DoStatus(THookSocketReason::HR_Connect, host + ":" + port);
}

int TDatagramSocket::SendBytes(const void* buffer, int length) {
    return SendDatagram(buffer, length);
}

int TDatagramSocket::ReceiveBytes(void* buffer, int length) {
    return ReceiveDatagram(buffer, length);
}

int TUdpSocket::SendDatagram(const void* buffer, int length) {
    return TNetSocket::SendDatagram(buffer, length);
}

int TUdpSocket::ReceiveDatagram(void* buffer, int length) {
    return TNetSocket::ReceiveDatagram(buffer, length);
}

#include "net/netsocket.h"

#include <cstring>
#include <istream>
#include <iterator>
#include <ostream>
#include <thread>

#include "net/netutil.h"
#include "net/resolver.h"
#include "net/socksys.h"

namespace {

int AddressFamilyOf(TSocketFamily family) {
    switch (family) {
        case TSocketFamily::SF_IP4:
            return AF_INET;
        case TSocketFamily::SF_IP6:
            return AF_INET6;
        default:
            return AF_UNSPEC;
    }
}
}  // namespace

TNetSocket::TNetSocket() { StartSocketInterface(); }

TNetSocket::~TNetSocket() { CloseSocket(FHandle); }

void TNetSocket::SetErrorCode(int code) {
    FErrorCode = code;
    FErrorText = GetErrorDesc(code);
}

void TNetSocket::ClearError() {
    FErrorCode = 0;
    FPeerAborted = false;
    FErrorText.clear();
}

void TNetSocket::SetFamily(TSocketFamily family) {
    FFamily = family;
    FInitialFamily = family;
}

void TNetSocket::SetDeadline(int ms) {
    FHasDeadline = ms >= 0;
    FDeadlineStart = TickNow();
    FDeadlineBudget = ms;
}

bool TNetSocket::DeadlinePassed() const { return FHasDeadline && CapToDeadline(-1) == 0; }

int TNetSocket::CapToDeadline(int timeout) const {
    if (!FHasDeadline) return timeout;
    const int64_t left =
        static_cast<int64_t>(FDeadlineBudget) - TickElapsed(FDeadlineStart, TickNow());
    const int remaining = left > 0 ? static_cast<int>(left) : 0;
    return timeout < 0 || timeout > remaining ? remaining : timeout;
}

void TNetSocket::DoStatus(THookSocketReason reason, const std::string& value) {
    if (FOnStatus) FOnStatus(this, reason, value);
}

void TNetSocket::DoMonitor(bool writing, const void* buffer, int length) {
    if (FOnMonitor) FOnMonitor(this, writing, buffer, length);
}

void TNetSocket::DoHeartbeat() {
    if (FOnHeartbeat) FOnHeartbeat(this);
}

void TNetSocket::ReportErrors() {
    FErrorText = GetErrorDescEx();
    if (FErrorCode != 0 && FErrorCode != kSockWouldBlock && FErrorCode != kSockInProgress) {
        DoStatus(THookSocketReason::HR_Error, FErrorText + "," + std::to_string(FErrorCode));
        if (FRaiseExcept) throw ESocketError(FErrorCode, FErrorText);
    }
}

void TNetSocket::TakeSocketError(int result) {
    const int code = result == kSocketError ? LastSocketError() : 0;
    ClearError();
    if (result == kSocketError) {
        FErrorCode = code;
        FErrorText = GetErrorDescEx();
        FPeerAborted = code == kSockConnReset;
    }
}

std::string TNetSocket::GetErrorDescEx() { return GetErrorDesc(FErrorCode); }

bool TNetSocket::StopCheck() {
    DoHeartbeat();
    if (!FStopFlag) return false;
    FStopFlag = false;
    FErrorCode = kSockAborted;
    ReportErrors();
    return true;
}

void TNetSocket::Throttle(int length, bool sending) {
    const int limit = sending ? FMaxSendBandwidth : FMaxRecvBandwidth;
    if (limit <= 0) return;
    uint32_t& next = sending ? FNextSend : FNextRecv;
    const uint32_t now = TickNow();
    // A scheduled tick ahead of now, in wrap-safe terms: the forward distance is small.
    const uint32_t ahead = next - now;
    if (next != 0 && ahead > 0 && ahead < 0x80000000u) {
        DoStatus(THookSocketReason::HR_Wait, std::to_string(ahead));
        Pause(ahead % 250);
        for (uint32_t i = 0; i < ahead / 250 && !FStopFlag; ++i) Pause(250);
    }
    next = TickNow() + static_cast<uint32_t>(static_cast<double>(length) / limit * 1000.0);
}

void TNetSocket::ResolveInto(TSockAddr& address, const std::string& host, const std::string& port) {
    DoStatus(THookSocketReason::HR_ResolvingBegin, host + ":" + port);
    ClearError();
    TSocketFamily family = FFamily;
    if (FHandle == kInvalidSocket && family == TSocketFamily::SF_Any) {
        if (IsIPv4Literal(host))
            family = TSocketFamily::SF_IP4;
        else if (IsIPv6Literal(host))
            family = TSocketFamily::SF_IP6;
    } else if (FHandle != kInvalidSocket) {
        // An existing handle fixes the family the address must have.
        family = FUsesIPv6 ? TSocketFamily::SF_IP6 : TSocketFamily::SF_IP4;
    }
    // A socket whose waits look at a heartbeat may also leave a slow name server behind.
    const auto giveUp = [this] {
        DoHeartbeat();
        if (FStopFlag) {
            FStopFlag = false;
            return kSockAborted;
        }
        return DeadlinePassed() ? kSockTimedOut : 0;
    };
    FErrorCode = FillSockAddrUnlessStopped(address, host, port, FPreferIP4, SocketKind(),
                                           SocketProtocolNumber(), AddressFamilyOf(family),
                                           FHeartbeatRate, giveUp);
    DoStatus(THookSocketReason::HR_ResolvingEnd,
             SockAddrToText(address) + ":" + std::to_string(SockAddrToPort(address)));
}

void TNetSocket::OpenHandle(const TSockAddr& address) {
    FStopFlag = false;
    FBytesReceived = FBytesSent = 0;
    ClearError();
    if (FHandle != kInvalidSocket) return;
    FPending.clear();
    FIsBound = false;
    FUsesIPv6 = address.Any.sa_family == AF_INET6;
    FNonBlocking = false;
    FHandle = OpenSocket(address.Any.sa_family, SocketKind(), SocketProtocolNumber());
    if (FHandle == kInvalidSocket) FErrorCode = LastSocketError();
    ReportErrors();
    if (FHandle == kInvalidSocket) return;
    DoStatus(THookSocketReason::HR_SocketCreate, FUsesIPv6 ? "IPv6" : "IPv4");
    ApplyQueuedOptions();
    if (FOnCreateSocket) FOnCreateSocket(this);
}

void TNetSocket::AdoptHandle(TSocketHandle handle) {
    if (FHandle != kInvalidSocket && FHandle != handle) AbortConnection();
    FHandle = handle;
    ClearError();
    FPending.clear();
    FAfterCR = FAfterLF = false;
    FNonBlocking = false;
    ReadLocalAddress(FHandle, FLocalAddr);
    FUsesIPv6 = FLocalAddr.Any.sa_family == AF_INET6;
    ReadPeerAddress(FHandle, FPeerAddr);
    ApplyQueuedOptions();
}

void TNetSocket::QueueOption(TSocketOption::TKind kind, int value) {
    const TSocketOption option{kind, value};
    if (FHandle == kInvalidSocket) {
        FQueuedOptions.insert(FQueuedOptions.begin(), option);
        return;
    }
    ApplyOption(option);
}

void TNetSocket::ApplyQueuedOptions() {
    for (auto it = FQueuedOptions.rbegin(); it != FQueuedOptions.rend(); ++it) ApplyOption(*it);
    FQueuedOptions.clear();
}

void TNetSocket::ApplyOption(const TSocketOption& option) {
    // Results are not looked at: an option the system refuses leaves its default.
    const int v = option.Value;
    switch (option.Kind) {
        case TSocketOption::SO_Linger:
            SetLingerOption(FHandle, v);
            break;
        case TSocketOption::SO_RecvBuffer:
            SetIntOption(FHandle, SOL_SOCKET, SO_RCVBUF, v);
            break;
        case TSocketOption::SO_SendBuffer:
            SetIntOption(FHandle, SOL_SOCKET, SO_SNDBUF, v);
            break;
        case TSocketOption::SO_NonBlock:
            if (SetNonBlocking(FHandle, v != 0) == 0) FNonBlocking = v != 0;
            break;
        case TSocketOption::SO_RecvTimeout:
        case TSocketOption::SO_SendTimeout:
            SetTimeoutOption(FHandle, option.Kind == TSocketOption::SO_RecvTimeout, v);
            break;
        case TSocketOption::SO_Reuse:
            SetIntOption(FHandle, SOL_SOCKET, SO_REUSEADDR, v);
            break;
        case TSocketOption::SO_TTL:
            if (FUsesIPv6)
                SetIntOption(FHandle, IPPROTO_IPV6, IPV6_UNICAST_HOPS, v);
            else
                SetIntOption(FHandle, IPPROTO_IP, IP_TTL, v);
            break;
        case TSocketOption::SO_Broadcast:
            SetIntOption(FHandle, SOL_SOCKET, SO_BROADCAST, v);
            break;
        case TSocketOption::SO_MulticastTTL:
            if (FUsesIPv6)
                SetIntOption(FHandle, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, v);
            else
                SetIntOption(FHandle, IPPROTO_IP, IP_MULTICAST_TTL, v);
            break;
        case TSocketOption::SO_MulticastLoop:
            if (FUsesIPv6)
                SetIntOption(FHandle, IPPROTO_IPV6, IPV6_MULTICAST_LOOP, v);
            else
                SetIntOption(FHandle, IPPROTO_IP, IP_MULTICAST_LOOP, v);
            break;
    }
}

void TNetSocket::SetLinger(bool enable, int seconds) {
    QueueOption(TSocketOption::SO_Linger, enable ? seconds : -1);
}
void TNetSocket::SetReceiveBufferSize(int size) { QueueOption(TSocketOption::SO_RecvBuffer, size); }
void TNetSocket::SetSendBufferSize(int size) { QueueOption(TSocketOption::SO_SendBuffer, size); }
void TNetSocket::SetNonBlockMode(bool enable) { QueueOption(TSocketOption::SO_NonBlock, enable); }
void TNetSocket::SetReceiveTimeout(int ms) { QueueOption(TSocketOption::SO_RecvTimeout, ms); }
void TNetSocket::SetSendTimeout(int ms) { QueueOption(TSocketOption::SO_SendTimeout, ms); }
void TNetSocket::EnableReuse(bool enable) { QueueOption(TSocketOption::SO_Reuse, enable); }
void TNetSocket::SetTTL(int ttl) { QueueOption(TSocketOption::SO_TTL, ttl); }
void TNetSocket::EnableBroadcast(bool enable) { QueueOption(TSocketOption::SO_Broadcast, enable); }
void TNetSocket::SetMulticastTTL(int ttl) { QueueOption(TSocketOption::SO_MulticastTTL, ttl); }
void TNetSocket::EnableMulticastLoop(bool enable) {
    QueueOption(TSocketOption::SO_MulticastLoop, enable);
}

void TNetSocket::BindTo(const std::string& ip, const std::string& port) {
    ClearError();
    // Any address and any port: the system chooses at the first send or connect, and the
    // family stays open for the connect.
    if (FHandle == kInvalidSocket && FFamily == TSocketFamily::SF_Any && ip == "0.0.0.0" &&
        port == "0")
        return;
    TSockAddr address;
    ResolveInto(address, ip, port);
    if (FErrorCode == 0) {
        OpenHandle(address);
        if (FHandle != kInvalidSocket) {
            TakeSocketError(BindSocket(FHandle, address));
            ReadLocalAddress(FHandle, FLocalAddr);
            FPending.clear();
            FIsBound = true;
        }
    }
    ReportErrors();
    DoStatus(THookSocketReason::HR_Bind, ip + ":" + port);
}

// The handshake's wait; with a heartbeat it is cut into its slices, so that the stop flag
// ends a wait for a peer that never answers (a quitting program's worker).
int TNetSocket::WaitConnected() {
    for (;;) {
        int slice = CapToDeadline(-1);
        if (FHeartbeatRate > 0 && (slice < 0 || slice > FHeartbeatRate)) slice = FHeartbeatRate;
        const int ready = WaitSocket(FHandle, true, slice);
        if (ready != 0 || FHeartbeatRate <= 0 || DeadlinePassed()) return ready;
        DoHeartbeat();
        if (FStopFlag) {
            FStopFlag = false;
            return 0;
        }
    }
}

int TNetSocket::ConnectHandle(const TSockAddr& address) {
    // Non-blocking connect plus a wait, so that the deadline also bounds a peer that
    // never answers the handshake; without a deadline this waits as a blocking connect.
    SetNonBlocking(FHandle, true);
    int code = ConnectSocket(FHandle, address) == 0 ? 0 : LastSocketError();
    if (code == kSockInProgress || code == kSockWouldBlock) {
        const int ready = WaitConnected();
        if (ready > 0)
            code = SystemToSockError(SocketErrorValue(FHandle));
        else
            code = ready == 0 ? kSockTimedOut : LastSocketError();
    }
    SetNonBlocking(FHandle, FNonBlocking);
    return code;
}

void TNetSocket::ConnectTo(const std::string& host, const std::string& port) {
    ResolveInto(FPeerAddr, host, port);
    if (FErrorCode == 0) {
        OpenHandle(FPeerAddr);
        if (FHandle != kInvalidSocket) {
            ClearError();
            FErrorCode = ConnectHandle(FPeerAddr);
        }
        FPending.clear();
    }
    ReportErrors();
    DoStatus(THookSocketReason::HR_Connect, host + ":" + port);
}

void TNetSocket::AbortConnection() {
    CloseSocket(FHandle);
    FHandle = kInvalidSocket;
    FQueuedOptions.clear();
    FFamily = FInitialFamily;
    DoStatus(THookSocketReason::HR_SocketClose, "");
}

void TNetSocket::CloseConnection() { AbortConnection(); }

void TNetSocket::DiscardPendingInput() {
    Pause(1);
    // Bounded: a peer that keeps sending must not hold the close forever.
    for (int round = 0; round < 16 && (!FPending.empty() || PendingByteCount() >= 1); ++round) {
        ReceiveAvailable(0);
        if (FErrorCode != 0) break;
    }
    ClearError();
}

int TNetSocket::SendBytes(const void* buffer, int length) { return SendDatagram(buffer, length); }

int TNetSocket::SendDatagram(const void* buffer, int length) {
    if (StopCheck()) return 0;
    DoMonitor(true, buffer, length);
    Throttle(length, true);
    const int result = SendDatagramTo(FHandle, buffer, length, FPeerAddr);
    TakeSocketError(result < 0 ? kSocketError : 0);
    ReportErrors();
    if (result > 0) {
        FBytesSent += result;
        DoStatus(THookSocketReason::HR_WriteCount, std::to_string(result));
    }
    return result < 0 ? 0 : result;
}

void TNetSocket::SendOneByte(uint8_t value) { SendBytes(&value, 1); }

void TNetSocket::SendText(const std::string& bytes) {
    SendBytes(bytes.data(), static_cast<int>(bytes.size()));
}

void TNetSocket::SendInt32(uint32_t value) { SendText(Int32ToBigEndian(value)); }

void TNetSocket::SendSizedBlock(const std::string& bytes) {
    SendText(Int32ToBigEndian(static_cast<uint32_t>(bytes.size())) + bytes);
}

std::string TNetSocket::SendStreamData(std::istream& stream, bool withSize, bool swapped) {
    std::string all{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    if (withSize) {
        const uint32_t size = static_cast<uint32_t>(all.size());
        all.insert(0, Int32ToBigEndian(swapped ? ReverseBytes32(size) : size));
    }
    return all;
}

void TNetSocket::SendStreamPlain(std::istream& stream) {
    SendText(SendStreamData(stream, false, false));
}
void TNetSocket::SendStreamSized(std::istream& stream) {
    SendText(SendStreamData(stream, true, false));
}
void TNetSocket::SendStreamSizedSwapped(std::istream& stream) {
    SendText(SendStreamData(stream, true, true));
}

int TNetSocket::ReceiveBytes(void* buffer, int length) { return ReceiveDatagram(buffer, length); }

int TNetSocket::ReceiveDatagram(void* buffer, int length) {
    if (StopCheck()) return 0;
    Throttle(length, false);
    TSockAddr sender{};
    const int result = ReceiveDatagramFrom(FHandle, buffer, length, sender, FLastArrivalNs);
    TakeSocketError(result < 0 ? kSocketError : 0);
    if (result >= 0) FPeerAddr = sender;
    ReportErrors();
    if (result > 0) {
        FBytesReceived += result;
        DoStatus(THookSocketReason::HR_ReadCount, std::to_string(result));
        DoMonitor(false, buffer, result);
    }
    return result < 0 ? 0 : result;
}

void TNetSocket::SetArrivalStamps(bool on) {
    if (FHandle != kInvalidSocket) SetArrivalStampOption(FHandle, on);
}

int TNetSocket::PendingSocketError() {
    if (FHandle == kInvalidSocket) return 0;
    const int err = SocketErrorValue(FHandle);
    return err == 0 ? 0 : SystemToSockError(err);
}

int TNetSocket::PendingByteCount() {
    if (FHandle == kInvalidSocket) return 0;
    const int count = PendingSocketBytes(FHandle);
    if (count < 0) return 0;
    return count > 65536 ? 65536 : count;
}

std::string TNetSocket::ReceiveAvailable(int timeout) {
    ClearError();
    std::string result;
    if (!FPending.empty()) {
        result.swap(FPending);
    } else if (DeadlinePassed()) {
        FErrorCode = kSockTimedOut;
    } else {
        std::this_thread::yield();
        int n = PendingByteCount();
        if (n == 0) {
            if (WaitReadable(CapToDeadline(timeout))) {
                n = PendingByteCount();
                // An empty datagram is still a datagram: read it, or it would stay at
                // the head of the queue and keep the socket readable.
                if (n == 0 && SocketKind() == SOCK_DGRAM) n = 1;
                if (n == 0) {
                    FErrorCode = kSockConnReset;
                    FPeerAborted = PendingSocketError() == kSockConnReset;
                }
            } else if (FErrorCode == 0) {
                FErrorCode = kSockTimedOut;
            }
        }
        if (n > 0) {
            // A datagram is read whole: the buffer is the largest one there can be.
            result.resize(SocketKind() == SOCK_DGRAM ? 65536 : static_cast<size_t>(n));
            const int got = ReceiveBytes(result.data(), static_cast<int>(result.size()));
            result.resize(static_cast<size_t>(got));
        }
    }
    if (FConvertLineEnd && !result.empty()) {
        if ((FAfterCR && result[0] == '\n') || (FAfterLF && result[0] == '\r')) result.erase(0, 1);
        FAfterCR = FAfterLF = false;
    }
    ReportErrors();
    return result;
}

namespace {
// Left of an overall time-out after one more wait; -1 (no limit) stays.
int Shorten(int timeout, uint32_t since) {
    if (timeout < 0) return timeout;
    const int left = timeout - static_cast<int>(TickElapsed(since, TickNow()));
    return left > 0 ? left : 0;
}
}  // namespace

std::string TNetSocket::ReceiveUntil(int timeout, const std::string& terminator) {
    ClearError();
    std::string result;
    if (terminator.empty()) return result;
    const bool lineMode = FConvertLineEnd && terminator == "\r\n";
    std::string acc;
    long found = -1;
    size_t terminatorLength = terminator.size();
    for (;;) {
        const uint32_t t0 = TickNow();
        acc += ReceiveAvailable(timeout);
        if (FErrorCode != 0) break;
        if (!acc.empty()) {
            if (lineMode) {
                std::string lineEnd;
                found = FindLineBreak(acc, lineEnd);
                terminatorLength = lineEnd.size();
                if (lineEnd == "\r") FAfterCR = true;
                if (lineEnd == "\n") FAfterLF = true;
            } else {
                const size_t p = acc.find(terminator);
                found = p == std::string::npos ? -1 : static_cast<long>(p) + 1;
            }
        }
        // The bound is on the line itself, not on what arrived behind it in the same read.
        const size_t lineLength = found > 0 ? static_cast<size_t>(found - 1) : acc.size();
        if (FMaxLineLength > 0 && lineLength > static_cast<size_t>(FMaxLineLength)) {
            FErrorCode = kSockNoBufferSpace;
            found = -1;
            break;
        }
        if (found > 0) break;
        if (!FInterPacketTimeout) {
            timeout = Shorten(timeout, t0);
            if (timeout == 0) {
                FErrorCode = kSockTimedOut;
                break;
            }
        }
    }
    if (found > 0) {
        result = acc.substr(0, static_cast<size_t>(found - 1));
        acc.erase(0, static_cast<size_t>(found - 1) + terminatorLength);
    }
    FPending = std::move(acc);
    ReportErrors();
    return result;
}

std::string TNetSocket::ReceiveLine(int timeout) {
    std::string line = ReceiveUntil(timeout, "\r\n");
    return FErrorCode == 0 ? line : std::string();
}

int TNetSocket::ReceiveExact(void* buffer, int length, int timeout) {
    ClearError();
    if (length <= 0) return 0;
    char* out = static_cast<char*>(buffer);
    int got = 0;
    std::string s;
    while (got < length) {
        const uint32_t t0 = TickNow();
        s = ReceiveAvailable(timeout);
        if (FErrorCode != 0) break;
        const size_t n = std::min(s.size(), static_cast<size_t>(length - got));
        std::memcpy(out + got, s.data(), n);
        got += static_cast<int>(n);
        s.erase(0, n);
        if (got < length && !FInterPacketTimeout) {
            timeout = Shorten(timeout, t0);
            if (timeout == 0) {
                FErrorCode = kSockTimedOut;
                break;
            }
        }
    }
    FPending = std::move(s);
    ReportErrors();
    return got;
}

std::string TNetSocket::ReceiveExactText(int length, int timeout) {
    if (length < 1) return std::string();
    std::string text(static_cast<size_t>(length), '\0');
    const int got = ReceiveExact(text.data(), length, timeout);
    if (FErrorCode != 0) return std::string();
    text.resize(static_cast<size_t>(got));
    return text;
}

uint8_t TNetSocket::ReceiveOneByte(int timeout) {
    const std::string b = ReceiveExactText(1, timeout);
    return b.empty() ? 0 : static_cast<uint8_t>(b[0]);
}

uint32_t TNetSocket::ReceiveInt32(int timeout) {
    const std::string b = ReceiveExactText(4, timeout);
    return b.size() == 4 ? BigEndianToInt32(b, 1) : 0;
}

std::string TNetSocket::ReceiveSizedBlock(int timeout) {
    const uint32_t size = ReceiveInt32(timeout);
    if (FErrorCode != 0) return std::string();
    if (size > kMaxSizedBlock) {
        FErrorCode = kSockNoBufferSpace;
        ReportErrors();
        return std::string();
    }
    return ReceiveExactText(static_cast<int>(size), timeout);
}

void TNetSocket::ReceiveStreamToEnd(std::ostream& stream, int timeout) {
    for (;;) {
        const std::string piece = ReceiveAvailable(timeout);
        TextToStream(stream, piece);
        if (FErrorCode != 0) break;
    }
    if (FErrorCode == kSockConnReset) ClearError();
}

void TNetSocket::ReceiveStreamSized(std::ostream& stream, int timeout) {
    const uint32_t size = ReceiveInt32(timeout);
    if (FErrorCode == 0) ReceiveToStream(stream, timeout, size);
}

void TNetSocket::ReceiveStreamSizedSwapped(std::ostream& stream, int timeout) {
    const uint32_t size = ReverseBytes32(ReceiveInt32(timeout));
    if (FErrorCode == 0) ReceiveToStream(stream, timeout, size);
}

void TNetSocket::ReceiveToStream(std::ostream& stream, int timeout, int64_t size) {
    if (size <= 0) return;
    const int64_t chunk = FSendMaxChunk;
    for (int64_t i = 0; i < size / chunk; ++i) {
        TextToStream(stream, ReceiveExactText(static_cast<int>(chunk), timeout));
        if (FErrorCode != 0) return;
    }
    const int rest = static_cast<int>(size % chunk);
    if (rest > 0) TextToStream(stream, ReceiveExactText(rest, timeout));
}

int TNetSocket::PeekBytes(void* buffer, int length, int timeout) {
    ClearError();
    if (length <= 0) return 0;
    int result = 0;
    if (WaitReadable(CapToDeadline(timeout))) {
        result = PeekSome(FHandle, buffer, length);
        TakeSocketError(result < 0 ? kSocketError : 0);
    } else if (FErrorCode == 0) {
        FErrorCode = kSockTimedOut;
    }
    ReportErrors();
    return result < 0 ? 0 : result;
}

uint8_t TNetSocket::PeekOneByte(int timeout) {
    if (!FPending.empty()) return static_cast<uint8_t>(FPending[0]);
    uint8_t b = 0;
    return PeekBytes(&b, 1, timeout) == 1 ? b : 0;
}

std::string TNetSocket::LocalAddressText() { return SockAddrToText(FLocalAddr); }
std::string TNetSocket::RemoteAddressText() { return SockAddrToText(FPeerAddr); }
int TNetSocket::LocalPortNumber() { return SockAddrToPort(FLocalAddr); }
int TNetSocket::RemotePortNumber() { return SockAddrToPort(FPeerAddr); }

bool TNetSocket::PollReadable(int timeout) {
    if (FHandle == kInvalidSocket) {
        FErrorCode = kSockNotSocket;
        return false;
    }
    const int result = WaitSocket(FHandle, false, timeout);
    TakeSocketError(result < 0 ? kSocketError : 0);
    return FErrorCode == 0 && result > 0;
}

bool TNetSocket::WaitReadable(int timeout) {
    bool ready = false;
    if (FHeartbeatRate <= 0 || timeout < 0) {
        ready = PollReadable(timeout);
    } else {
        ready = PollReadable(timeout % FHeartbeatRate);
        for (int i = 0; !ready && FErrorCode == 0 && i < timeout / FHeartbeatRate; ++i) {
            DoHeartbeat();
            if (FStopFlag) {
                FStopFlag = false;
                break;
            }
            ready = PollReadable(FHeartbeatRate);
        }
    }
    ReportErrors();
    if (ready) DoStatus(THookSocketReason::HR_CanRead, "");
    return ready;
}

bool TNetSocket::WaitReadableOrBuffered(int timeout) {
    return !FPending.empty() || WaitReadable(timeout);
}

bool TNetSocket::WaitWritable(int timeout) {
    if (FHandle == kInvalidSocket) {
        FErrorCode = kSockNotSocket;
        ReportErrors();
        return false;
    }
    const int result = WaitSocket(FHandle, true, timeout);
    TakeSocketError(result < 0 ? kSocketError : 0);
    ReportErrors();
    const bool ready = FErrorCode == 0 && result > 0;
    if (ready) DoStatus(THookSocketReason::HR_CanWrite, "");
    return ready;
}

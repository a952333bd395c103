// Blocking sockets for the protocol clients: every call runs to completion on the
// caller's thread, waits are bounded in milliseconds (-1 = no limit), and failures are
// kept as an error code and text in the object instead of being raised.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "net/ipaddr.h"
#include "net/sockapi.h"
#include "net/tls/tls_session.h"

enum class TSocketFamily { SF_Any, SF_IP4, SF_IP6 };

enum class THookSocketReason {
    HR_ResolvingBegin,
    HR_ResolvingEnd,
    HR_SocketCreate,
    HR_SocketClose,
    HR_Bind,
    HR_Connect,
    HR_CanRead,
    HR_CanWrite,
    HR_Listen,
    HR_Accept,
    HR_ReadCount,
    HR_WriteCount,
    HR_Wait,
    HR_Error
};

// An option set before the handle exists waits in the queue until the handle is made.
struct TSocketOption {
    enum TKind {
        SO_Linger,
        SO_RecvBuffer,
        SO_SendBuffer,
        SO_NonBlock,
        SO_RecvTimeout,
        SO_SendTimeout,
        SO_Reuse,
        SO_TTL,
        SO_Broadcast,
        SO_MulticastTTL,
        SO_MulticastLoop
    };
    TKind Kind;
    int Value;
};

class TNetSocket;
using THookSocketStatus = std::function<void(TNetSocket*, THookSocketReason, const std::string&)>;
using THookDataFilter = std::function<void(TNetSocket*, std::string&)>;
using THookMonitor = std::function<void(TNetSocket*, bool writing, const void* buffer, int length)>;
using THookSocket = std::function<void(TNetSocket*)>;

class TNetSocket {
public:
    TNetSocket();
    virtual ~TNetSocket();
    TNetSocket(const TNetSocket&) = delete;
    TNetSocket& operator=(const TNetSocket&) = delete;

    TSocketHandle Handle() const { return FHandle; }
    int ErrorCode() const { return FErrorCode; }
    void SetErrorCode(int code);
    const std::string& ErrorText() const { return FErrorText; }
    void ClearError();
    // The last closed-peer error (10054) came from a reset, not from an orderly close: what
    // arrived before it may have been cut off.
    bool PeerAborted() const { return FPeerAborted; }
    bool IsBound() const { return FIsBound; }
    bool UsesIPv6() const { return FUsesIPv6; }
    const std::string& Pending() const { return FPending; }
    const TSockAddr& LocalAddr() const { return FLocalAddr; }
    const TSockAddr& PeerAddr() const { return FPeerAddr; }
    void SetPeerAddr(const TSockAddr& address) { FPeerAddr = address; }
    int64_t BytesReceived() const { return FBytesReceived; }
    int64_t BytesSent() const { return FBytesSent; }
    size_t QueuedOptionCount() const { return FQueuedOptions.size(); }

    TSocketFamily Family() const { return FFamily; }
    virtual void SetFamily(TSocketFamily family);
    bool PreferIP4() const { return FPreferIP4; }
    void SetPreferIP4(bool v) { FPreferIP4 = v; }
    bool ConvertLineEnd() const { return FConvertLineEnd; }
    void SetConvertLineEnd(bool v) { FConvertLineEnd = v; }
    bool InterPacketTimeout() const { return FInterPacketTimeout; }
    void SetInterPacketTimeout(bool v) { FInterPacketTimeout = v; }
    int MaxLineLength() const { return FMaxLineLength; }
    void SetMaxLineLength(int v) { FMaxLineLength = v; }
    int SendMaxChunk() const { return FSendMaxChunk; }
    void SetSendMaxChunk(int v) { FSendMaxChunk = v > 0 ? v : 1; }
    int NonblockSendTimeout() const { return FNonblockSendTimeout; }
    void SetNonblockSendTimeout(int v) { FNonblockSendTimeout = v; }
    int MaxSendBandwidth() const { return FMaxSendBandwidth; }
    void SetMaxSendBandwidth(int v) { FMaxSendBandwidth = v; }
    int MaxRecvBandwidth() const { return FMaxRecvBandwidth; }
    void SetMaxRecvBandwidth(int v) { FMaxRecvBandwidth = v; }
    void SetMaxBandwidth(int v) { FMaxSendBandwidth = FMaxRecvBandwidth = v; }
    bool StopFlag() const { return FStopFlag; }
    void SetStopFlag(bool v) { FStopFlag = v; }
    int HeartbeatRate() const { return FHeartbeatRate; }
    void SetHeartbeatRate(int v) { FHeartbeatRate = v; }
    bool RaiseExcept() const { return FRaiseExcept; }
    void SetRaiseExcept(bool v) { FRaiseExcept = v; }
    long Tag() const { return FTag; }
    void SetTag(long v) { FTag = v; }

    void SetOnStatus(THookSocketStatus h) { FOnStatus = std::move(h); }
    void SetOnReadFilter(THookDataFilter h) { FOnReadFilter = std::move(h); }
    void SetOnCreateSocket(THookSocket h) { FOnCreateSocket = std::move(h); }
    void SetOnMonitor(THookMonitor h) { FOnMonitor = std::move(h); }
    void SetOnHeartbeat(THookSocket h) { FOnHeartbeat = std::move(h); }

    // Bounds every later wait by one overall limit from now (ms; < 0 removes it), so
    // that a peer trickling bytes cannot hold the caller beyond it.
    void SetDeadline(int ms);
    bool DeadlinePassed() const;

    void BindTo(const std::string& ip, const std::string& port);
    virtual void AdoptHandle(TSocketHandle handle);
    virtual bool PollReadable(int timeout);
    virtual void CloseConnection();
    virtual void AbortConnection();
    virtual void ConnectTo(const std::string& host, const std::string& port);

    virtual int SendBytes(const void* buffer, int length);
    virtual void SendOneByte(uint8_t value);
    virtual void SendText(const std::string& bytes);
    // 32-bit values and length prefixes travel big-endian; the swapped forms little-endian.
    virtual void SendInt32(uint32_t value);
    virtual void SendSizedBlock(const std::string& bytes);
    virtual void SendStreamPlain(std::istream& stream);
    virtual void SendStreamSized(std::istream& stream);
    virtual void SendStreamSizedSwapped(std::istream& stream);

    virtual int ReceiveBytes(void* buffer, int length);
    virtual int ReceiveExact(void* buffer, int length, int timeout);
    virtual std::string ReceiveExactText(int length, int timeout);
    virtual uint8_t ReceiveOneByte(int timeout);
    virtual uint32_t ReceiveInt32(int timeout);
    virtual std::string ReceiveLine(int timeout);
    virtual std::string ReceiveUntil(int timeout, const std::string& terminator);
    virtual std::string ReceiveAvailable(int timeout);
    virtual std::string ReceiveSizedBlock(int timeout);
    virtual void ReceiveStreamToEnd(std::ostream& stream, int timeout);
    virtual void ReceiveStreamSized(std::ostream& stream, int timeout);
    virtual void ReceiveStreamSizedSwapped(std::ostream& stream, int timeout);
    // Appends exactly size bytes, read in pieces of SendMaxChunk, unless an error stops it.
    void ReceiveToStream(std::ostream& stream, int timeout, int64_t size);
    virtual int PeekBytes(void* buffer, int length, int timeout);
    virtual uint8_t PeekOneByte(int timeout);
    virtual int PendingByteCount();
    // The system's stamp of each datagram's arrival (Linux: SO_TIMESTAMPNS): the moment it
    // reached the socket, however late the reader woke up. LastArrivalNs is real time in ns
    // since 1970, 0 when the last datagram carried none. Just after the first socket of the
    // system asks, the kernel may still stamp a datagram with the moment it is read.
    void SetArrivalStamps(bool on);
    int64_t LastArrivalNs() const { return FLastArrivalNs; }
    // The socket's pending error (SO_ERROR) as a Windows Sockets number, which reading
    // clears; 0 for none.
    int PendingSocketError();
    virtual void TakeSocketError(int result);

    virtual std::string LocalAddressText();
    virtual std::string RemoteAddressText();
    virtual int LocalPortNumber();
    virtual int RemotePortNumber();

    virtual bool WaitReadable(int timeout);
    virtual bool WaitReadableOrBuffered(int timeout);
    virtual bool WaitWritable(int timeout);
    virtual int SendDatagram(const void* buffer, int length);
    virtual int ReceiveDatagram(void* buffer, int length);
    virtual int SocketKind() const { return SOCK_RAW; }
    virtual int SocketProtocolNumber() const { return 0; }
    virtual std::string GetErrorDescEx();

    void SetLinger(bool enable, int seconds);
    void SetReceiveBufferSize(int size);
    void SetSendBufferSize(int size);
    void SetNonBlockMode(bool enable);
    void SetReceiveTimeout(int ms);
    void SetSendTimeout(int ms);
    void EnableReuse(bool enable);
    void SetTTL(int ttl);
    void EnableBroadcast(bool enable);
    void SetMulticastTTL(int ttl);
    void EnableMulticastLoop(bool enable);

    // The largest block a sized receive accepts, so that a length prefix off the wire
    // cannot make us allocate without bound.
    static constexpr uint32_t kMaxSizedBlock = 16u * 1024 * 1024;

protected:
    void ResolveInto(TSockAddr& address, const std::string& host, const std::string& port);
    void OpenHandle(const TSockAddr& address);
    void ReportErrors();
    bool StopCheck();
    void DoStatus(THookSocketReason reason, const std::string& value);
    void DoMonitor(bool writing, const void* buffer, int length);
    void DoHeartbeat();
    void Throttle(int length, bool sending);
    void DiscardPendingInput();
    void QueueOption(TSocketOption::TKind kind, int value);
    void ApplyOption(const TSocketOption& option);
    void ApplyQueuedOptions();
    // The time-out of one wait, shortened to what is left before the deadline.
    int CapToDeadline(int timeout) const;
    // Connects the handle to address, waiting no longer than the deadline allows.
    int ConnectHandle(const TSockAddr& address);
    int WaitConnected();
    void SetPending(std::string bytes) { FPending = std::move(bytes); }
    std::string SendStreamData(std::istream& stream, bool withSize, bool swapped);

    TSocketHandle FHandle = kInvalidSocket;
    bool FNonBlocking = false;  // as the non-blocking option left the handle
    int FErrorCode = 0;
    bool FPeerAborted = false;
    int64_t FLastArrivalNs = 0;
    std::string FErrorText;
    std::string FPending;
    bool FAfterCR = false, FAfterLF = false;
    bool FIsBound = false;
    bool FUsesIPv6 = false;
    TSocketFamily FFamily = TSocketFamily::SF_Any;
    TSocketFamily FInitialFamily = TSocketFamily::SF_Any;
    bool FPreferIP4 = true;
    bool FConvertLineEnd = false;
    bool FInterPacketTimeout = true;
    int FMaxLineLength = 0;
    int FSendMaxChunk = 65536;
    int FNonblockSendTimeout = 15000;
    int FMaxSendBandwidth = 0, FMaxRecvBandwidth = 0;
    bool FStopFlag = false;
    int FHeartbeatRate = 0;
    bool FRaiseExcept = false;
    long FTag = 0;
    std::vector<TSocketOption> FQueuedOptions;
    TSockAddr FLocalAddr{}, FPeerAddr{};
    int64_t FBytesReceived = 0, FBytesSent = 0;
    uint32_t FNextSend = 0, FNextRecv = 0;
    bool FHasDeadline = false;
    uint32_t FDeadlineStart = 0;
    int FDeadlineBudget = 0;
    THookSocketStatus FOnStatus;
    THookDataFilter FOnReadFilter;
    THookSocket FOnCreateSocket;
    THookMonitor FOnMonitor;
    THookSocket FOnHeartbeat;
};

enum class TSocksType { ST_Socks5, ST_Socks4 };

// SOCKS proxy settings for the stream socket (not used by the program's clients).
class TProxySocket : public TNetSocket {
public:
    const std::string& SocksIP() const { return FSocksIP; }
    void SetSocksIP(const std::string& v) { FSocksIP = v; }
    const std::string& SocksPort() const { return FSocksPort; }
    void SetSocksPort(const std::string& v) { FSocksPort = v; }
    const std::string& SocksUsername() const { return FSocksUsername; }
    void SetSocksUsername(const std::string& v) { FSocksUsername = v; }
    const std::string& SocksPassword() const { return FSocksPassword; }
    void SetSocksPassword(const std::string& v) { FSocksPassword = v; }
    int SocksTimeout() const { return FSocksTimeout; }
    void SetSocksTimeout(int v) { FSocksTimeout = v; }
    bool SocksResolver() const { return FSocksResolver; }
    void SetSocksResolver(bool v) { FSocksResolver = v; }
    TSocksType SocksType() const { return FSocksType; }
    void SetSocksType(TSocksType v) { FSocksType = v; }

protected:
    // Asks the proxy, over the connected handle, for a connection to host:port.
    bool SocksOpen(const std::string& host, const std::string& port);

    std::string FSocksIP, FSocksPort = "1080", FSocksUsername, FSocksPassword;
    int FSocksTimeout = 60000;
    bool FSocksResolver = true;
    TSocksType FSocksType = TSocksType::ST_Socks5;

private:
    bool Socks5Open(const std::string& host, uint16_t port);
    bool Socks4Open(const std::string& host, uint16_t port);
};

// The TLS plug-in of a stream socket.
class TCustomTls {
public:
    virtual ~TCustomTls() = default;
    virtual bool Enabled() const { return false; }
    virtual bool Connect() = 0;
    virtual bool Shutdown() { return true; }
    int ErrorCode() const { return FErrorCode; }
    const std::string& ErrorText() const { return FErrorText; }

protected:
    int FErrorCode = 0;
    std::string FErrorText;
};

// The one plug-in present: there is no TLS library, so every handshake is refused.
class TTlsNone : public TCustomTls {
public:
    bool Connect() override;
};

class TTcpSocket : public TProxySocket {
public:
    TTcpSocket();
    int SocketKind() const override { return SOCK_STREAM; }
    int SocketProtocolNumber() const override { return IPPROTO_TCP; }

    void CloseConnection() override;
    void AbortConnection() override;
    void ConnectTo(const std::string& host, const std::string& port) override;
    // With TLS started these two carry plaintext (and so every send and receive built on
    // them); ReceiveBytes always reads the wire.
    int SendBytes(const void* buffer, int length) override;
    std::string ReceiveAvailable(int timeout) override;
    int ReceiveBytes(void* buffer, int length) override;
    int PendingByteCount() override;
    std::string LocalAddressText() override;
    std::string RemoteAddressText() override;
    int LocalPortNumber() override;
    int RemotePortNumber() override;
    std::string GetErrorDescEx() override;

    void StartListening();
    // A waiting connection's handle, or kInvalidSocket; hand it to AdoptHandle.
    TSocketHandle AcceptConnection();
    // The TLS handshake over the connected handle.
    void TlsConnect();
    // A TLS client session over the connected handle, each wait for the server bounded
    // by timeout (and the deadline); a failure is kSockSysNotReady with the reason in
    // GetErrorDescEx. The session (keys, chosen protocol) stays until the connection closes.
    void StartTls(const TTlsClientConfig& config, int timeout);
    TTlsSession* TlsSession() const { return FTlsSession.get(); }

    TCustomTls& Tls() { return *FTls; }
    const std::string& HTTPTunnelIP() const { return FHTTPTunnelIP; }
    void SetHTTPTunnelIP(const std::string& v) { FHTTPTunnelIP = v; }
    const std::string& HTTPTunnelPort() const { return FHTTPTunnelPort; }
    void SetHTTPTunnelPort(const std::string& v) { FHTTPTunnelPort = v; }
    const std::string& HTTPTunnelUser() const { return FHTTPTunnelUser; }
    void SetHTTPTunnelUser(const std::string& v) { FHTTPTunnelUser = v; }
    const std::string& HTTPTunnelPass() const { return FHTTPTunnelPass; }
    void SetHTTPTunnelPass(const std::string& v) { FHTTPTunnelPass = v; }
    int HTTPTunnelTimeout() const { return FHTTPTunnelTimeout; }
    void SetHTTPTunnelTimeout(int v) { FHTTPTunnelTimeout = v; }
    void SetOnAfterConnect(THookSocket h) { FOnAfterConnect = std::move(h); }

private:
    void ConnectDirect(const std::string& host, const std::string& port);
    void ConnectThroughSocks(const std::string& host, const std::string& port);
    void ConnectThroughTunnel(const std::string& host, const std::string& port);
    int SendOnWire(const void* buffer, int length);
    std::string ReceiveFromWire(int timeout);
    void ReadDecrypted(int timeout, std::string& plain);
    void FailTls(const std::string& why);
    void SendTlsOutput();
    void EndTls();

    std::unique_ptr<TCustomTls> FTls;
    std::unique_ptr<TTlsSession> FTlsSession;
    std::string FTlsError;
    std::string FTlsUnsent;  // the handshake's last flight, sent with the first record
    std::string FHTTPTunnelIP, FHTTPTunnelPort, FHTTPTunnelUser, FHTTPTunnelPass;
    int FHTTPTunnelTimeout = 30000;
    THookSocket FOnAfterConnect;
};

// "Connecting" a datagram socket only fixes the peer for later sends.
class TDatagramSocket : public TProxySocket {
public:
    void ConnectTo(const std::string& host, const std::string& port) override;
    int SendBytes(const void* buffer, int length) override;
    int ReceiveBytes(void* buffer, int length) override;
};

class TUdpSocket : public TDatagramSocket {
public:
    int SocketKind() const override { return SOCK_DGRAM; }
    int SocketProtocolNumber() const override { return IPPROTO_UDP; }
    int SendDatagram(const void* buffer, int length) override;
    int ReceiveDatagram(void* buffer, int length) override;
};

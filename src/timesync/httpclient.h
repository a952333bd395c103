// One HTTP/1.0 or HTTP/1.1 request over TCP: the status, the response headers and the
// body end up in the client's properties. The response is untrusted: every line, the
// header count, the body and the whole request are bounded.
#pragma once

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "net/netclient.h"
#include "net/netsocket.h"
#include "timesync/time_sample.h"
#include "toolkit/stringlist.h"

class THttpClient : public TNetClient {
public:
    THttpClient();

    // True when the response was read completely. Never raises for network errors; the
    // cause of a False is in Sock().ErrorCode().
    bool SendRequest(const std::string& method, const std::string& url);

    // When the body byte at offset arrived (the last piece's moment for an offset beyond).
    TClockStamp ArrivalOf(size_t offset) const;
    // Asked after each piece of the body with the body so far: true ends the request there
    // (False, kSockAborted), what arrived kept, for a caller that has what it needs.
    using TBodyEnough = std::function<bool(const std::string& bodySoFar)>;
    void SetBodyEnough(TBodyEnough check) { FBodyEnough = std::move(check); }
    // Takes over a connection already open to host:port (Sock().AdoptHandle first), which
    // the next request to that peer then uses.
    void UseConnection(const std::string& host, const std::string& port);

    TStringList& Headers() { return FHeaders; }
    TStringList& Cookies() { return FCookies; }
    std::stringstream& Document() { return FDocument; }
    size_t DocumentSize();
    int32_t RangeStart() const { return FRangeStart; }
    void SetRangeStart(int32_t v) { FRangeStart = v; }
    int32_t RangeEnd() const { return FRangeEnd; }
    void SetRangeEnd(int32_t v) { FRangeEnd = v; }
    const std::string& MimeType() const { return FMimeType; }
    void SetMimeType(const std::string& v) { FMimeType = v; }
    const std::string& Protocol() const { return FProtocol; }
    void SetProtocol(const std::string& v) { FProtocol = v; }
    bool KeepAlive() const { return FKeepAlive; }
    void SetKeepAlive(bool v) { FKeepAlive = v; }
    int32_t KeepAliveTimeout() const { return FKeepAliveTimeout; }
    void SetKeepAliveTimeout(int32_t v) { FKeepAliveTimeout = v; }
    bool Status100() const { return FStatus100; }
    void SetStatus100(bool v) { FStatus100 = v; }
    const std::string& ProxyHost() const { return FProxyHost; }
    void SetProxyHost(const std::string& v) { FProxyHost = v; }
    const std::string& ProxyPort() const { return FProxyPort; }
    void SetProxyPort(const std::string& v) { FProxyPort = v; }
    const std::string& ProxyUser() const { return FProxyUser; }
    void SetProxyUser(const std::string& v) { FProxyUser = v; }
    const std::string& ProxyPass() const { return FProxyPass; }
    void SetProxyPass(const std::string& v) { FProxyPass = v; }
    const std::string& UserAgent() const { return FUserAgent; }
    void SetUserAgent(const std::string& v) { FUserAgent = v; }
    int32_t ResultCode() const { return FResultCode; }
    const std::string& ResultString() const { return FResultString; }
    int32_t DownloadSize() const { return FDownloadSize; }
    int32_t UploadSize() const { return FUploadSize; }
    TTcpSocket& Sock() { return FSock; }
    // The trusted authorities for https; empty: the system's store.
    const std::string& CaFile() const { return FCaFile; }
    void SetCaFile(const std::string& file) { FCaFile = file; }
    bool AddPortNumberToHost() const { return FAddPortNumberToHost; }
    void SetAddPortNumberToHost(bool v) { FAddPortNumberToHost = v; }

    // Bounds on what a server may send. Generous for a general client; exceeding one ends
    // the request with False and kSockNoBufferSpace, a deadline with kSockTimedOut.
    static constexpr int kDefaultMaxLineLength = 64 * 1024;
    static constexpr int kDefaultMaxHeaderCount = 256;
    static constexpr int64_t kDefaultMaxDocumentSize = 64ll * 1024 * 1024;
    static constexpr int kDefaultTotalTimeout = 300000;
    int MaxLineLength() const { return FMaxLineLength; }
    void SetMaxLineLength(int v) { FMaxLineLength = v; }
    int MaxHeaderCount() const { return FMaxHeaderCount; }
    void SetMaxHeaderCount(int v) { FMaxHeaderCount = v; }
    int64_t MaxDocumentSize() const { return FMaxDocumentSize; }
    void SetMaxDocumentSize(int64_t v) { FMaxDocumentSize = v; }
    // The whole request, connect to last body byte, in ms; < 0 for no limit.
    int TotalTimeout() const { return FTotalTimeout; }
    void SetTotalTimeout(int v) { FTotalTimeout = v; }

private:
    enum class TTransferKind { UntilClose, Counted, Chunked };
    struct TRequestPlan;

    void ResetResponse();
    void ParseStatusLine(const std::string& line);
    std::string BuildHeaderBlock() const;
    bool OpenConnection(bool tls);
    bool ReuseOrConnect(bool tls);
    bool ReadUntilClose();
    bool ReadCounted(int64_t count);
    bool ReadChunks();
    void CollectCookies();

    void PlanRequest(const std::string& method, const std::string& url, TRequestPlan& plan);
    void BuildRequestHeaders(const std::string& method, const TRequestPlan& plan);
    bool SendHeadersAndBody(std::string& heldStatus);
    void ReadStatusLine(const std::string& heldStatus);
    void ReadHeaders(bool& closeAfter, int64_t& announcedSize, bool plainProxy);
    void ReadBody(const std::string& method, int64_t announcedSize);
    std::string ReadNonEmptyLine();
    void AppendToDocument(const std::string& bytes);
    void SetCookie(const std::string& name, const std::string& value);
    void Fail(int code);
    void ForgetConnection();

    TStringList FHeaders, FCookies;
    std::stringstream FDocument;
    // The end offset of each piece of the body and the moment it arrived.
    std::vector<std::pair<size_t, TClockStamp>> FArrivals;
    TBodyEnough FBodyEnough;
    std::string FBodySoFar;  // the body as one string, kept only for FBodyEnough
    int32_t FRangeStart = 0, FRangeEnd = 0;
    std::string FMimeType = "text/html";
    std::string FProtocol = "1.0";
    bool FKeepAlive = true;
    int32_t FKeepAliveTimeout = 300;
    bool FStatus100 = false;
    std::string FProxyHost, FProxyPort = "8080", FProxyUser, FProxyPass;
    std::string FUserAgent = "Mozilla/4.0 (compatible; Tiktaal)";
    int32_t FResultCode = 0;
    std::string FResultString;
    int32_t FDownloadSize = 0, FUploadSize = 0;
    TTcpSocket FSock;
    bool FAddPortNumberToHost = true;
    std::string FCaFile;
    TTransferKind FTransferKind = TTransferKind::UntilClose;
    std::string FConnectedHost, FConnectedPort;
    int FMaxLineLength = kDefaultMaxLineLength;
    int FMaxHeaderCount = kDefaultMaxHeaderCount;
    int64_t FMaxDocumentSize = kDefaultMaxDocumentSize;
    int FTotalTimeout = kDefaultTotalTimeout;
};

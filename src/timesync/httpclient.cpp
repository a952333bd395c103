#include "timesync/httpclient.h"

#include <algorithm>
#include <cctype>

#include "net/ipaddr.h"
#include "net/netutil.h"

namespace {
std::string UpperCase(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string LowerCase(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// A decimal number of at most 18 digits (so it cannot overflow), or -1.
int64_t DecimalOrMinusOne(const std::string& text) {
    if (text.empty() || text.size() > 18) return -1;
    int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

// A chunk size: at most 16 hexadecimal digits, or -1.
int64_t HexOrMinusOne(const std::string& text) {
    if (text.empty()) return -1;
    const size_t first = text.find_first_not_of('0');
    if (first != std::string::npos && text.size() - first > 15) return -1;
    int64_t v = 0;
    for (char c : text) {
        const int d = std::isdigit(static_cast<unsigned char>(c))
                          ? c - '0'
                          : (std::isxdigit(static_cast<unsigned char>(c))
                                 ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                                 : -1);
        if (d < 0) return -1;
        v = v * 16 + d;
    }
    return v;
}

// The value of a header line: what follows its colon, trimmed.
std::string HeaderValue(const std::string& line) { return TrimText(TextAfter(line, ":")); }
}  // namespace

struct THttpClient::TRequestPlan {
    TUrlParts Url;
    std::string Uri;
    bool Tls = false;
    bool PlainProxy = false;
};

THttpClient::THttpClient() {
    FTimeout = 90000;
    FTargetPort = "80";
    FSock.SetConvertLineEnd(true);
    FSock.SetReceiveBufferSize(65536);
    FSock.SetSendBufferSize(65536);
    ResetResponse();
}

size_t THttpClient::DocumentSize() {
    const auto position = FDocument.tellg();
    FDocument.seekg(0, std::ios::end);
    const auto size = FDocument.tellg();
    FDocument.seekg(position);
    return size < 0 ? 0 : static_cast<size_t>(size);
}

TClockStamp THttpClient::ArrivalOf(size_t offset) const {
    for (const auto& [end, stamp] : FArrivals)
        if (offset < end) return stamp;
    return FArrivals.empty() ? ClockStampNow() : FArrivals.back().second;
}

void THttpClient::UseConnection(const std::string& host, const std::string& port) {
    FConnectedHost = host;
    FConnectedPort = port;
}

void THttpClient::ResetResponse() {
    FArrivals.clear();
    FBodySoFar.clear();
    FRangeStart = 0;
    FRangeEnd = 0;
    FDocument.str(std::string());
    FDocument.clear();
    FHeaders.Clear();
    FMimeType = "text/html";
}

void THttpClient::ParseStatusLine(const std::string& line) {
    const std::string rest = TrimText(TextAfter(line, " "));
    const int64_t code = DecimalOrMinusOne(TrimText(TextBefore(rest, " ")));
    FResultCode = code < 0 || code > 999999999 ? 0 : static_cast<int32_t>(code);
    FResultString = rest.find(' ') == std::string::npos ? "" : TrimText(TextAfter(rest, " "));
}

std::string THttpClient::BuildHeaderBlock() const {
    std::string block;
    for (size_t i = 0; i < FHeaders.Count(); ++i) {
        block += FHeaders[i] + "\r\n";
        if (FProtocol == "0.9") break;
    }
    return block;
}

void THttpClient::Fail(int code) {
    if (FSock.ErrorCode() == 0) FSock.SetErrorCode(code);
}

void THttpClient::ForgetConnection() {
    FConnectedHost.clear();
    FConnectedPort.clear();
}

void THttpClient::PlanRequest(const std::string& /*method*/, const std::string& url,
                              TRequestPlan& plan) {
    plan.Uri = SplitUrl(url, plan.Url);
    if (plan.Url.User.empty()) {
        plan.Url.User = FUserName;
        plan.Url.Password = FPassword;
    }
    plan.Tls = UpperCase(plan.Url.Protocol) == "HTTPS";
    if (plan.Tls && !FProxyHost.empty()) {
        FSock.SetHTTPTunnelIP(FProxyHost);
        FSock.SetHTTPTunnelPort(FProxyPort);
        FSock.SetHTTPTunnelUser(FProxyUser);
        FSock.SetHTTPTunnelPass(FProxyPass);
    } else {
        FSock.SetHTTPTunnelIP("");
        FSock.SetHTTPTunnelPort("");
        FSock.SetHTTPTunnelUser("");
        FSock.SetHTTPTunnelPass("");
        plan.PlainProxy = !FProxyHost.empty();
    }
}

void THttpClient::BuildRequestHeaders(const std::string& method, const TRequestPlan& plan) {
    const size_t bodySize = DocumentSize();
    auto top = [this](const std::string& line) { FHeaders.Insert(0, line); };
    if (FStatus100 && bodySize > 0 && FProtocol == "1.1") top("Expect: 100-continue");
    if (bodySize > 0) {
        top("Content-Length: " + std::to_string(bodySize));
        if (!FMimeType.empty()) top("Content-Type: " + FMimeType);
    }
    if (!FUserAgent.empty()) top("User-Agent: " + FUserAgent);
    if (FRangeStart > 0 || FRangeEnd > 0) {
        std::string range = "Range: bytes=" + std::to_string(FRangeStart) + "-";
        if (FRangeStart <= FRangeEnd) range += std::to_string(FRangeEnd);
        top(range);
    }
    if (!FCookies.Empty()) {
        std::string cookies;
        for (size_t i = 0; i < FCookies.Count(); ++i) cookies += (i ? "; " : "") + FCookies[i];
        top("Cookie: " + cookies);
    }
    const std::string prefix = plan.PlainProxy ? "Proxy-" : "";
    if (FKeepAlive) {
        top(prefix + "Connection: keep-alive");
        top("Keep-Alive: " + std::to_string(FKeepAliveTimeout));
    } else {
        top(prefix + "Connection: close");
    }
    if (!plan.Url.User.empty())
        top("Authorization: Basic " + Base64Text(plan.Url.User + ":" + plan.Url.Password));
    if (plan.PlainProxy && !FProxyUser.empty())
        top("Proxy-Authorization: Basic " + Base64Text(FProxyUser + ":" + FProxyPass));
    const std::string host =
        IsIPv6Literal(plan.Url.Host) ? "[" + plan.Url.Host + "]" : plan.Url.Host;
    if (FAddPortNumberToHost && plan.Url.Port != "80")
        top("Host: " + host + ":" + plan.Url.Port);
    else
        top("Host: " + host);
    std::string target = plan.Uri;
    if (plan.PlainProxy) target = plan.Url.Protocol + "://" + host + ":" + plan.Url.Port + target;
    if (target == "/*") target = "*";
    std::string requestLine = UpperCase(method) + " " + target;
    if (FProtocol != "0.9") requestLine += " HTTP/" + FProtocol;
    top(requestLine);
}

bool THttpClient::OpenConnection(bool tls) {
    FSock.CloseConnection();
    FSock.BindTo(FIPInterface, "0");
    if (FSock.ErrorCode() != 0) return false;
    FSock.ConnectTo(FTargetHost, FTargetPort);
    if (FSock.ErrorCode() != 0) return false;
    // The certificate must name the host of the URL, and come from a trusted authority.
    if (tls) FSock.StartTls({FTargetHost, FCaFile, {}, false}, FTimeout);
    if (FSock.ErrorCode() != 0) return false;
    FConnectedHost = FTargetHost;
    FConnectedPort = FTargetPort;
    return true;
}

bool THttpClient::ReuseOrConnect(bool tls) {
    // A kept connection with something readable is either closed by the peer or carries
    // stray bytes; both mean a fresh one.
    if (FSock.Handle() != kInvalidSocket && FConnectedHost == FTargetHost &&
        FConnectedPort == FTargetPort && !FSock.WaitReadable(0) && FSock.ErrorCode() == 0)
        return true;
    return OpenConnection(tls);
}

std::string THttpClient::ReadNonEmptyLine() {
    for (int i = 0; i <= FMaxHeaderCount; ++i) {
        const std::string line = FSock.ReceiveLine(FTimeout);
        if (FSock.ErrorCode() != 0 || !line.empty()) return line;
    }
    Fail(kSockNoBufferSpace);
    return std::string();
}

bool THttpClient::SendHeadersAndBody(std::string& heldStatus) {
    const std::string body = FDocument.str();
    const std::string block = BuildHeaderBlock();
    if (FStatus100 && !body.empty() && FProtocol == "1.1") {
        FSock.SendText(block);
        if (FSock.ErrorCode() != 0) return false;
        heldStatus = ReadNonEmptyLine();
        ParseStatusLine(heldStatus);
        for (int i = 0; i < FMaxHeaderCount && FSock.ErrorCode() == 0; ++i)
            if (FSock.ReceiveLine(FTimeout).empty()) break;
        if (FResultCode >= 100 && FResultCode <= 199) {
            heldStatus.clear();
            FSock.SendText(body);
            FUploadSize = static_cast<int32_t>(body.size());
        }
    } else if (!body.empty() && body.size() < 65536) {
        FSock.SendText(block + body);
        FUploadSize = static_cast<int32_t>(block.size() + body.size());
    } else if (!body.empty()) {
        FSock.SendText(block);
        if (FSock.ErrorCode() == 0) FSock.SendBytes(body.data(), static_cast<int>(body.size()));
        FUploadSize = static_cast<int32_t>(body.size());
    } else {
        FSock.SendText(block);
    }
    return FSock.ErrorCode() == 0;
}

void THttpClient::ReadStatusLine(const std::string& heldStatus) {
    if (!heldStatus.empty()) {
        FHeaders.Add(heldStatus);
        return;
    }
    // Interim answers (100) are skipped; a server that sends nothing but them is cut off.
    for (int interim = 0; interim <= FMaxHeaderCount; ++interim) {
        const std::string line = ReadNonEmptyLine();
        if (FSock.ErrorCode() != 0) return;
        if (StartsWith(UpperCase(line), "HTTP/")) {
            FHeaders.Add(line);
            ParseStatusLine(line);
        } else {
            // No status line: an HTTP/0.9-style answer, all body.
            AppendToDocument(line + "\r\n");
            FResultCode = 0;
        }
        if (FResultCode != 100) return;
    }
    Fail(kSockNoBufferSpace);
}

void THttpClient::ReadHeaders(bool& closeAfter, int64_t& announcedSize, bool plainProxy) {
    TStringList raw;
    for (;;) {
        const std::string line = FSock.ReceiveLine(FTimeout);
        if (FSock.ErrorCode() != 0) break;
        if (raw.Count() >= static_cast<size_t>(FMaxHeaderCount)) {
            Fail(kSockNoBufferSpace);
            break;
        }
        raw.Add(line);
        if (line.empty()) break;
    }
    int framingError = 0;
    for (size_t index = 0; index < raw.Count();) {
        const std::string header = UnfoldHeaderLine(raw, index);
        if (header.empty()) continue;
        FHeaders.Add(header);
        const std::string upper = UpperCase(header);
        if (StartsWith(upper, "CONTENT-LENGTH:")) {
            announcedSize = DecimalOrMinusOne(HeaderValue(header));
            if (announcedSize < 0)
                framingError = kSockInvalidArgument;
            else if (announcedSize > FMaxDocumentSize)
                framingError = kSockNoBufferSpace;
            else if (FTransferKind == TTransferKind::UntilClose)
                FTransferKind = TTransferKind::Counted;
        } else if (StartsWith(upper, "CONTENT-TYPE:")) {
            FMimeType = HeaderValue(header);
        } else if (StartsWith(upper, "TRANSFER-ENCODING:")) {
            if (HeaderValue(upper).find("CHUNKED") != std::string::npos)
                FTransferKind = TTransferKind::Chunked;
        } else if (StartsWith(upper, plainProxy ? "PROXY-CONNECTION:" : "CONNECTION:")) {
            if (upper.find("CLOSE") != std::string::npos) closeAfter = true;
        }
    }
    if (framingError) Fail(framingError);
}

void THttpClient::AppendToDocument(const std::string& bytes) {
    if (bytes.empty()) return;
    const TClockStamp arrived = ClockStampNow();
    FDocument.seekp(0, std::ios::end);
    TextToStream(FDocument, bytes);
    const size_t end = (FArrivals.empty() ? 0 : FArrivals.back().first) + bytes.size();
    FArrivals.emplace_back(end, arrived);
    if (!FBodyEnough) return;
    FBodySoFar += bytes;
    if (FBodyEnough(FBodySoFar)) Fail(kSockAborted);
}

bool THttpClient::ReadUntilClose() {
    for (;;) {
        const std::string piece = FSock.ReceiveAvailable(FTimeout);
        const int64_t room = FMaxDocumentSize - static_cast<int64_t>(DocumentSize());
        if (static_cast<int64_t>(piece.size()) > room) {
            AppendToDocument(piece.substr(0, static_cast<size_t>(std::max<int64_t>(room, 0))));
            Fail(kSockNoBufferSpace);
            return false;
        }
        AppendToDocument(piece);
        if (FSock.ErrorCode() != 0) break;
    }
    // Only an orderly close ends such a body; after a reset it may have been cut off.
    if (FSock.ErrorCode() != kSockConnReset || FSock.PeerAborted()) return false;
    FSock.ClearError();
    return true;
}

bool THttpClient::ReadCounted(int64_t count) {
    if (count < 1) return true;
    if (count > FMaxDocumentSize - static_cast<int64_t>(DocumentSize())) {
        Fail(kSockNoBufferSpace);
        return false;
    }
    FDownloadSize = static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX));
    // Piece by piece as they arrive, keeping every byte that came before an error and the
    // moment each piece came: one byte waits for the next arrival, the rest of it follows.
    const int64_t chunk = FSock.SendMaxChunk();
    std::string buffer;
    for (int64_t left = count; left > 0 && FSock.ErrorCode() == 0;) {
        const int64_t ready = static_cast<int64_t>(FSock.Pending().size());
        buffer.resize(static_cast<size_t>(std::min({left, chunk, std::max<int64_t>(ready, 1)})));
        const int got =
            FSock.ReceiveExact(buffer.data(), static_cast<int>(buffer.size()), FTimeout);
        AppendToDocument(buffer.substr(0, static_cast<size_t>(got)));
        left -= got;
    }
    FDocument.seekp(0, std::ios::end);
    return FSock.ErrorCode() == 0;
}

bool THttpClient::ReadChunks() {
    for (;;) {
        const std::string line = ReadNonEmptyLine();
        if (FSock.ErrorCode() != 0) break;
        const std::string sizeText = TrimText(TextBefore(TrimText(TextBefore(line, " ")), ";"));
        const int64_t size = HexOrMinusOne(sizeText);
        if (size < 0) {
            Fail(kSockInvalidArgument);
            break;
        }
        if (size == 0 || !ReadCounted(size)) break;
    }
    return FSock.ErrorCode() == 0;
}

void THttpClient::SetCookie(const std::string& name, const std::string& value) {
    const std::string key = name + "=";
    for (size_t i = 0; i < FCookies.Count(); ++i)
        if (FCookies[i].rfind(key, 0) == 0) {
            FCookies[i] = key + value;
            return;
        }
    FCookies.Add(key + value);
}

void THttpClient::CollectCookies() {
    for (size_t i = 0; i < FHeaders.Count(); ++i) {
        if (!StartsWith(LowerCase(FHeaders[i]), "set-cookie:")) continue;
        const std::string pair = TrimText(TextBefore(TextAfter(FHeaders[i], ":"), ";"));
        const bool hasValue = pair.find('=') != std::string::npos;
        const std::string name = TrimText(TextBefore(pair, "="));
        if (!name.empty()) SetCookie(name, hasValue ? TrimText(TextAfter(pair, "=")) : "");
    }
}

void THttpClient::ReadBody(const std::string& method, int64_t announcedSize) {
    if (method == "HEAD" || FResultCode == 204 || FResultCode == 304) return;
    switch (FTransferKind) {
        case TTransferKind::UntilClose:
            ReadUntilClose();
            break;
        case TTransferKind::Counted:
            ReadCounted(announcedSize);
            break;
        case TTransferKind::Chunked:
            ReadChunks();
            break;
    }
}

bool THttpClient::SendRequest(const std::string& method, const std::string& url) {
    FResultCode = 500;
    FResultString.clear();
    FDownloadSize = 0;
    FUploadSize = 0;
    TRequestPlan plan;
    PlanRequest(method, url, plan);
    BuildRequestHeaders(method, plan);
    FTargetHost = plan.PlainProxy ? FProxyHost : plan.Url.Host;
    FTargetPort = plan.PlainProxy ? FProxyPort : plan.Url.Port;
    if (FHeaders.Empty() || !FHeaders[FHeaders.Count() - 1].empty()) FHeaders.Add("");

    FSock.SetMaxLineLength(FMaxLineLength);
    FSock.SetDeadline(FTotalTimeout);
    bool result = false;
    if (!ReuseOrConnect(plan.Tls)) {
        ForgetConnection();
    } else {
        FDocument.seekg(0);
        std::string heldStatus;
        if (SendHeadersAndBody(heldStatus)) {
            ResetResponse();
            int64_t announcedSize = -1;
            FTransferKind = TTransferKind::UntilClose;
            ReadStatusLine(heldStatus);
            bool closeAfter = FProtocol != "1.1";
            if (FSock.ErrorCode() == 0 && !FHeaders.Empty())
                ReadHeaders(closeAfter, announcedSize, plan.PlainProxy);
            if (FSock.ErrorCode() == 0) ReadBody(method, announcedSize);
            result = FSock.ErrorCode() == 0;
            FDocument.seekg(0);
            // A connection left mid-response can serve no further request.
            if (closeAfter || !result) {
                const int code = FSock.ErrorCode();
                FSock.CloseConnection();
                if (code) FSock.SetErrorCode(code);
                ForgetConnection();
            }
            if (result) CollectCookies();
        }
    }
    FSock.SetDeadline(-1);
    return result;
}

// TLS on the stream socket: the session only transforms bytes, and every byte it needs to
// send or receive goes over the socket's own bounded, stoppable waits.
#include "net/netsocket.h"
#include "net/netutil.h"

namespace {
// What is left of timeout (ms) since start; -1 (no limit) stays.
int LeftOf(int timeout, uint32_t start) {
    if (timeout < 0) return timeout;
    const int64_t left = timeout - static_cast<int64_t>(TickElapsed(start, TickNow()));
    return left > 0 ? static_cast<int>(left) : 0;
}
}  // namespace

void TTcpSocket::StartTls(const TTlsClientConfig& config, int timeout) {
    ClearError();
    FTlsError.clear();
    std::string why;
    FTlsUnsent.clear();
    std::unique_ptr<TTlsSession> session = NewTlsClientSession(config, why);
    if (!session) return FailTls(why);
    const uint32_t start = TickNow();
    for (;;) {
        const TTlsProgress progress = session->Handshake();
        // The last flight waits for the first record of data: sent alone, it would hold that
        // record back until the server's delayed acknowledgement (tens of ms).
        if (progress == TTlsProgress::Done) {
            FTlsUnsent = session->TakeOutgoing();
            break;
        }
        // Sent even after a failure: it may be the alert that tells the server why.
        const std::string out = session->TakeOutgoing();
        if (!out.empty()) SendOnWire(out.data(), static_cast<int>(out.size()));
        if (progress == TTlsProgress::Failed) return FailTls(session->ErrorText());
        if (FErrorCode != 0) return;
        const std::string in = ReceiveFromWire(LeftOf(timeout, start));
        if (FErrorCode == kSockConnReset)
            return FailTls("the server closed the connection during the TLS handshake");
        if (FErrorCode != 0) return;
        session->Feed(in);
    }
    FTlsSession = std::move(session);
}

int TTcpSocket::SendBytes(const void* buffer, int length) {
    if (!FTlsSession) return SendOnWire(buffer, length);
    if (StopCheck() || length <= 0) return 0;
    if (!FTlsSession->Write(std::string(static_cast<const char*>(buffer), size_t(length)))) {
        FailTls(FTlsSession->ErrorText());
        return 0;
    }
    SendTlsOutput();
    return FErrorCode == 0 ? length : 0;
}

std::string TTcpSocket::ReceiveAvailable(int timeout) {
    if (!FTlsSession) return TProxySocket::ReceiveAvailable(timeout);
    ClearError();
    std::string plain;
    if (!FPending.empty())
        plain.swap(FPending);
    else
        ReadDecrypted(timeout, plain);
    if (FConvertLineEnd && !plain.empty()) {
        if ((FAfterCR && plain[0] == '\n') || (FAfterLF && plain[0] == '\r')) plain.erase(0, 1);
        FAfterCR = FAfterLF = false;
    }
    ReportErrors();
    return plain;
}

void TTcpSocket::ReadDecrypted(int timeout, std::string& plain) {
    const uint32_t start = TickNow();
    for (;;) {
        const TTlsProgress progress = FTlsSession->Read(plain);
        // A key update or the like may want an answer.
        SendTlsOutput();
        if (progress == TTlsProgress::Failed) return FailTls(FTlsSession->ErrorText());
        if (!plain.empty() || FErrorCode != 0) return;
        if (FTlsSession->PeerClosed()) {
            FErrorCode = kSockConnReset;
            FPeerAborted = false;
            return;
        }
        const std::string in = ReceiveFromWire(LeftOf(timeout, start));
        // A connection that ends without TLS's own close may have been cut by anyone on
        // the path: what came before is not known to be all.
        if (FErrorCode == kSockConnReset) FPeerAborted = true;
        if (FErrorCode != 0) return;
        FTlsSession->Feed(in);
    }
}

// The bytes on the wire, untouched by the plaintext's line-end handling.
std::string TTcpSocket::ReceiveFromWire(int timeout) {
    const bool convert = FConvertLineEnd;
    FConvertLineEnd = false;
    std::string wire = TProxySocket::ReceiveAvailable(timeout);
    FConvertLineEnd = convert;
    return wire;
}

void TTcpSocket::FailTls(const std::string& why) {
    FTlsError = why.empty() ? "TLS failed" : why;
    FErrorCode = kSockSysNotReady;
    ReportErrors();
}

void TTcpSocket::EndTls() {
    if (!FTlsSession || FHandle == kInvalidSocket || FErrorCode != 0) return;
    FTlsSession->Close();
    SendTlsOutput();
}

void TTcpSocket::SendTlsOutput() {
    std::string out;
    out.swap(FTlsUnsent);
    out += FTlsSession->TakeOutgoing();
    if (!out.empty()) SendOnWire(out.data(), static_cast<int>(out.size()));
}

void TTcpSocket::AbortConnection() {
    FTlsSession.reset();
    TProxySocket::AbortConnection();
}

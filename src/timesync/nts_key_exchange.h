// The NTS key exchange (RFC 8915, section 4): over TLS 1.3 to the server's key-exchange
// port, the two AEAD keys exported from the session, the first cookies, and the NTP
// server and port to ask with them.
#pragma once

#include <deque>
#include <string>

#include "net/netclient.h"
#include "net/netsocket.h"

struct TNtsKeys {
    std::string ClientKey, ServerKey;  // client-to-server and server-to-client
    std::deque<std::string> Cookies;   // each used once, oldest first
    std::string NtpHost, NtpPort;
};

class TNtsKeyExchange : public TNetClient {
public:
    TNtsKeyExchange();

    // The trusted authorities' file; empty: the system's store.
    void SetCaFile(const std::string& file) { FCaFile = file; }
    // True when keys and cookies were had; otherwise Failure() says why.
    bool Run(TNtsKeys& keys);
    const std::string& Failure() const { return FFailure; }
    TTcpSocket& Sock() { return FSock; }

    static constexpr const char* kDefaultPort = "4460";

private:
    bool Handshake();
    bool ReadAnswer(std::string& answer);
    bool ExportKeys(TNtsKeys& keys);
    bool Fail(const std::string& why);

    TTcpSocket FSock;
    std::string FCaFile;
    std::string FFailure;
};

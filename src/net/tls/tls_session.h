// A TLS client that only transforms bytes: what the peer sent is fed in, what must go to
// the peer is taken out, and the socket that carries them stays with the caller, with its
// own waits, time-outs and stop flag. One implementation per build: a real one where a TLS
// library is part of the system, one that refuses everything where it is not.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct TTlsClientConfig {
    std::string ServerName;          // sent in SNI; the certificate must name it
    std::string CaFile;              // trusted authorities; empty: the system's store
    std::vector<std::string> Alpn;   // protocols offered; the server must pick one of them
    bool Tls13Only = false;
};

enum class TTlsProgress { Done, NeedInput, Failed };

class TTlsSession {
public:
    virtual ~TTlsSession() = default;

    // Advances the handshake. NeedInput: send TakeOutgoing(), Feed the answer, call again.
    virtual TTlsProgress Handshake() = 0;
    virtual void Feed(const std::string& fromPeer) = 0;
    virtual std::string TakeOutgoing() = 0;
    // Encrypts plain for the peer (then TakeOutgoing).
    virtual bool Write(const std::string& plain) = 0;
    // Appends what the bytes fed so far decrypt to. NeedInput when no whole record is
    // there yet; Done with nothing appended once the peer has closed.
    virtual TTlsProgress Read(std::string& plain) = 0;
    virtual bool PeerClosed() const = 0;
    // Queues the close notification for the peer.
    virtual void Close() = 0;
    // Keying material exported from the session (RFC 5705).
    virtual bool ExportKey(const std::string& label, const std::string& context, size_t length,
                           std::string& key) = 0;
    // The protocol the server chose from Alpn; empty when none.
    virtual std::string ChosenAlpn() const = 0;
    virtual const std::string& ErrorText() const = 0;
};

// Null, with why in error, when the session cannot be made (or this build has no TLS).
std::unique_ptr<TTlsSession> NewTlsClientSession(const TTlsClientConfig& config, std::string& error);

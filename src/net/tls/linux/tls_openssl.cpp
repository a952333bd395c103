// The TLS client over OpenSSL 3 with two memory BIOs: OpenSSL never touches a socket.
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "net/tls/tls_session.h"

namespace {

std::string OpenSslErrors(const std::string& what) {
    std::string text = what;
    char buffer[256];
    while (const unsigned long code = ERR_get_error()) {
        ERR_error_string_n(code, buffer, sizeof buffer);
        text += "; ";
        text += buffer;
    }
    return text;
}

// ALPN's wire form: each name after its one-byte length.
std::string AlpnWire(const std::vector<std::string>& names) {
    std::string wire;
    for (const std::string& name : names) {
        if (name.empty() || name.size() > 255) continue;
        wire += static_cast<char>(name.size());
        wire += name;
    }
    return wire;
}

class TOpenSslSession : public TTlsSession {
public:
    ~TOpenSslSession() override {
        if (FSsl) SSL_free(FSsl);  // frees both BIOs too
        if (FContext) SSL_CTX_free(FContext);
    }

    bool Start(const TTlsClientConfig& config) {
        FContext = SSL_CTX_new(TLS_client_method());
        if (!FContext) return Fail("no TLS context");
        SSL_CTX_set_min_proto_version(FContext, config.Tls13Only ? TLS1_3_VERSION : TLS1_2_VERSION);
        SSL_CTX_set_verify(FContext, SSL_VERIFY_PEER, nullptr);
        const bool trusted = config.CaFile.empty()
                                 ? SSL_CTX_set_default_verify_paths(FContext) == 1
                                 : SSL_CTX_load_verify_locations(FContext, config.CaFile.c_str(),
                                                                 nullptr) == 1;
        if (!trusted)
            return Fail(config.CaFile.empty() ? "the system's trusted certificates cannot be read"
                                              : "CA file '" + config.CaFile + "' cannot be read");
        FSsl = SSL_new(FContext);
        if (!FSsl) return Fail("no TLS session");
        FIn = BIO_new(BIO_s_mem());
        FOut = BIO_new(BIO_s_mem());
        if (!FIn || !FOut) return Fail("no TLS buffers");
        BIO_set_mem_eof_return(FIn, -1);  // an empty input is "wait for more", not the end
        SSL_set_bio(FSsl, FIn, FOut);
        SSL_set_connect_state(FSsl);
        return CheckNameAndAlpn(config);
    }

    TTlsProgress Handshake() override {
        ERR_clear_error();
        const int result = SSL_do_handshake(FSsl);
        if (result == 1) return CheckAlpnChosen() ? TTlsProgress::Done : TTlsProgress::Failed;
        return Progress(result, "TLS handshake failed");
    }

    void Feed(const std::string& fromPeer) override {
        if (!fromPeer.empty()) BIO_write(FIn, fromPeer.data(), static_cast<int>(fromPeer.size()));
    }

    std::string TakeOutgoing() override {
        std::string out;
        char buffer[4096];
        int n = 0;
        while ((n = BIO_read(FOut, buffer, sizeof buffer)) > 0) out.append(buffer, size_t(n));
        return out;
    }

    bool Write(const std::string& plain) override {
        ERR_clear_error();
        if (plain.empty()) return true;
        size_t written = 0;
        if (SSL_write_ex(FSsl, plain.data(), plain.size(), &written) == 1 && written == plain.size())
            return true;
        Fail("TLS write failed");
        return false;
    }

    TTlsProgress Read(std::string& plain) override {
        char buffer[16384];
        bool any = false;
        for (;;) {
            ERR_clear_error();
            size_t got = 0;
            const int result = SSL_read_ex(FSsl, buffer, sizeof buffer, &got);
            if (result == 1) {
                plain.append(buffer, got);
                any = true;
                continue;
            }
            const TTlsProgress progress = Progress(result, "TLS record refused");
            if (any && progress == TTlsProgress::NeedInput) return TTlsProgress::Done;
            return progress;
        }
    }

    bool PeerClosed() const override { return FClosed; }

    void Close() override {
        if (FSsl && SSL_is_init_finished(FSsl)) SSL_shutdown(FSsl);
    }

    bool ExportKey(const std::string& label, const std::string& context, size_t length,
                   std::string& key) override {
        key.assign(length, '\0');
        if (SSL_export_keying_material(
                FSsl, reinterpret_cast<unsigned char*>(key.data()), length, label.data(),
                label.size(), reinterpret_cast<const unsigned char*>(context.data()),
                context.size(), 1) == 1)
            return true;
        key.clear();
        return Fail("keys could not be exported from the TLS session");
    }

    std::string ChosenAlpn() const override {
        const unsigned char* name = nullptr;
        unsigned int length = 0;
        SSL_get0_alpn_selected(FSsl, &name, &length);
        return name ? std::string(reinterpret_cast<const char*>(name), length) : std::string();
    }

    const std::string& ErrorText() const override { return FError; }

private:
    bool CheckNameAndAlpn(const TTlsClientConfig& config) {
        FAlpnOffered = !config.Alpn.empty();
        if (FAlpnOffered) {
            const std::string wire = AlpnWire(config.Alpn);
            if (SSL_set_alpn_protos(FSsl, reinterpret_cast<const unsigned char*>(wire.data()),
                                    static_cast<unsigned>(wire.size())) != 0)
                return Fail("ALPN cannot be offered");
        }
        if (config.ServerName.empty()) return Fail("no server name to check the certificate against");
        // The certificate must name the host we asked for: an address as an IP entry, a
        // name as a DNS entry; only names go into SNI.
        X509_VERIFY_PARAM* param = SSL_get0_param(FSsl);
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        const bool named =
            X509_VERIFY_PARAM_set1_ip_asc(param, config.ServerName.c_str()) == 1 ||
            (X509_VERIFY_PARAM_set1_host(param, config.ServerName.c_str(), 0) == 1 &&
             SSL_set_tlsext_host_name(FSsl, config.ServerName.c_str()) == 1);
        if (!named) return Fail("'" + config.ServerName + "' is not a host name a certificate can carry");
        return true;
    }

    bool CheckAlpnChosen() {
        if (!FAlpnOffered || !ChosenAlpn().empty()) return true;
        FError = "the server chose none of the offered protocols (ALPN)";
        return false;
    }

    TTlsProgress Progress(int result, const std::string& what) {
        switch (SSL_get_error(FSsl, result)) {
            case SSL_ERROR_WANT_READ:
            case SSL_ERROR_WANT_WRITE:
                return TTlsProgress::NeedInput;
            case SSL_ERROR_ZERO_RETURN:
                FClosed = true;
                return TTlsProgress::Done;
            default:
                break;
        }
        const long verify = SSL_get_verify_result(FSsl);
        if (verify != X509_V_OK)
            FError = std::string("the server's certificate is not trusted: ") +
                     X509_verify_cert_error_string(verify);
        else
            FError = OpenSslErrors(what);
        return TTlsProgress::Failed;
    }

    bool Fail(const std::string& what) {
        FError = OpenSslErrors(what);
        return false;
    }

    SSL_CTX* FContext = nullptr;
    SSL* FSsl = nullptr;
    BIO* FIn = nullptr;
    BIO* FOut = nullptr;
    bool FClosed = false;
    bool FAlpnOffered = false;
    std::string FError;
};
}  // namespace

std::unique_ptr<TTlsSession> NewTlsClientSession(const TTlsClientConfig& config, std::string& error) {
    auto session = std::make_unique<TOpenSslSession>();
    if (!session->Start(config)) {
        error = session->ErrorText();
        return nullptr;
    }
    return session;
}

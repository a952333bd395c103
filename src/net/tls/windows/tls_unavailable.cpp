// This build has no TLS library of the system to use: authenticated time and https are
// refused with a reason the user can act on.
#include "net/tls/aead.h"
#include "net/tls/tls_session.h"

namespace {
constexpr const char* kUnavailable =
    "NTS and https are not available in this build (it has no TLS library); use plain "
    "servers or http:// scripts";
}

bool SivSeal(const std::string&, const std::string&, const std::string&, const std::string&,
             std::string&, std::string& error) {
    error = kUnavailable;
    return false;
}

bool SivOpen(const std::string&, const std::string&, const std::string&, const std::string&,
             std::string&, std::string& error) {
    error = kUnavailable;
    return false;
}

bool SecureRandomBytes(size_t, std::string&) { return false; }

std::unique_ptr<TTlsSession> NewTlsClientSession(const TTlsClientConfig&, std::string& error) {
    error = kUnavailable;
    return nullptr;
}

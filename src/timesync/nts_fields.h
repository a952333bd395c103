// The NTS extension fields of an NTPv4 datagram (RFC 8915, section 5): the request's
// unique identifier, cookie, cookie placeholders and authenticator, and the check of a
// reply, which is untrusted until its authenticator opens with the server's key.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nts {
constexpr uint16_t kFieldUniqueId = 0x0104;
constexpr uint16_t kFieldCookie = 0x0204;
constexpr uint16_t kFieldCookiePlaceholder = 0x0304;
constexpr uint16_t kFieldAuthenticator = 0x0404;
constexpr size_t kUniqueIdSize = 32;
constexpr size_t kNonceSize = 16;
}  // namespace nts

struct TNtsRequestFields {
    std::string UniqueId;       // kUniqueIdSize random bytes; the reply must echo them
    std::string Cookie;         // one the server gave, used once
    int Placeholders = 0;       // how many more cookies to ask for
    std::string ClientKey;      // client-to-server key from the key exchange
    std::string Nonce;          // kNonceSize random bytes
};

// Appends the fields to a datagram that holds the 48-byte header, sealing everything
// before the authenticator. False (with why) when the cipher refuses.
bool AppendNtsRequestFields(std::string& datagram, const TNtsRequestFields& fields,
                            std::string& why);

enum class TNtsReplyVerdict {
    Authentic,  // echoes our identifier and opens with the server's key
    Forged,     // anything else: to be ignored like a reply that is not ours
    Nak         // the server no longer knows our cookie (an unauthenticated "NTSN" kiss)
};

// Checks the datagram's fields against our identifier and the server-to-client key; an
// authentic reply's new cookies (at most kMaxCookies) are put in cookies.
TNtsReplyVerdict CheckNtsReply(const std::string& datagram, const std::string& uniqueId,
                               const std::string& serverKey, std::vector<std::string>& cookies);

// The records of the NTS key exchange (RFC 8915, section 4): what the client asks for over
// TLS and what it reads from the server's answer, which is untrusted until checked here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nts {
constexpr uint16_t kRecordEnd = 0;
constexpr uint16_t kRecordNextProtocol = 1;
constexpr uint16_t kRecordError = 2;
constexpr uint16_t kRecordWarning = 3;
constexpr uint16_t kRecordAead = 4;
constexpr uint16_t kRecordNewCookie = 5;
constexpr uint16_t kRecordServer = 6;
constexpr uint16_t kRecordPort = 7;
constexpr uint16_t kCriticalBit = 0x8000;

constexpr uint16_t kProtocolNtpV4 = 0;
constexpr uint16_t kAeadSivCmac256 = 15;

// What one answer may carry before it is no answer of a key exchange.
constexpr size_t kMaxAnswerSize = 64 * 1024;
constexpr size_t kMaxCookies = 8;
constexpr size_t kMaxCookieSize = 1024;
}  // namespace nts

struct TNtsKeAnswer {
    std::vector<std::string> Cookies;
    std::string Server;  // empty: the key exchange's own host
    uint16_t Port = 0;   // 0: the NTP port, 123
};

enum class TNtsKeParse { Complete, Incomplete, Refused };

// The client's request: NTPv4, AEAD_AES_SIV_CMAC_256, end of message.
std::string NtsKeRequest();

// Reads the server's records from the start of bytes. Incomplete while the end-of-message
// record has not arrived; Refused (why says why) for an error or warning record, an unknown
// critical record, a malformed one, or an answer that does not agree on NTPv4 and the
// cipher or brings no cookie.
TNtsKeParse ParseNtsKeAnswer(const std::string& bytes, TNtsKeAnswer& answer, std::string& why);

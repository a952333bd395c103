#include "timesync/nts_records.h"

#include <algorithm>

namespace {
uint16_t Word(const std::string& bytes, size_t at) {
    return static_cast<uint16_t>((static_cast<uint8_t>(bytes[at]) << 8) |
                                 static_cast<uint8_t>(bytes[at + 1]));
}

std::string WordBytes(uint16_t value) {
    return {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
}

std::string Record(uint16_t type, bool critical, const std::string& body) {
    return WordBytes(static_cast<uint16_t>(type | (critical ? nts::kCriticalBit : 0))) +
           WordBytes(static_cast<uint16_t>(body.size())) + body;
}

// A body of 16-bit words that must be exactly one: the single choice a server may make.
bool SingleWord(const std::string& body, uint16_t expected) {
    return body.size() == 2 && Word(body, 0) == expected;
}

bool PrintableName(const std::string& name) {
    return !name.empty() && name.size() <= 255 &&
           std::all_of(name.begin(), name.end(), [](char c) { return c > ' ' && c < 127; });
}

struct TAnswerReader {
    TNtsKeAnswer& Answer;
    std::string& Why;
    bool Protocol = false, Aead = false;

    bool Take(uint16_t type, bool critical, const std::string& body) {
        switch (type) {
            case nts::kRecordNextProtocol:
                Protocol = SingleWord(body, nts::kProtocolNtpV4);
                return Protocol || Refuse("the server does not offer NTPv4");
            case nts::kRecordAead:
                Aead = SingleWord(body, nts::kAeadSivCmac256);
                return Aead || Refuse("the server does not offer AEAD_AES_SIV_CMAC_256");
            case nts::kRecordError:
                return Refuse("the server refused the key exchange (error " +
                              (body.size() == 2 ? std::to_string(Word(body, 0)) : "?") + ")");
            case nts::kRecordWarning:
                return Refuse("the server warned (" +
                              (body.size() == 2 ? std::to_string(Word(body, 0)) : "?") + ")");
            case nts::kRecordNewCookie:
                return TakeCookie(body);
            case nts::kRecordServer:
                Answer.Server = body;
                return PrintableName(body) || Refuse("the NTP server it names is not a host name");
            case nts::kRecordPort:
                if (body.size() != 2 || Word(body, 0) == 0) return Refuse("its NTP port is not one");
                Answer.Port = Word(body, 0);
                return true;
            default:
                return !critical || Refuse("it sent a critical record of unknown type " +
                                           std::to_string(type));
        }
    }

    bool TakeCookie(const std::string& body) {
        if (body.empty() || body.size() > nts::kMaxCookieSize)
            return Refuse("a cookie of " + std::to_string(body.size()) + " bytes");
        if (Answer.Cookies.size() < nts::kMaxCookies) Answer.Cookies.push_back(body);
        return true;
    }

    bool Finish() {
        if (!Protocol) return Refuse("the server named no protocol");
        if (!Aead) return Refuse("the server named no cipher");
        if (Answer.Cookies.empty()) return Refuse("the server gave no cookie");
        return true;
    }

    bool Refuse(const std::string& why) {
        Why = why;
        return false;
    }
};
}  // namespace

std::string NtsKeRequest() {
    return Record(nts::kRecordNextProtocol, true, WordBytes(nts::kProtocolNtpV4)) +
           Record(nts::kRecordAead, true, WordBytes(nts::kAeadSivCmac256)) +
           Record(nts::kRecordEnd, true, std::string());
}

TNtsKeParse ParseNtsKeAnswer(const std::string& bytes, TNtsKeAnswer& answer, std::string& why) {
    answer = TNtsKeAnswer{};
    TAnswerReader reader{answer, why};
    size_t at = 0;
    while (at + 4 <= bytes.size()) {
        const uint16_t head = Word(bytes, at);
        const size_t length = Word(bytes, at + 2);
        if (at + 4 + length > bytes.size()) break;
        const uint16_t type = head & ~nts::kCriticalBit;
        const std::string body = bytes.substr(at + 4, length);
        at += 4 + length;
        if (type == nts::kRecordEnd)
            return reader.Finish() ? TNtsKeParse::Complete : TNtsKeParse::Refused;
        if (!reader.Take(type, (head & nts::kCriticalBit) != 0, body)) return TNtsKeParse::Refused;
    }
    if (bytes.size() >= nts::kMaxAnswerSize) {
        why = "its answer has no end within " + std::to_string(nts::kMaxAnswerSize) + " bytes";
        return TNtsKeParse::Refused;
    }
    return TNtsKeParse::Incomplete;
}

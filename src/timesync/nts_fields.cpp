#include "timesync/nts_fields.h"

#include "net/tls/aead.h"
#include "timesync/nts_records.h"

namespace {
constexpr size_t kHeaderSize = 48;

uint16_t Word(const std::string& bytes, size_t at) {
    return static_cast<uint16_t>((static_cast<uint8_t>(bytes[at]) << 8) |
                                 static_cast<uint8_t>(bytes[at + 1]));
}

std::string WordBytes(size_t value) {
    return {static_cast<char>((value >> 8) & 0xFF), static_cast<char>(value & 0xFF)};
}

size_t Padded(size_t length) { return (length + 3) & ~size_t{3}; }

std::string Field(uint16_t type, const std::string& value) {
    std::string body = value;
    body.resize(Padded(body.size()), '\0');
    return WordBytes(type) + WordBytes(4 + body.size()) + body;
}

struct TField {
    uint16_t Type = 0;
    size_t Start = 0;  // of its header, in the datagram
    std::string Value;
};

// The fields from offset on, each whole and a multiple of four long; false for any
// that runs past the end or is shorter than its own header.
bool SplitFields(const std::string& bytes, size_t offset, std::vector<TField>& fields) {
    while (offset < bytes.size()) {
        if (offset + 4 > bytes.size()) return false;
        const size_t length = Word(bytes, offset + 2);
        if (length < 4 || length % 4 != 0 || offset + length > bytes.size()) return false;
        fields.push_back({Word(bytes, offset), offset, bytes.substr(offset + 4, length - 4)});
        offset += length;
    }
    return true;
}

// The authenticator's nonce and sealed text; false when its lengths do not fit in it.
bool ReadAuthenticator(const std::string& value, std::string& nonce, std::string& sealed) {
    if (value.size() < 4) return false;
    const size_t nonceLength = Word(value, 0), sealedLength = Word(value, 2);
    if (4 + Padded(nonceLength) + Padded(sealedLength) > value.size()) return false;
    nonce = value.substr(4, nonceLength);
    sealed = value.substr(4 + Padded(nonceLength), sealedLength);
    return nonceLength > 0;
}

bool IsNak(const std::string& datagram) {
    // Stratum 0 with the kiss code "NTSN".
    return datagram[1] == 0 && datagram.compare(12, 4, "NTSN") == 0;
}

void TakeCookies(const std::string& plain, std::vector<std::string>& cookies) {
    std::vector<TField> inner;
    if (!SplitFields(plain, 0, inner)) return;
    for (const TField& f : inner)
        if (f.Type == nts::kFieldCookie && !f.Value.empty() &&
            f.Value.size() <= nts::kMaxCookieSize && cookies.size() < nts::kMaxCookies)
            cookies.push_back(f.Value);
}
}  // namespace

bool AppendNtsRequestFields(std::string& datagram, const TNtsRequestFields& fields,
                            std::string& why) {
    datagram += Field(nts::kFieldUniqueId, fields.UniqueId);
    datagram += Field(nts::kFieldCookie, fields.Cookie);
    for (int i = 0; i < fields.Placeholders; ++i)
        datagram += Field(nts::kFieldCookiePlaceholder, std::string(fields.Cookie.size(), '\0'));
    std::string sealed;
    if (!SivSeal(fields.ClientKey, fields.Nonce, datagram, std::string(), sealed, why)) return false;
    std::string value = WordBytes(fields.Nonce.size()) + WordBytes(sealed.size()) + fields.Nonce;
    value.resize(Padded(value.size()), '\0');
    value += sealed;
    datagram += Field(nts::kFieldAuthenticator, value);
    return true;
}

TNtsReplyVerdict CheckNtsReply(const std::string& datagram, const std::string& uniqueId,
                               const std::string& serverKey, std::vector<std::string>& cookies) {
    cookies.clear();
    std::vector<TField> fields;
    if (datagram.size() < kHeaderSize || !SplitFields(datagram, kHeaderSize, fields))
        return TNtsReplyVerdict::Forged;
    bool echoed = false;
    for (const TField& field : fields) {
        if (field.Type == nts::kFieldUniqueId) {
            echoed = echoed || field.Value == uniqueId;
            continue;
        }
        if (field.Type != nts::kFieldAuthenticator) continue;
        // Everything before the authenticator is what it vouches for; whatever follows it
        // is not vouched for and is ignored.
        std::string nonce, sealed, plain, why;
        if (!echoed || !ReadAuthenticator(field.Value, nonce, sealed) ||
            !SivOpen(serverKey, nonce, datagram.substr(0, field.Start), sealed, plain, why))
            return TNtsReplyVerdict::Forged;
        TakeCookies(plain, cookies);
        return TNtsReplyVerdict::Authentic;
    }
    return echoed && IsNak(datagram) ? TNtsReplyVerdict::Nak : TNtsReplyVerdict::Forged;
}

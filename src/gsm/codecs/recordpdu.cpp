#include "gsm/codecs/recordpdu.h"

#include <array>

#include "gsm/codecs/address.h"
#include "gsm/codecs/gsm7.h"
#include "gsm/codecs/hex.h"

namespace {

std::array<uint8_t, 256> MakeGsmTo8Bit() {
    std::array<uint8_t, 256> table{};
    for (int i = 0; i < 128; ++i) {
        const char16_t c = GsmAlphabet[i];
        table[i] = c <= 0xFF ? static_cast<uint8_t>(c) : '?';
    }
    return table;
}

// Extension characters that ISO 8859-1 has; the euro sign is not among them.
uint8_t ExtensionTo8Bit(unsigned septet) {
    switch (septet) {
        case 0x0A:
            return 0x0C;
        case 0x14:
            return '^';
        case 0x28:
            return '{';
        case 0x29:
            return '}';
        case 0x2F:
            return '\\';
        case 0x3C:
            return '[';
        case 0x3D:
            return '~';
        case 0x3E:
            return ']';
        case 0x40:
            return '|';
        default:
            return '?';
    }
}

std::string Latin1ToUtf8(std::string_view latin1) {
    std::string out;
    for (const char ch : latin1) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Reads a PDU octet by octet, never past its end.
class TOctetCursor {
public:
    explicit TOctetCursor(std::string_view hex) : FHex(hex) {}

    bool Octet(uint8_t& value) {
        int v = 0;
        if (!TryReadOctet(FHex, FPos, v)) return false;
        value = static_cast<uint8_t>(v);
        FPos += 2;
        return true;
    }
    // The hex digits of `octets` octets.
    bool Digits(size_t octets, std::string_view& out) {
        uint8_t dummy = 0;
        const size_t start = FPos;
        for (size_t i = 0; i < octets; ++i)
            if (!Octet(dummy)) return false;
        out = FHex.substr(start, 2 * octets);
        return true;
    }
    std::string_view Rest() const { return Field(FHex, FPos, std::string_view::npos); }

private:
    std::string_view FHex;
    size_t FPos = 0;
};

bool ReadServiceCentre(TOctetCursor& in, TSmsPdu& record) {
    uint8_t length = 0, type = 0;
    if (!in.Octet(length)) return false;
    if (length == 0) return true;
    std::string_view digits;
    if (!in.Octet(type) || !in.Digits(length - 1u, digits)) return false;
    record.ServiceCentre = SemiOctetsToNumber(digits);
    return true;
}

// Address length counts digits; the semi-octets fill whole octets.
bool ReadAddress(TOctetCursor& in, TSmsPdu& record) {
    uint8_t digitCount = 0, type = 0;
    std::string_view digits;
    if (!in.Octet(digitCount) || !in.Octet(type) || !in.Digits((digitCount + 1u) / 2, digits))
        return false;
    record.Address = SemiOctetsToNumber(digits);
    return true;
}

// Kinds after which nothing more is read; false for the reserved TP-MTI.
bool ReadKind(bool incoming, TOctetCursor& in, TSmsPdu& record, bool& done) {
    static const uint8_t incomingKinds[] = {skDeliver, skSubmitReport, skStatusReport, skUnknown};
    static const uint8_t outgoingKinds[] = {skDeliverReport, skSubmit, skCommand, skUnknown};
    const int mti = record.FirstOctet & 3;
    record.Kind = incoming ? incomingKinds[mti] : outgoingKinds[mti];
    if (record.Kind == skUnknown) return false;
    done = record.Kind != skDeliver && record.Kind != skStatusReport;
    const bool hasReference = record.Kind == skSubmitReport || record.Kind == skStatusReport ||
                              record.Kind == skDeliverReport;
    return !hasReference || in.Octet(record.MessageReference);
}

// Unpacked as 7-bit whatever TP-DCS says, as the record has always been read.
bool ReadDeliverText(TOctetCursor& in, TSmsPdu& record) {
    uint8_t udl = 0;
    if (!in.Octet(udl)) return false;
    const std::string septets = UnpackGsm7Septets(in.Rest(), udl);
    std::string latin1;
    for (size_t i = 0; i < septets.size(); ++i) {
        const auto s = static_cast<unsigned char>(septets[i]);
        if (s == GsmEscape && i + 1 < septets.size())
            latin1 += static_cast<char>(ExtensionTo8Bit(static_cast<unsigned char>(septets[++i])));
        else
            latin1 += static_cast<char>(GsmTo8Bit[s]);
    }
    if (latin1.size() > udl) latin1.resize(udl);
    record.Text = Latin1ToUtf8(latin1);
    return true;
}

bool SemiOctetDecimal(std::string_view digits, size_t octet, int& value) {
    const char low = digits[2 * octet + 1], high = digits[2 * octet];
    if (low < '0' || low > '9' || high < '0' || high > '9') return false;
    value = (low - '0') * 10 + (high - '0');
    return true;
}

// Quarter hours east of GMT; the sign is bit 3 of the tens digit.
bool ZoneQuarters(std::string_view digits, int& quarters) {
    const int tens = HexDigitValue(digits[13]);
    const char units = digits[12];
    if (tens < 0 || units < '0' || units > '9') return false;
    quarters = (tens & 7) * 10 + (units - '0');
    if (tens & 8) quarters = -quarters;
    return true;
}

}  // namespace

const std::array<uint8_t, 256> GsmTo8Bit = MakeGsmTo8Bit();

bool DecodeRecordPdu(bool incoming, std::string_view pdu, TSmsPdu& record) {
    record = TSmsPdu{};
    TOctetCursor in(pdu);
    bool done = false;
    if (!ReadServiceCentre(in, record) || !in.Octet(record.FirstOctet) ||
        !ReadKind(incoming, in, record, done))
        return false;
    if (done) return true;
    if (!ReadAddress(in, record)) return false;
    if (record.Kind == skDeliver &&
        (!in.Octet(record.ProtocolId) || !in.Octet(record.CodingScheme)))
        return false;
    std::string_view stamp;
    if (!in.Digits(7, stamp)) return false;
    record.TimeStamp = DecodeScts(stamp);
    if (record.Kind == skStatusReport) {
        std::string_view dischargeTime;
        return in.Digits(7, dischargeTime) && in.Octet(record.Status);
    }
    return ReadDeliverText(in, record);
}

TDateTime DecodeScts(std::string_view digits) {
    if (digits.size() < 14) return 0;
    int v[6] = {};
    for (size_t i = 0; i < 6; ++i)
        if (!SemiOctetDecimal(digits, i, v[i])) return 0;
    int quarters = 0;
    if (!ZoneQuarters(digits, quarters)) return 0;
    const int year = v[0] + 1900 + (v[0] < 96 ? 100 : 0);
    TDateTime date = 0, time = 0;
    if (!TryEncodeDate(year, v[1], v[2], date) || !TryEncodeTime(v[3], v[4], v[5], 0, time))
        return 0;
    // The stamp as the service centre wrote it, as a message's stamp is read: applying the
    // zone here would put a report hours away from the message it reports on.
    return date + time;
}

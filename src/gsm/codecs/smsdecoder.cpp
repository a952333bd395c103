#include "gsm/codecs/smsdecoder.h"

#include <algorithm>

#include "gsm/codecs/address.h"
#include "gsm/codecs/gsm7.h"
#include "gsm/codecs/gsmerrors.h"
#include "gsm/codecs/hex.h"
#include "gsm/codecs/octetcodecs.h"
#include "gsm/codecs/utf.h"

namespace {

constexpr int MtiMask = 0x03;
constexpr int MtiSubmit = 0x01;
constexpr int UdhiBit = 0x40;
constexpr int AlphanumericType = 0x50;
constexpr int InternationalTon = 1;
constexpr int IeiConcat8Bit = 0x00;
constexpr int IeiConcat16Bit = 0x08;

// TS 23.038 section 4: the message-waiting groups name their alphabet by the
// group itself (1100 and 1101 GSM 7-bit, 1110 UCS-2), group 1111 by bit 2;
// the general groups by bits 2-3.
int AlphabetOfDcs(int dcs) {
    switch (dcs >> 4) {
        case 0xC:
        case 0xD:
            return 0;
        case 0xE:
            return 2;
        case 0xF:
            return (dcs >> 2) & 1;
        default:
            return (dcs >> 2) & 3;
    }
}

int TypeOfNumber(int type) { return (type >> 4) & 7; }

// TP-VP digits by TP-VPF (first octet bits 3-4): absent, relative, or 7 octets.
int ValidityDigits(int firstOctet) {
    const int vpf = (firstOctet >> 3) & 3;
    return vpf == 0 ? 0 : vpf == 2 ? 2 : 14;
}

// Septets that a header of udhl + 1 octets occupies in 7-bit user data, fill bits included.
int HeaderSeptets(int udhl) { return udhl + udhl / 7 + 2; }

bool AllHex(std::string_view s) { return std::all_of(s.begin(), s.end(), IsHexDigit); }

bool TwoDecimalDigits(std::string_view s, size_t pos, int& value) {
    const char a = s[pos], b = s[pos + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9') return false;
    value = (a - '0') * 10 + (b - '0');
    return true;
}

}  // namespace

int TSMS::ReadField(size_t position, const char* name) {
    int value = 0;
    if (!TryReadOctet(FPdu, position - 1, value)) {
        FUnreadable = true;
        if (FSink) FSink(std::string("PDU ERROR (") + name + "): " + FPdu);
        return 0;
    }
    return value;
}

void TSMS::ParsePdu(std::string_view pdu) {
    FPdu = pdu;
    FUnreadable = false;
    FHeader.clear();
    FUserDataLength = 0;
    FScDigits = 2 * ReadField(1, "SMSCLen");
    FFirstOctetPos = 3 + FScDigits;
    const int first = ReadField(static_cast<size_t>(FFirstOctetPos), "PDUType");
    FIsSubmit = (first & MtiMask) == MtiSubmit;
    FHasHeader = (first & UdhiBit) != 0;
    FValidityDigits = FIsSubmit ? ValidityDigits(first) : 0;
    // An SMS-SUBMIT has TP-MR between the first octet and the address.
    const int lengthPos = FFirstOctetPos + 2 + (FIsSubmit ? 2 : 0);
    const int addressLength = ReadField(static_cast<size_t>(lengthPos), "SenderLen");
    FAddressPos = lengthPos + 2;
    FAddressDigits = addressLength + (addressLength & 1);
    const int dcs = ReadField(static_cast<size_t>(FAddressPos + FAddressDigits + 4), "TPDCS");
    FAlphabet = AlphabetOfDcs(dcs);
    FTpduLength = (static_cast<int>(FPdu.size()) - FScDigits) / 2 - 1;
}

bool TSMS::Readable() const {
    const size_t udl = static_cast<size_t>(FFirstOctetPos + FAddressDigits) +
                       (FIsSubmit ? static_cast<size_t>(FValidityDigits) + 12 : 24);
    return !FUnreadable && FPdu.size() >= udl + 1;
}

std::string TSMS::GetSender() const {
    int type = 0;
    if (!TryReadOctet(FPdu, static_cast<size_t>(FAddressPos - 1), type)) return "";
    const std::string_view digits =
        Field(FPdu, static_cast<size_t>(FAddressPos + 1), static_cast<size_t>(FAddressDigits));
    if (digits.size() != static_cast<size_t>(FAddressDigits)) return "";
    if ((type & AlphanumericType) == AlphanumericType) return Utf16ToUtf8(Gsm7HexToText(digits));
    if (!AllHex(digits)) return "";
    const std::string number = SemiOctetsToNumber(digits);
    return TypeOfNumber(type) == InternationalTon ? "+" + number : number;
}

std::u16string TSMS::GetText() {
    FHeader.clear();
    try {
        return NormaliseLineBreaks(DecodeUserData());
    } catch (const std::exception&) {
        return u"(Decoding Error)";
    }
}

std::u16string TSMS::DecodeUserData() {
    const int udlPos = FIsSubmit ? FFirstOctetPos + FAddressDigits + FValidityDigits + 12
                                 : FFirstOctetPos + FAddressDigits + 24;
    FUserDataLength = ReadOctet(FPdu, static_cast<size_t>(udlPos - 1));
    std::string userData(Field(FPdu, static_cast<size_t>(udlPos + 1), std::string::npos));
    int udhl = -1;
    if (FHasHeader) {
        udhl = ReadOctet(userData, 0);
        const size_t headerDigits = 2 * static_cast<size_t>(udhl + 1);
        if (userData.size() < headerDigits) throw EConvertError("User data header beyond the data");
        FHeader = userData.substr(0, headerDigits);
        // Zero octets in its place keep the 7-bit text aligned when the whole user data is
        // unpacked.
        userData.replace(0, headerDigits, headerDigits, '0');
    }
    return DecodeText(userData, udhl);
}

// udhl is -1 when there is no header.
std::u16string TSMS::DecodeText(const std::string& userData, int udhl) const {
    const size_t udl = static_cast<size_t>(FUserDataLength);
    switch (FAlphabet) {
        case 0: {
            // TP-UDL counts septets exactly, so the unpacker need not guess at
            // fill bits: a final '@' and runs of '@' stay what they are.
            const std::string septets = UnpackGsm7Septets(userData, udl);
            const size_t skip = udhl >= 0 ? static_cast<size_t>(HeaderSeptets(udhl)) : 0;
            return Gsm7SeptetsToText(
                std::string_view(septets).substr(std::min(skip, septets.size())));
        }
        case 1:
        case 2: {
            // Octet data starts right after the header: fill exists only for septets.
            const size_t end = std::min(2 * udl, userData.size());
            const size_t from = udhl >= 0 ? std::min(2 * static_cast<size_t>(udhl + 1), end) : 0;
            const std::string_view data = std::string_view(userData).substr(from, end - from);
            return FAlphabet == 1 ? Hex8BitToText(data) : Ucs2HexToText(data);
        }
        default:
            return u"(Uwaga: Nieznany schemat kodowania)";
    }
}

TDateTime TSMS::GetTimeStamp() const {
    if (FIsSubmit) return 0;
    const std::string_view digits =
        Field(FPdu, static_cast<size_t>(FFirstOctetPos + FAddressDigits + 9), 12);
    if (digits.size() != 12) return 0;
    const std::string swapped = SwapSemiOctets(digits);
    int v[6] = {};
    for (size_t i = 0; i < 6; ++i)
        if (!TwoDecimalDigits(swapped, 2 * i, v[i])) return 0;
    TDateTime date = 0, time = 0;
    if (!TryEncodeDate(2000 + v[0], v[1], v[2], date) || !TryEncodeTime(v[3], v[4], v[5], 0, time))
        return 0;
    return date + time;
}

namespace {

// The first concatenation element of a header (UDHL octet included), with an
// 8-bit or a 16-bit reference; false when there is none or it is not whole.
bool FindConcatElement(const std::string& header, TConcatInfo& info) {
    int udhl = 0;
    if (!TryReadOctet(header, 0, udhl)) return false;
    for (size_t pos = 2; pos / 2 <= static_cast<size_t>(udhl);) {
        int iei = 0, iel = 0;
        if (!TryReadOctet(header, pos, iei) || !TryReadOctet(header, pos + 2, iel)) return false;
        const size_t data = pos + 4;
        const int refOctets = iei == IeiConcat8Bit ? 1 : iei == IeiConcat16Bit ? 2 : 0;
        if (refOctets > 0) {
            int ref0 = 0, ref1 = 0, total = 0, part = 0;
            if (iel != refOctets + 2 || !TryReadOctet(header, data, ref0) ||
                (refOctets == 2 && !TryReadOctet(header, data + 2, ref1)) ||
                !TryReadOctet(header, data + 2 * refOctets, total) ||
                !TryReadOctet(header, data + 2 * refOctets + 2, part))
                return false;
            info.Reference = refOctets == 2 ? ref0 << 8 | ref1 : ref0;
            info.Total = total;
            info.Part = part;
            return true;
        }
        pos = data + 2 * static_cast<size_t>(iel);
    }
    return false;
}

}  // namespace

TConcatInfo DecodeConcatInfo(std::string_view pdu, TMessageSink sink) {
    TSMS sms(std::move(sink));
    sms.ParsePdu(pdu);
    sms.GetText();
    TConcatInfo info;
    if (!FindConcatElement(sms.Header(), info)) info = TConcatInfo{};
    return info;
}

std::u16string NormaliseLineBreaks(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c != u'\r' && c != u'\n') {
            out += c;
            continue;
        }
        const char16_t pair = c == u'\r' ? u'\n' : u'\r';
        if (i + 1 < text.size() && text[i + 1] == pair) ++i;
        out += u"\r\n";
    }
    return out;
}

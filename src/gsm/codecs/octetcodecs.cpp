#include "gsm/codecs/octetcodecs.h"

#include <cstdio>

#include "gsm/codecs/gsmerrors.h"
#include "gsm/codecs/hex.h"

std::string TextTo8BitHex(std::u16string_view text) {
    std::string hex(text.size() * 2, '0');
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] > 0xFF) throw EGsmCodecError("Unable to use 8bit encoding!");
        PutHex(&hex[2 * i], text[i], 2);
    }
    return hex;
}

namespace {

std::vector<uint8_t> HexToOctets(std::string_view hex) {
    std::vector<uint8_t> octets;
    octets.reserve(hex.size() / 2);
    for (size_t pos = 0; pos + 1 < hex.size(); pos += 2)
        octets.push_back(static_cast<uint8_t>(ReadOctet(hex, pos)));
    return octets;
}

}  // namespace

std::u16string Hex8BitToText(std::string_view hex) {
    std::string padded(hex);
    if (padded.size() % 2 != 0) padded += '0';
    std::u16string text;
    for (const uint8_t octet : HexToOctets(padded)) text += static_cast<char16_t>(octet);
    return text;
}

std::string TextToUcs2Hex(std::u16string_view text) {
    std::string hex(text.size() * 4, '0');
    for (size_t i = 0; i < text.size(); ++i) PutHex(&hex[4 * i], text[i], 4);
    return hex;
}

std::u16string Ucs2HexToText(std::string_view hex) {
    std::string padded(hex);
    while (padded.size() % 4 != 0) padded += '0';
    return TUCS2Codec().Decode(HexToOctets(padded));
}

char16_t TCustomUnicodeCodec::Refuse(const std::string& message) const {
    if (ErrorAction == TCodecErrorAction::Raise) throw EUnicodeCodecException(message);
    return ReplacementChar;
}

namespace {

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

std::string SurrogateMessage(char16_t unit) {
    char message[160];
    std::snprintf(message, sizeof message,
                  "Surrogate value $%x found in %s. Values between $D800 and $DFFF are "
                  "reserved for use with UTF-16",
                  static_cast<unsigned>(unit), "UCS-2");
    return message;
}

}  // namespace

// Phones send characters outside the 16-bit range (emoji) as surrogate pairs
// in UCS-2 messages; only a half without its partner is refused.
std::u16string TUCS2Codec::Decode(const std::vector<uint8_t>& octets) const {
    std::u16string text;
    text.reserve(octets.size() / 2);
    const size_t units = octets.size() / 2;
    auto unitAt = [&](size_t i) {
        return static_cast<char16_t>((octets[2 * i] << 8) | octets[2 * i + 1]);
    };
    for (size_t i = 0; i < units; ++i) {
        const char16_t unit = unitAt(i);
        if (IsHighSurrogate(unit) && i + 1 < units && IsLowSurrogate(unitAt(i + 1))) {
            text += unit;
            text += unitAt(++i);
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            text += Refuse(SurrogateMessage(unit));
        } else {
            text += unit;
        }
    }
    return text;
}

#include "gsm/octetcodecs.h"

#include <cstdio>

#include "gsm/gsmerrors.h"
#include "gsm/hex.h"

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

std::u16string TUCS2Codec::Decode(const std::vector<uint8_t>& octets) const {
    std::u16string text;
    text.reserve(octets.size() / 2);
    for (size_t i = 0; i + 1 < octets.size(); i += 2) {
        const auto unit = static_cast<char16_t>((octets[i] << 8) | octets[i + 1]);
        if (unit >= 0xD800 && unit <= 0xDFFF) {
            char message[160];
            std::snprintf(message, sizeof message,
                          "Surrogate value $%x found in %s. Values between $D800 and $DFFF are "
                          "reserved for use with UTF-16",
                          static_cast<unsigned>(unit), "UCS-2");
            text += Refuse(message);
        } else {
            text += unit;
        }
    }
    return text;
}

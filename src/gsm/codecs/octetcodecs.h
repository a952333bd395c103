// 8-bit data and UCS-2 text codecs: one octet or one big-endian code unit per character.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Raises EGsmCodecError "Unable to use 8bit encoding!" for a character above U+00FF.
std::string TextTo8BitHex(std::u16string_view text);
// An odd length is padded with one '0'; raises EConvertError on non-hex digits.
std::u16string Hex8BitToText(std::string_view hex);
// Four digits per code unit; surrogates pass unchecked.
std::string TextToUcs2Hex(std::u16string_view text);
// Padded with '0' to whole code units; raises EConvertError on non-hex digits
// and EUnicodeCodecException on a surrogate that is not half of a pair.
std::u16string Ucs2HexToText(std::string_view hex);

enum class TCodecErrorAction { Raise, Replace };

// Decodes octet buffers into 16-bit text. Line feeds always pass through: no
// caller here asks for another line-feed treatment.
class TCustomUnicodeCodec {
public:
    virtual ~TCustomUnicodeCodec() = default;

    TCodecErrorAction ErrorAction = TCodecErrorAction::Raise;
    char16_t ReplacementChar = 0xFFFD;

    virtual std::u16string Decode(const std::vector<uint8_t>& octets) const = 0;

protected:
    // Raises or gives the replacement character, by ErrorAction.
    char16_t Refuse(const std::string& message) const;
};

class TUCS2Codec : public TCustomUnicodeCodec {
public:
    // Big-endian code units; a final odd octet is ignored.
    std::u16string Decode(const std::vector<uint8_t>& octets) const override;
};

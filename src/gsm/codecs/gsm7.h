// The GSM 7-bit default alphabet with its extension table, and 7-bit packing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

enum TSmsCoding { scGsm7 = 0, sc8Bit = 1, scUcs2 = 2, scAuto = 3 };

constexpr unsigned char GsmEscape = 0x1B;

// Indexed by septet. Entry 0x1B holds U+001B, the escape code itself.
extern const char16_t GsmAlphabet[128];

struct TGsmExtension {
    char16_t Character;
    unsigned char Septet;  // the septet after the escape septet
};
extern const TGsmExtension GsmExtensions[10];

// Septet of a character in the main table, -1 when it has none.
int GsmSeptetOf(char16_t c);
// Second septet of an extension character, -1 when it is not one.
int GsmExtensionSeptetOf(char16_t c);
// Character of an extension septet, 0 when the septet names none.
char16_t GsmExtensionCharOf(unsigned septet);

// The cheapest coding that carries every character of the text.
TSmsCoding ClassifyText(std::u16string_view text);

// One septet (0..127) per byte; extension characters take two, others become 0x1B 0x3F.
std::string TextToGsm7(std::u16string_view text);
// Septets packed into octets, as upper-case hex.
std::string PackGsm7(std::string_view septets);
// Septets of packed hex; stops at the first octet that is not hex. A zero
// septet carried out of the last octet is taken for fill bits and dropped.
std::string UnpackGsm7(std::string_view hex);
// As UnpackGsm7 when the caller knows how many septets there are: it yields
// at most `count` septets and keeps a final zero septet that the count claims.
std::string UnpackGsm7Septets(std::string_view hex, size_t count);

// Packed hex of the text; septetCount receives the length of TextToGsm7's result.
std::string TextToGsm7Hex(std::u16string_view text, size_t* septetCount = nullptr);
// Unpacks and decodes, reading a run of 0x00 septets that reaches the end of
// the data (or an escaped form feed) as one U+0000.
std::u16string Gsm7HexToText(std::string_view hex);
// Decodes septets whose count is exact: every 0x00 is a commercial at.
std::u16string Gsm7SeptetsToText(std::string_view septets);

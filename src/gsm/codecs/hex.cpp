#include "gsm/codecs/hex.h"

#include <iterator>

#include "gsm/codecs/gsmerrors.h"

bool IsHexDigit(char c) { return HexDigitValue(c) >= 0; }

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool TryReadOctet(std::string_view hex, size_t pos, int& value) {
    if (pos >= hex.size() || hex.size() - pos < 2) return false;
    const int high = HexDigitValue(hex[pos]);
    const int low = HexDigitValue(hex[pos + 1]);
    if (high < 0 || low < 0) return false;
    value = high * 16 + low;
    return true;
}

int ReadOctet(std::string_view hex, size_t pos) {
    int value = 0;
    if (!TryReadOctet(hex, pos, value))
        throw EConvertError("'" + std::string(Field(hex, pos, 2)) + "' is not a valid hex octet");
    return value;
}

namespace {
constexpr char DigitChars[] = "0123456789ABCDEF";
}

std::string HexOctet(unsigned value) {
    return {DigitChars[(value >> 4) & 0xF], DigitChars[value & 0xF]};
}

void PutHex(char* out, unsigned value, int digits) {
    for (int i = digits - 1; i >= 0; --i, value >>= 4) out[i] = DigitChars[value & 0xF];
}

std::string IntToHex(unsigned value, int digits) {
    char buf[16];
    int n = 0;
    do {
        buf[n++] = DigitChars[value & 0xF];
        value >>= 4;
    } while (value != 0);
    while (n < digits && n < 16) buf[n++] = '0';
    return std::string(std::make_reverse_iterator(buf + n), std::make_reverse_iterator(buf));
}

std::string_view Field(std::string_view s, size_t pos, size_t count) {
    if (pos >= s.size()) return {};
    return s.substr(pos, count);
}

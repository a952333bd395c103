#include "gsm/codecs/address.h"

#include "gsm/codecs/gsmerrors.h"
#include "gsm/codecs/hex.h"

std::string SwapSemiOctets(std::string_view hex) {
    std::string out(hex);
    for (size_t i = 0; i + 1 < out.size(); i += 2) std::swap(out[i], out[i + 1]);
    return out;
}

namespace {

constexpr size_t MaxAddressDigits = 20;  // TP-DA: ten octets of semi-octets

// People write numbers with blanks and separators; an address carries none of them.
bool IsSeparator(char c) {
    return c == ' ' || c == '\t' || c == '-' || c == '.' || c == '(' || c == ')' || c == '/';
}

// A digit, or '*' and '#' as the semi-octets A and B; 0 for anything else.
char SemiOctetOf(char c) {
    if (c >= '0' && c <= '9') return c;
    return c == '*' ? 'A' : c == '#' ? 'B' : 0;
}

}  // namespace

std::string EncodeAddress(const std::string& number) {
    std::string digits;
    bool international = false;
    for (const char c : number) {
        if (IsSeparator(c)) continue;
        if (c == '+' && digits.empty() && !international) {
            international = true;
            continue;
        }
        const char semiOctet = SemiOctetOf(c);
        if (semiOctet == 0)
            throw EGsmCodecError("Destination number \"" + number +
                                 "\" holds a character other than digits, *, # and a leading +");
        digits += semiOctet;
    }
    // "", "+", "-" or blanks would submit a message to nobody.
    if (digits.empty()) throw EGsmCodecError("Destination number \"" + number + "\" has no digits");
    if (digits.size() > MaxAddressDigits)
        throw EGsmCodecError("Destination number \"" + number + "\" has more than 20 digits");
    const size_t count = digits.size();
    if (count % 2 != 0) digits += 'F';
    return IntToHex(static_cast<unsigned>(count), 2) + (international ? "91" : "81") +
           SwapSemiOctets(digits);
}

std::string SemiOctetsToNumber(std::string_view semiOctets) {
    std::string number = SwapSemiOctets(semiOctets);
    if (!number.empty() && number.back() == 'F') number.pop_back();
    return number;
}

#include "gsm/address.h"

#include "gsm/hex.h"

std::string SwapSemiOctets(std::string_view hex) {
    std::string out(hex);
    for (size_t i = 0; i + 1 < out.size(); i += 2) std::swap(out[i], out[i + 1]);
    return out;
}

std::string EncodeAddress(const std::string& number) {
    const bool international = !number.empty() && number[0] == '+';
    std::string digits = international ? number.substr(1) : number;
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

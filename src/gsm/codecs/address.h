// Semi-octet numbers: the service centre and the TP-DA/TP-OA address fields.
#pragma once

#include <string>
#include <string_view>

// Each pair of characters swapped; a last odd character stays where it is.
std::string SwapSemiOctets(std::string_view hex);
// Digit count, type (91 international when the number begins with '+', else 81)
// and the digits filled with 'F' to an even count, pairwise swapped. Blanks and
// the separators - . ( ) / are dropped; '*' and '#' are the semi-octets A and B.
// Raises EGsmCodecError for any other character, or for more than 20 digits.
std::string EncodeAddress(const std::string& number);
// Swapped semi-octets back to digits, with the 'F' filler dropped.
std::string SemiOctetsToNumber(std::string_view semiOctets);

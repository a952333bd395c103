// Hex text as the PDUs carry it: two upper-case digits per octet, high nibble first.
#pragma once

#include <string>
#include <string_view>

// Upper case only: modems write upper-case hex, and every codec here shares one rule.
bool IsHexDigit(char c);
int HexDigitValue(char c);  // -1 when c is not an upper-case hex digit

// The octet whose two digits start at index pos; false when they are missing or not hex.
bool TryReadOctet(std::string_view hex, size_t pos, int& value);
// As TryReadOctet, raising EConvertError instead.
int ReadOctet(std::string_view hex, size_t pos);

// Two digits of the low eight bits of value.
std::string HexOctet(unsigned value);
// Writes `digits` digits of value at out (no terminator); for the codecs' inner loops.
void PutHex(char* out, unsigned value, int digits);
// At least `digits` digits of a non-negative value (more when it needs them).
std::string IntToHex(unsigned value, int digits);

// Copy of at most count characters from pos, empty when pos is past the end:
// PDU fields cut short by the data read as shorter fields, never out of bounds.
std::string_view Field(std::string_view s, size_t pos, size_t count);

// The line as it goes on the wire, and the number reading its settings use: plain C++ that
// the link thread, the com-port component and the framing fuzzer share.
#pragma once

#include <string>

// The toolkit's StrToInt: optional sign, decimal digits, nothing else; false otherwise.
bool StrToIntChecked(const std::string& text, long long& value);
int StrToIntOr(const std::string& text, int fallback);

// The line before its CR: the optional checksum frame ("$#" sum "@" line), then the optional
// RS-485 address byte in front (255 for a general call, else rs485adr, 16 when no number).
std::string FrameLine(const std::string& line, bool general, bool useCRC, bool useRS485,
                      const std::string& rs485adr);

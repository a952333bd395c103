// Small text helpers of the modem report dispatch.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dispatchtext {

// Lines split at CR, LF or CR LF, trimmed of blanks; empty lines are left out.
std::vector<std::string_view> SplitLines(std::string_view text);
std::string_view Trim(std::string_view s);
bool StartsWith(std::string_view s, std::string_view prefix);
// A whole decimal number (blanks around it allowed) that fits an int.
std::optional<int> ParseInt(std::string_view s);
// A PDU line: hex digits only, at least one octet.
bool IsHexLine(std::string_view s);
// Lower case for ASCII and the Latin letters of Latin-1 and Latin Extended-A.
std::string LowerText(std::string_view utf8);
bool EqualNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view s, std::string_view prefix);
// Comma-separated fields; a field that begins with a double quote runs to its closing
// quote, keeps its commas and loses its quotes ("" inside stands for one quote); other
// fields are trimmed of blanks.
std::vector<std::string> SplitFields(std::string_view s);

}  // namespace dispatchtext

// Phone-book lines: +CPBR: <index>,"<number>",<type>,"<name>"
#include <algorithm>
#include <exception>

#include "gsm/modemdispatch.h"
#include "gsm/modemdispatch_text.h"
#include "gsm/codecs/octetcodecs.h"
#include "gsm/codecs/utf.h"

using namespace dispatchtext;

namespace {

// A name in UCS-2 hex, or as it came when the modem gave it in another character set.
std::string PhoneBookName(const std::string& name, bool ucs2) {
    if (!ucs2 || name.size() % 4 != 0 || !IsHexLine(name)) return name;
    std::string upper = name;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 0x20) : c; });
    try {
        return Utf16ToUtf8(Ucs2HexToText(upper));
    } catch (const std::exception&) {
        return name;
    }
}

std::string_view AfterFirstSpace(std::string_view line) {
    const size_t space = line.find(' ');
    return space == std::string_view::npos ? line.substr(line.find(':') + 1)
                                           : line.substr(space + 1);
}

}  // namespace

void TModemDispatch::PhoneBook(const TLines& lines, const TDispatchSettings& s) {
    bool any = false;
    for (const std::string_view line : lines) {
        if (!StartsWith(line, "+CPBR:")) continue;
        const std::vector<std::string> f = SplitFields(AfterFirstSpace(line));
        if (StartsWith(f[0], "(")) continue;  // the ranges of "AT+CPBR=?", not an entry
        const std::string number = f.size() > 1 ? f[1] : "";
        const std::string name = f.size() > 3 ? PhoneBookName(f[3], s.PhoneBookUcs2) : "";
        FTarget.AddPhoneBookLine(f[0] + ";" + number + ";" + name);
        any = true;
    }
    if (any && FInPiece) {
        FPhoneBookPending = true;
    } else if (any || FPhoneBookPending) {
        FPhoneBookPending = false;
        FTarget.RaiseGetPhoneBook();
    }
}

#include "gsm/modemdispatch_text.h"

#include <climits>

#include "gsm/codecs/utf.h"

namespace dispatchtext {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char16_t LowerChar(char16_t c) {
    if (c >= u'A' && c <= u'Z') return c + 0x20;
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
    if (c >= 0x100 && c <= 0x17F) {
        // Latin Extended-A pairs capital and small letters; the pairs start on an
        // even code point except in 0139-0148 and 0179-017E.
        const bool oddCapitals = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        const bool unpaired = c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F;
        if (!unpaired && (c % 2 == 1) == oddCapitals) return c + 1;
    }
    return c;
}

}  // namespace

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '\r' && text[i] != '\n') continue;
        const std::string_view line = Trim(text.substr(start, i - start));
        if (!line.empty()) lines.push_back(line);
        start = i + 1;
    }
    return lines;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

std::optional<int> ParseInt(std::string_view s) {
    s = Trim(s);
    bool negative = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    if (s.empty() || s.size() > 10) return std::nullopt;
    long long value = 0;
    for (const char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (negative) value = -value;
    if (value > INT_MAX || value < INT_MIN) return std::nullopt;
    return static_cast<int>(value);
}

bool IsHexLine(std::string_view s) {
    if (s.size() < 2) return false;
    for (const char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

std::string LowerText(std::string_view utf8) {
    bool ascii = true;
    for (const char c : utf8) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        std::string out(utf8);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 0x20);
        return out;
    }
    std::u16string wide = Utf8ToUtf16(utf8);
    for (char16_t& c : wide) c = LowerChar(c);
    return Utf16ToUtf8(wide);
}

bool EqualNoCase(std::string_view a, std::string_view b) { return LowerText(a) == LowerText(b); }

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    const std::string lowPrefix = LowerText(prefix);
    return StartsWith(LowerText(s), lowPrefix);
}

std::vector<std::string> SplitFields(std::string_view s) {
    std::vector<std::string> fields;
    size_t i = 0;
    while (true) {
        while (i < s.size() && IsBlank(s[i])) ++i;
        std::string field;
        if (i < s.size() && s[i] == '"') {
            for (++i; i < s.size(); ++i) {
                if (s[i] != '"') {
                    field += s[i];
                } else if (i + 1 < s.size() && s[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    ++i;
                    break;
                }
            }
            while (i < s.size() && s[i] != ',') ++i;  // anything after the closing quote
        } else {
            const size_t comma = s.find(',', i);
            const size_t end = comma == std::string_view::npos ? s.size() : comma;
            field = Trim(s.substr(i, end - i));
            i = end;
        }
        fields.push_back(std::move(field));
        if (i >= s.size()) break;
        ++i;  // the comma
    }
    return fields;
}

}  // namespace dispatchtext

#include "platform/locale_formats.h"

#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <cstdlib>

#include "platform/linux/format_overrides.h"

namespace {

const char* Conversion(char c) {
    switch (c) {
        case 'Y':
            return "yyyy";
        case 'y':
            return "yy";
        case 'm':
            return "MM";
        case 'd':
            return "dd";
        case 'e':
            return "d";
        case 'H':
            return "HH";
        case 'k':
            return "H";
        case 'I':
            return "hh";
        case 'l':
            return "h";
        case 'M':
            return "mm";
        case 'S':
            return "ss";
        case 'p':
            return "AP";
        case 'P':
            return "ap";
        case 'D':
            return "MM/dd/yy";
        case 'F':
            return "yyyy-MM-dd";
        case 'T':
            return "HH:mm:ss";
        case 'R':
            return "HH:mm";
        case 'r':
            return "hh:mm:ss AP";
        default:
            return nullptr;
    }
}

// Literal letters would be read as format letters: quote them.
void AppendLiteral(std::string& out, char c) {
    if (std::isalpha(static_cast<unsigned char>(c))) {
        out += '\'';
        out += c;
        out += '\'';
    } else if (c == '\'') {
        out += "''";
    } else {
        out += c;
    }
}

std::string LocaleItem(nl_item item, const char* fallback) {
    locale_t loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr)) return fallback;
    std::string s = nl_langinfo_l(item, loc);
    freelocale(loc);
    return s.empty() ? fallback : s;
}

std::string FromEnvironment(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

}  // namespace

std::string StrftimeToToolkitFormat(const std::string& pattern) {
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%' || i + 1 >= pattern.size()) {
            AppendLiteral(out, pattern[i]);
            continue;
        }
        char c = pattern[++i];
        // Flags and the E and O modifiers do not change the numeric form here.
        while ((c == 'E' || c == 'O' || c == '-' || c == '_' || c == '0' || c == '^' || c == '#') &&
               i + 1 < pattern.size())
            c = pattern[++i];
        if (c == '%') {
            out += '%';
        } else if (const char* conv = Conversion(c)) {
            out += conv;
        }
    }
    return out;
}

std::string ShortDateFormat() {
    const std::string over = FromEnvironment(DateFormatVariable);
    if (!over.empty()) return over;
    return StrftimeToToolkitFormat(LocaleItem(D_FMT, "%m/%d/%y"));
}

std::string LongTimeFormat() {
    const std::string over = FromEnvironment(TimeFormatVariable);
    if (!over.empty()) return over;
    return StrftimeToToolkitFormat(LocaleItem(T_FMT, "%H:%M:%S"));
}

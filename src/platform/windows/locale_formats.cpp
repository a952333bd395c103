// The user's short-date and long-time formats from the locale (GetLocaleInfoEx).
#include "platform/locale_formats.h"

#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "platform/windows/locale_formats.h"
#include "platform/windows/wide_text.h"

namespace {

// Literal text in the toolkit's form: letters inside one pair of quotes, so that they are
// not read as format letters; a quote itself as two quotes outside them.
class TLiteralWriter {
public:
    explicit TLiteralWriter(std::string& out) : FOut(out) {}
    ~TLiteralWriter() { Close(); }
    TLiteralWriter(const TLiteralWriter&) = delete;
    TLiteralWriter& operator=(const TLiteralWriter&) = delete;

    void Put(char c) {
        if (std::isalpha(static_cast<unsigned char>(c))) {
            if (!FOpen) FOut += '\'';
            FOpen = true;
            FOut += c;
            return;
        }
        Close();
        if (c == '\'')
            FOut += "''";
        else
            FOut += c;
    }
    void Close() {
        if (FOpen) FOut += '\'';
        FOpen = false;
    }

private:
    std::string& FOut;
    bool FOpen = false;
};

// One run of the same picture letter, as the toolkit writes it; empty to leave it out.
std::string Element(char c, size_t n) {
    switch (c) {
        case 'd':
            return n == 1 ? "d" : n == 2 ? "dd" : "";  // ddd, dddd: day names
        case 'M':
            return n == 1 ? "M" : n == 2 ? "MM" : "";  // MMM, MMMM: month names
        case 'y':
            return n <= 2 ? "yy" : "yyyy";
        case 'h':
        case 'H':
        case 'm':
        case 's':
            return std::string(n >= 2 ? 2 : 1, c);
        case 't':
            return "AP";
        case 'g':
            return "";  // the era
        default:
            return std::string();
    }
}

std::string LocaleItem(LCTYPE item, const char* fallback) {
    wchar_t buffer[128];
    const int n = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, item, buffer, 128);
    if (n <= 0) return fallback;
    const std::string text = WideToUtf8(buffer, static_cast<size_t>(n));
    return text.empty() ? fallback : text;
}

std::string FromEnvironment(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

}  // namespace

std::string WindowsPictureToToolkitFormat(const std::string& picture) {
    std::string out;
    TLiteralWriter literal(out);
    for (size_t i = 0; i < picture.size();) {
        const char c = picture[i];
        if (c == '\'') {
            size_t j = i + 1;
            if (j < picture.size() && picture[j] == '\'') {  // '' is one quote
                literal.Put('\'');
                i = j + 1;
                continue;
            }
            for (; j < picture.size() && picture[j] != '\''; ++j) literal.Put(picture[j]);
            i = j + 1;
            continue;
        }
        size_t n = 1;
        while (i + n < picture.size() && picture[i + n] == c) ++n;
        if (std::strchr("dMyhHmstg", c) && c != '\0') {
            literal.Close();
            out += Element(c, n);
        } else {
            for (size_t k = 0; k < n; ++k) literal.Put(c);
        }
        i += n;
    }
    literal.Close();
    return out;
}

std::string ShortDateFormat() {
    const std::string over = FromEnvironment("TIKTAAL_DATE_FORMAT");
    if (!over.empty()) return over;
    return WindowsPictureToToolkitFormat(LocaleItem(LOCALE_SSHORTDATE, "M/d/yyyy"));
}

std::string LongTimeFormat() {
    const std::string over = FromEnvironment("TIKTAAL_TIME_FORMAT");
    if (!over.empty()) return over;
    return WindowsPictureToToolkitFormat(LocaleItem(LOCALE_STIMEFORMAT, "HH:mm:ss"));
}

#include "timesync/datetime_parser.h"

#include <cctype>
#include <cstdint>

namespace {

enum class TDateOrder { DMY, MDY, YMD };

TDateOrder OrderOf(const std::string& format) {
    for (char c : format) {
        const char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (u == 'D') return TDateOrder::DMY;
        if (u == 'M') return TDateOrder::MDY;
        if (u == 'Y') return TDateOrder::YMD;
    }
    return TDateOrder::YMD;
}

// The first character of a format that is not a letter, a quote or a blank.
char SeparatorOf(const std::string& format, char fallback) {
    for (char c : format)
        if (!std::isalpha(static_cast<unsigned char>(c)) && c != '\'' && c != ' ') return c;
    return fallback;
}

class TScanner {
public:
    explicit TScanner(const std::string& t) : FText(t) {}
    void SkipBlanks() {
        while (FPos < FText.size() && FText[FPos] == ' ') ++FPos;
    }
    bool AtEnd() const { return FPos >= FText.size(); }
    size_t Position() const { return FPos; }
    // A decimal separator ('.' or the ',' of many locales) only when a digit follows.
    bool TakeDecimalSeparator() {
        if (FPos + 1 < FText.size() && (FText[FPos] == '.' || FText[FPos] == ',') &&
            std::isdigit(static_cast<unsigned char>(FText[FPos + 1]))) {
            ++FPos;
            return true;
        }
        return false;
    }
    bool Take(char c) {
        if (FPos < FText.size() && FText[FPos] == c) {
            ++FPos;
            return true;
        }
        return false;
    }
    // Up to maxDigits decimal digits; the count read goes to digits.
    bool Number(int& value, int& digits, int maxDigits = 4) {
        value = 0;
        digits = 0;
        while (FPos < FText.size() && std::isdigit(static_cast<unsigned char>(FText[FPos])) &&
               digits < maxDigits) {
            value = value * 10 + (FText[FPos++] - '0');
            ++digits;
        }
        return digits > 0;
    }
    // AM or PM in any case; 0 none, 1 AM, 2 PM.
    int AmPm() {
        if (FPos + 1 < FText.size()) {
            const char a = static_cast<char>(std::toupper(static_cast<unsigned char>(FText[FPos])));
            const char m =
                static_cast<char>(std::toupper(static_cast<unsigned char>(FText[FPos + 1])));
            if ((a == 'A' || a == 'P') && m == 'M') {
                FPos += 2;
                return a == 'A' ? 1 : 2;
            }
        }
        return 0;
    }

private:
    const std::string& FText;
    size_t FPos = 0;
};

int CompleteYear(int year, int digits, int currentYear) {
    if (year > 99 || digits > 2) return year;
    const int base = currentYear - 50;
    year += base / 100 * 100;
    if (year < base) year += 100;
    return year;
}

bool ScanDate(TScanner& s, const TDateTimeFormats& f, TDateTime today, TDateTime& date) {
    const char sep = SeparatorOf(f.ShortDate, '-');
    int n[3] = {0, 0, 0};
    int digits[3] = {0, 0, 0};
    int count = 0;
    while (count < 3) {
        if (!s.Number(n[count], digits[count])) return false;
        ++count;
        if (count == 3 || !s.Take(sep)) break;
    }
    if (count < 2) return false;
    const int currentYear = DecodeDate(today).Year;
    int y = currentYear, m = 0, d = 0, yDigits = 4;
    const TDateOrder order = OrderOf(f.ShortDate);
    if (count == 2) {
        if (order == TDateOrder::DMY) {
            d = n[0];
            m = n[1];
        } else {
            m = n[0];
            d = n[1];
        }
    } else if (order == TDateOrder::DMY) {
        d = n[0], m = n[1], y = n[2], yDigits = digits[2];
    } else if (order == TDateOrder::MDY) {
        m = n[0], d = n[1], y = n[2], yDigits = digits[2];
    } else {
        y = n[0], yDigits = digits[0], m = n[1], d = n[2];
    }
    y = CompleteYear(y, yDigits, currentYear);
    return TryEncodeDate(y, m, d, date);
}

// Up to nine fraction digits, kept exactly; more are read and dropped.
void ScanFraction(TScanner& s, TParsedDateTime& out) {
    int value = 0, digits = 0;
    s.Number(value, digits, 9);
    int64_t ns = value;
    for (int i = digits; i < 9; ++i) ns *= 10;
    out.FractionNs = ns;
    out.FractionDigits = digits;
    int ignored = 0;
    while (s.Number(value, ignored, 9)) {
    }
}

bool ScanTime(TScanner& s, const TDateTimeFormats& f, bool requireSeconds, TDateTime& time,
              TParsedDateTime& out) {
    const char sep = SeparatorOf(f.LongTime, ':');
    int ampm = s.AmPm();
    if (ampm) s.SkipBlanks();
    int h = 0, mi = 0, sec = 0, digits = 0;
    if (!s.Number(h, digits, 2)) return false;
    bool haveSeconds = false;
    if (s.Take(sep)) {
        if (!s.Number(mi, digits, 2)) return false;
        if (s.Take(sep)) {
            if (!s.Number(sec, digits, 2)) return false;
            haveSeconds = true;
            if (s.TakeDecimalSeparator()) ScanFraction(s, out);
        }
    }
    if (requireSeconds && !haveSeconds) return false;
    out.End = s.Position();
    if (!ampm) {
        s.SkipBlanks();
        ampm = s.AmPm();
        if (ampm) out.End = s.Position();
    }
    if (ampm) {
        if (h < 1 || h > 12) return false;
        h = h % 12 + (ampm == 2 ? 12 : 0);
    }
    return TryEncodeTime(h, mi, sec, 0, time);
}

}  // namespace

bool ParseLocalDateTime(const std::string& text, const TDateTimeFormats& formats, TDateTime today,
                        TParsedDateTime& result, bool requireSeconds) {
    TScanner s(text);
    s.SkipBlanks();
    TParsedDateTime out;
    TDateTime date = 0;
    if (!ScanDate(s, formats, today, date)) return false;
    out.End = s.Position();
    s.SkipBlanks();
    TDateTime time = 0;
    if (s.AtEnd() ? requireSeconds : !ScanTime(s, formats, requireSeconds, time, out)) return false;
    out.WholeSecond = date + time;
    result = out;
    return true;
}

bool TryParseLocalDateTime(const std::string& text, const TDateTimeFormats& formats,
                           TDateTime today, TDateTime& result, bool requireSeconds) {
    TParsedDateTime parsed;
    if (!ParseLocalDateTime(text, formats, today, parsed, requireSeconds)) return false;
    result = parsed.WholeSecond + static_cast<double>(parsed.FractionNs) / 1e9 / SecsPerDay;
    return true;
}

#include "app/board_replies.h"

#include <cstdio>
#include <ctime>
#include <regex>
#include <vector>

std::string EscapeReply(const std::string& line, size_t limit) {
    std::string out;
    for (unsigned char c : line) {
        std::string piece;
        if (c == '\\')
            piece = "\\\\";
        else if (c == '\r')
            piece = "\\r";
        else if (c == '\n')
            piece = "\\n";
        else if (c == '\t')
            piece = "\\t";
        else if (c < 0x20 || c > 0x7E) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            piece = buf;
        } else {
            piece = std::string(1, static_cast<char>(c));
        }
        if (out.size() + piece.size() > limit) {
            out.resize(limit >= 3 ? limit - 3 : 0);
            return out + "...";
        }
        out += piece;
    }
    return out;
}

std::optional<std::string> TReplyRateLimit::Admit(const std::string& text, int64_t nowMs) {
    while (!FRecent.empty() && nowMs - FRecent.front() >= 1000) FRecent.pop_front();
    if (static_cast<int>(FRecent.size()) >= FPerSecond) {
        ++FHeldBack;
        return std::nullopt;
    }
    FRecent.push_back(nowMs);
    if (FHeldBack == 0) return text;
    const std::string note = " (" + std::to_string(FHeldBack) + " more not shown)";
    FHeldBack = 0;
    return text + note;
}

namespace {

// Which field each capture group of the pattern fills.
enum TField { fYear4, fYear2, fMonth, fDay, fHour, fHour12, fMinute, fSecond, fMilli, fAmPm };

struct TPattern {
    std::string Regex;
    std::vector<TField> Groups;
};

bool StartsWith(const std::string& s, size_t i, const char* token) {
    return s.compare(i, std::char_traits<char>::length(token), token) == 0;
}

std::string Quoted(char c) {
    static const std::string special = R"(\^$.|?*+()[]{})";
    return special.find(c) != std::string::npos ? std::string("\\") + c : std::string(1, c);
}

// The toolkit's format letters as a pattern; longest letters first, as the formatter reads.
void AddFormat(const std::string& f, TPattern& p) {
    struct TToken {
        const char* Letters;
        const char* Regex;
        TField Field;
    };
    static const TToken tokens[] = {
        {"yyyy", "(\\d{4})", fYear4}, {"yy", "(\\d{2})", fYear2},   {"MM", "(\\d{2})", fMonth},
        {"M", "(\\d{1,2})", fMonth},  {"dd", "(\\d{2})", fDay},     {"d", "(\\d{1,2})", fDay},
        {"HH", "(\\d{2})", fHour},    {"H", "(\\d{1,2})", fHour},   {"hh", "(\\d{2})", fHour12},
        {"h", "(\\d{1,2})", fHour12}, {"mm", "(\\d{2})", fMinute},  {"m", "(\\d{1,2})", fMinute},
        {"ss", "(\\d{2})", fSecond},  {"s", "(\\d{1,2})", fSecond}, {"zzz", "(\\d{3})", fMilli},
        {"z", "(\\d{1,3})", fMilli},  {"AP", "(AM|PM)", fAmPm},     {"ap", "(am|pm)", fAmPm},
    };
    for (size_t i = 0; i < f.size();) {
        if (f[i] == '\'') {
            size_t j = i + 1;
            for (; j < f.size() && f[j] != '\''; ++j) p.Regex += Quoted(f[j]);
            if (j == i + 1 && j < f.size()) p.Regex += "'";
            i = j + 1;
            continue;
        }
        bool matched = false;
        for (const TToken& t : tokens) {
            if (!StartsWith(f, i, t.Letters)) continue;
            p.Regex += t.Regex;
            p.Groups.push_back(t.Field);
            i += std::char_traits<char>::length(t.Letters);
            matched = true;
            break;
        }
        if (!matched) p.Regex += Quoted(f[i++]);
    }
}

struct TFields {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, Milli = 0;
    bool Pm = false, Hour12 = false, HasMilli = false;
};

void Store(TField field, const std::string& text, TFields& v) {
    if (field == fAmPm) {
        v.Pm = text == "PM" || text == "pm";
        return;
    }
    const int n = std::stoi(text);
    switch (field) {
        case fYear4:
            v.Year = n;
            break;
        case fYear2:
            v.Year = 2000 + n;
            break;
        case fMonth:
            v.Month = n;
            break;
        case fDay:
            v.Day = n;
            break;
        case fHour:
            v.Hour = n;
            break;
        case fHour12:
            v.Hour = n % 12;
            v.Hour12 = true;
            break;
        case fMinute:
            v.Minute = n;
            break;
        case fSecond:
            v.Second = n;
            break;
        case fMilli:
            v.Milli = n;
            v.HasMilli = true;
            break;
        case fAmPm:
            break;
    }
}

std::optional<int64_t> LocalToUnixMs(const TFields& v) {
    if (v.Month < 1 || v.Month > 12 || v.Day < 1 || v.Day > 31 || v.Hour > 23 || v.Minute > 59 ||
        v.Second > 60)
        return std::nullopt;
    std::tm t{};
    t.tm_year = v.Year - 1900;
    t.tm_mon = v.Month - 1;
    t.tm_mday = v.Day;
    t.tm_hour = v.Hour + (v.Hour12 && v.Pm ? 12 : 0);
    t.tm_min = v.Minute;
    t.tm_sec = v.Second;
    t.tm_isdst = -1;
    const std::time_t s = std::mktime(&t);
    if (s == static_cast<std::time_t>(-1)) return std::nullopt;
    return static_cast<int64_t>(s) * 1000 + v.Milli;
}

}  // namespace

std::optional<TBoardTime> FindBoardTime(const std::string& reply, const std::string& dateFormat,
                                        const std::string& timeFormat) {
    TPattern p;
    AddFormat(dateFormat, p);
    p.Regex += ",";
    AddFormat(timeFormat, p);
    p.Regex += "(?:[.,](\\d{1,3}))?";
    p.Groups.push_back(fMilli);
    try {
        const std::regex re(p.Regex);
        std::smatch m;
        if (!std::regex_search(reply, m, re)) return std::nullopt;
        TFields v;
        for (size_t g = 0; g < p.Groups.size(); ++g)
            if (m[g + 1].matched) Store(p.Groups[g], m[g + 1].str(), v);
        // ".4" is 400 ms, as a decimal fraction.
        if (m[p.Groups.size()].matched)
            for (size_t n = m[p.Groups.size()].length(); n < 3; ++n) v.Milli *= 10;
        const std::optional<int64_t> ms = LocalToUnixMs(v);
        if (!ms) return std::nullopt;
        return TBoardTime{*ms, v.HasMilli};
    } catch (const std::exception&) {
        return std::nullopt;  // a format that makes no pattern reads nothing
    }
}

std::string BoardOffsetText(const TBoardTime& board, int64_t arrivalUnixMs, int64_t wireMs) {
    const int64_t left = arrivalUnixMs - wireMs;
    char buf[80];
    if (board.HasMillis) {
        std::snprintf(buf, sizeof buf, "board clock off by %+.3f s",
                      static_cast<double>(board.UnixMs - left) / 1000.0);
    } else {
        const auto floorSec = [](int64_t ms) {
            return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
        };
        std::snprintf(buf, sizeof buf, "board clock off by %+lld s",
                      static_cast<long long>(floorSec(board.UnixMs) - floorSec(left)));
    }
    return buf;
}

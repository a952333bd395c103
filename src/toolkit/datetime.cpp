#include "toolkit/datetime.h"

#include <cmath>
#include <stdexcept>

namespace {

// Days from 1970-01-01 for a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

TDateParts CivilFromDays(int64_t z) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return TDateParts{static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

// Whole days and milliseconds of the day, rounded to the millisecond.
void SplitDateTime(TDateTime dt, int64_t& days, int64_t& msOfDay) {
    if (!std::isfinite(dt)) dt = 0;
    double whole = std::trunc(dt);
    double frac = std::fabs(dt - whole);
    days = static_cast<int64_t>(whole);
    msOfDay = std::llround(frac * MSecsPerDay);
    if (msOfDay >= static_cast<int64_t>(MSecsPerDay)) {
        msOfDay -= static_cast<int64_t>(MSecsPerDay);
        days += dt < 0 ? -1 : 1;
    }
}

std::string Padded(int value, int width) {
    std::string s = std::to_string(value);
    while (static_cast<int>(s.size()) < width) s.insert(s.begin(), '0');
    return s;
}

// Length of the run of letter c starting at i.
size_t RunLength(const std::string& f, size_t i) {
    size_t n = 1;
    while (i + n < f.size() && f[i + n] == f[i]) ++n;
    return n;
}

}  // namespace

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month))
        return false;
    result = static_cast<double>(
                 DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day))) +
             UnixDateDelta;
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& result) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        msec < 0 || msec > 999)
        return false;
    result = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / MSecsPerDay;
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime r = 0;
    if (!TryEncodeDate(year, month, day, r)) throw std::invalid_argument("Invalid date");
    return r;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
    TDateTime r = 0;
    if (!TryEncodeTime(hour, minute, second, msec, r)) throw std::invalid_argument("Invalid time");
    return r;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec) {
    return EncodeDate(year, month, day) + EncodeTime(hour, minute, second, msec);
}

TDateParts DecodeDate(TDateTime dt) {
    int64_t days = 0, ms = 0;
    SplitDateTime(dt, days, ms);
    return CivilFromDays(days - static_cast<int64_t>(UnixDateDelta));
}

TTimeParts DecodeTime(TDateTime dt) {
    int64_t days = 0, ms = 0;
    SplitDateTime(dt, days, ms);
    TTimeParts t;
    t.MilliSecond = static_cast<int>(ms % 1000);
    ms /= 1000;
    t.Second = static_cast<int>(ms % 60);
    ms /= 60;
    t.Minute = static_cast<int>(ms % 60);
    t.Hour = static_cast<int>(ms / 60);
    return t;
}

int DayOfWeek(TDateTime dt) {
    int64_t days = 0, ms = 0;
    SplitDateTime(dt, days, ms);
    // 1899-12-30 was a Saturday.
    int64_t w = (days + 6) % 7;
    if (w < 0) w += 7;
    return static_cast<int>(w) + 1;
}

TDateTime DateOf(TDateTime dt) { return std::trunc(dt); }
TDateTime TimeOf(TDateTime dt) { return std::fabs(dt - std::trunc(dt)); }

int64_t DateTimeToUnixMs(TDateTime dt) {
    int64_t days = 0, ms = 0;
    SplitDateTime(dt, days, ms);
    return (days - static_cast<int64_t>(UnixDateDelta)) * 86400000LL + ms;
}

TDateTime UnixMsToDateTime(int64_t ms) {
    int64_t days = ms / 86400000LL;
    int64_t rest = ms % 86400000LL;
    if (rest < 0) {
        rest += 86400000LL;
        --days;
    }
    return static_cast<double>(days) + UnixDateDelta + static_cast<double>(rest) / MSecsPerDay;
}

std::string FormatDateTime(const std::string& f, TDateTime dt) {
    const TDateParts d = DecodeDate(dt);
    const TTimeParts t = DecodeTime(dt);
    const bool ampm = f.find("AP") != std::string::npos || f.find("ap") != std::string::npos;
    const int hour12 = t.Hour % 12 == 0 ? 12 : t.Hour % 12;
    std::string out;
    for (size_t i = 0; i < f.size();) {
        const char c = f[i];
        if (c == '\'') {
            size_t j = i + 1;
            if (j < f.size() && f[j] == '\'') {
                out += '\'';
                i = j + 1;
                continue;
            }
            while (j < f.size() && f[j] != '\'') out += f[j++];
            i = j + 1;
            continue;
        }
        const size_t n = RunLength(f, i);
        if (c == 'y') {
            out += n >= 4 ? Padded(d.Year, 4) : Padded(d.Year % 100, 2);
        } else if (c == 'M') {
            out += Padded(d.Month, n >= 2 ? 2 : 1);
        } else if (c == 'd') {
            out += Padded(d.Day, n >= 2 ? 2 : 1);
        } else if (c == 'H' || (c == 'h' && !ampm)) {
            out += Padded(t.Hour, n >= 2 ? 2 : 1);
        } else if (c == 'h') {
            out += Padded(hour12, n >= 2 ? 2 : 1);
        } else if (c == 'm') {
            out += Padded(t.Minute, n >= 2 ? 2 : 1);
        } else if (c == 's') {
            out += Padded(t.Second, n >= 2 ? 2 : 1);
        } else if (c == 'z') {
            out += n >= 3 ? Padded(t.MilliSecond, 3) : std::to_string(t.MilliSecond);
        } else if ((c == 'A' || c == 'a') && i + 1 < f.size() &&
                   (f[i + 1] == 'P' || f[i + 1] == 'p')) {
            const char* text = t.Hour < 12 ? "AM" : "PM";
            out += c == 'A' ? text : (t.Hour < 12 ? "am" : "pm");
            i += 2;
            continue;
        } else {
            out.append(n, c);
        }
        i += n;
    }
    return out;
}

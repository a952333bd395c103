// TDateTime: days since 1899-12-30 00:00 as a double, the fraction being the time of day.
// Plain C++ so that codecs and clients below the window can use it without Qt.
#pragma once

#include <cstdint>
#include <string>

using TDateTime = double;

struct TDateParts {
    int Year = 1899, Month = 12, Day = 30;
};

struct TTimeParts {
    int Hour = 0, Minute = 0, Second = 0, MilliSecond = 0;
};

constexpr double MSecsPerDay = 86400000.0;
constexpr double SecsPerDay = 86400.0;
// Days from 1899-12-30 to 1970-01-01.
constexpr double UnixDateDelta = 25569.0;

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
// Valid calendar dates give true; the result is left untouched otherwise.
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& result);
// Throws std::invalid_argument on an invalid date or time.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int msec = 0);
// Decoding rounds to the nearest millisecond, carrying into the date at midnight.
TDateParts DecodeDate(TDateTime dt);
TTimeParts DecodeTime(TDateTime dt);
int DayOfWeek(TDateTime dt);  // 1 = Sunday ... 7 = Saturday
TDateTime DateOf(TDateTime dt);
TDateTime TimeOf(TDateTime dt);

// Milliseconds since the Unix epoch, both directions, with no time-zone change.
int64_t DateTimeToUnixMs(TDateTime dt);
TDateTime UnixMsToDateTime(int64_t ms);

TDateTime NowLocal();  // the PC clock as local time
TDateTime NowUtc();    // the PC clock as UTC

// Formats with the toolkit's letters: yyyy yy MM M dd d HH H hh h mm m ss s zzz z AP ap,
// text in single quotes literal ('' is a quote), anything else copied.
std::string FormatDateTime(const std::string& format, TDateTime dt);

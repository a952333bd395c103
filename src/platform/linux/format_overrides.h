// The environment variables that override the locale's date and time formats on Linux. The
// autostart entry carries them, so that the copy started at login sends the same line.
#pragma once

inline constexpr const char* DateFormatVariable = "TIKTAAL_DATE_FORMAT";
inline constexpr const char* TimeFormatVariable = "TIKTAAL_TIME_FORMAT";

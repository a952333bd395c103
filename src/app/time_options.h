// The time side of the settings and the command line: whether Tiktaal sets the PC clock,
// and the checks that the time sources given on the command line can be asked.
#pragma once

#include <string>

// auto: set the clock unless a time service of the system keeps it synchronised.
enum class TSetClockMode { Auto, Always, Never };

// "auto", "always" or "never"; false (mode untouched) for anything else.
bool ParseSetClockMode(const std::string& text, TSetClockMode& mode);
const char* SetClockModeName(TSetClockMode mode);

// The user.reg value that holds the mode, and the stored mode (auto when absent; a value
// that is not one of the three is told once on standard error and read as auto).
inline constexpr const char* SetClockSettingName = "SetClock";
TSetClockMode StoredSetClockMode();

// The user.reg value naming the file of certificate authorities trusted for NTS servers and
// https scripts, and the stored file (empty, the system's store, when absent).
inline constexpr const char* TimeCaSettingName = "TimeCA";
std::string StoredTimeCa();
// Empty when file can be used as the authorities' file (empty or readable); otherwise why not.
std::string TimeCaProblem(const std::string& file);

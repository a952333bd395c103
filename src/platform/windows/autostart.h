// The autostart value's command line, for the tests.
#pragma once

#include <string>
#include <vector>

// The Run key of the current user: an ordinary user may write it, the machine-wide one not.
inline constexpr const char* RunKeyPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// The program's path and its arguments, each in double quotes as the system's command-line
// parser reads them back (backslashes before a quote doubled, the quote escaped).
std::string RunCommandLine(const std::string& path, const std::vector<std::string>& args = {});

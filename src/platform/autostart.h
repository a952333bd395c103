// The session autostart entry: an XDG desktop entry named after the program.
#pragma once

#include <string>
#include <vector>

// <config>/autostart (default ~/.config/autostart); empty without a configuration folder.
std::string AutostartDirectory();
bool AutostartEntryExists(const std::string& name);
// Writes <dir>/<name>.desktop that starts the executable at path with args. Throws
// std::runtime_error("Failed to set data for '<name>'") when it cannot be written.
void WriteAutostartEntry(const std::string& name, const std::string& executablePath,
                         const std::vector<std::string>& args = {});
// Removes the entry; false when it was not there or could not be removed.
bool RemoveAutostartEntry(const std::string& name);
// The Exec value that runs path with args, quoted as desktop entries require.
std::string DesktopExecValue(const std::string& path, const std::vector<std::string>& args = {});

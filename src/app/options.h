// The command line of the program.
#pragma once

#include <string>
#include <vector>

struct TProgramOptions {
    std::vector<std::string> TimeServers;  // replaces the built-in SNTP servers when given
    std::vector<std::string> TimeScripts;  // HTTP time scripts, asked beside the servers
    bool SetClock = true;
    bool Help = false;
};

// Parses argv[1..] before the toolkit sees it: the program's options start with "--";
// arguments with one dash are the toolkit's (-platform offscreen) and go to qtArgs, after
// argv[0]. On an error returns false with the message in error.
bool ParseProgramOptions(int argc, const char* const* argv, TProgramOptions& options,
                         std::vector<std::string>& qtArgs, std::string& error);
std::string ProgramUsage();

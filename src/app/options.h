// The command line of the program.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/option_parser.h"
#include "app/time_options.h"

struct TProgramOptions {
    std::vector<std::string> TimeServers;   // replaces the built-in SNTP servers when given
    std::vector<std::string> TimeScripts;   // HTTP time scripts, asked beside the servers
    std::optional<TSetClockMode> SetClock;  // unset: the stored setting decides
    std::optional<std::string> TimeCa;      // unset: the stored TimeCA setting decides
    // The board's settings for this run; unset: the stored ones.
    std::optional<bool> AlignSecond;
    std::optional<int> BoardBootMs;
    std::optional<std::string> BoardQuery;
    bool Help = false;
    bool Version = false;
    // The program's own options as given, one word each ("--time-server=HOST"), without the
    // toolkit's (those are for this run's display): the autostart entry repeats them.
    std::vector<std::string> Words;
};

// Every option of the program, in the order --help lists them. To add one: a field above
// and a row in this table (options.cpp); parsing, errors and --help follow from the row.
const std::vector<TOptionRow<TProgramOptions>>& ProgramOptionTable();

// Parses argv[1..] before the toolkit sees it. The toolkit's own documented options
// (-platform offscreen, -display :1, -style fusion ...) go to qtArgs after argv[0]; any
// other word is an error (false, with the message in error).
bool ParseProgramOptions(int argc, const char* const* argv, TProgramOptions& options,
                         std::vector<std::string>& qtArgs, std::string& error);
std::string ProgramUsage();

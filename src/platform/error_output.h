// Where a program's lines on standard error go when it has nowhere to show them. A windowed
// program on Windows has no console and, unless its output was redirected, no standard
// handles: its event lines go to a log file of the user's.
#pragma once

#include <string>

// Call first thing in main. Returns the log file's path when lines go to one, else empty
// (standard error as it was: a terminal, a file, a pipe or the journal).
std::string RouteErrorOutput(const std::string& programName);

// For what is printed just before the program ends (--help, a wrong option): to the console
// it was started from when it has no standard handles of its own. Never for a running
// program's lines, which would mix with that console's prompt.
void UseStartingConsole();

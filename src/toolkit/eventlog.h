// One line per event on standard error (the terminal or the journal), for the user to read
// what happened: accepted times, synchronisation errors, link connections and losses.
#pragma once

#include <functional>
#include <string>

using TEventLogSink = std::function<void(const std::string& line)>;

// Installs a sink (tests record the lines) and returns the previous one; empty = stderr.
TEventLogSink SetEventLogSink(TEventLogSink sink);
void LogEvent(const std::string& text);

// One line per event on standard error (the terminal or the journal), for the user to read
// what happened: accepted times, synchronisation errors, link connections and losses.
#pragma once

#include <functional>
#include <mutex>
#include <set>
#include <string>

using TEventLogSink = std::function<void(const std::string& line)>;

// Installs a sink (tests record the lines) and returns the previous one; empty = stderr.
TEventLogSink SetEventLogSink(TEventLogSink sink);
void LogEvent(const std::string& text);

// Tells each distinct failure once: one that repeats every few seconds is one line, told
// again only after Clear() (the thing worked in between). Safe from any thread.
class TFailuresTold {
public:
    // Logs the line unless it was told since the last Clear(); true when it was logged.
    bool Tell(const std::string& line);
    void Clear();

private:
    std::mutex FLock;
    std::set<std::string> FTold;
};

// The clock service as one piece: its pipe, its access list and its way of applying an
// offset, run in the foreground (--console) or under the service control manager.
#pragma once

#include <string>

struct TServiceOptions {
    std::wstring Pipe;        // the pipe's name
    std::wstring Record;      // record offsets in this file instead of setting the clock
    std::wstring RecordHold;  // with Record: hold each request while this file exists
};

// Runs the pipe server until Ctrl+C or Ctrl+Break; returns the exit status.
int RunConsole(const TServiceOptions& options);
// Runs under the service control manager (the command line it registers); returns the
// exit status.
int RunService(const TServiceOptions& options);

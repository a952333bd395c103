// The command line of tiktaal-gsm: a port, a command and its words, and switches that may
// stand anywhere.
#pragma once

#include <string>
#include <vector>

struct TGsmToolOptions {
    enum TCommand { None, Identify, Send, Listen, At };
    TCommand Command = None;
    std::string Port;
    std::string Baud = "115200";
    bool Verbose = false;
    bool Help = false;
    int AtTimeoutMs = 0;         // the modem's reply time-out; 0: the engine's (2000 ms)
    int ReconnectSeconds = 60;   // send and listen: how long a lost modem is waited for
    // send
    std::string Number, Text, Key;
    bool Flash = false, Report = false, Ucs2 = false, HasKey = false;
    int MergeMax = 0;  // parts under one concatenation reference; 0: the engine's (3)
    // listen
    int Seconds = 0;  // 0: until interrupted
    bool Json = false;
    bool Keep = false;  // leave read messages on the modem
    // at
    std::string AtCommand;
};

extern const char* const GsmToolUsage;

// False with one line in error (without the program's name) for a command line that
// cannot be followed.
bool ParseGsmToolOptions(const std::vector<std::string>& args, TGsmToolOptions& options,
                         std::string& error);

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
    // send
    std::string Number, Text, Key;
    bool Flash = false, Report = false, Ucs2 = false, HasKey = false;
    // listen
    int Seconds = 0;  // 0: until interrupted
    bool Json = false;
    // at
    std::string AtCommand;
};

extern const char* const GsmToolUsage;

// False with one line in error (without the program's name) for a command line that
// cannot be followed.
bool ParseGsmToolOptions(const std::vector<std::string>& args, TGsmToolOptions& options,
                         std::string& error);

// Where a program keeps what it must remember between runs that is not a setting (the
// concatenation reference of long messages), and where the running program lies.
#pragma once

#include <string>

// $XDG_STATE_HOME, else $HOME/.local/state, else the passwd entry's home + /.local/state;
// empty when there is none (never a folder other users share).
std::string StateDirectoryFrom(const char* xdgStateHome, const char* home, const char* passwdHome);
std::string UserStateDirectory();
// The folder of the running executable, with a final separator; empty when unknown.
std::string ExecutableDirectory();

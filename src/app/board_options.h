// The board side of the settings: the aligned line, the boot delay of boards that reset when
// the port opens, and the read-back query. Each lives in user.reg beside the others and has
// a command-line form that overrides it for one run.
#pragma once

#include <string>

inline constexpr const char* AlignSecondSettingName = "AlignSecond";  // dword 0/1
inline constexpr const char* BoardBootMsSettingName = "BoardBootMs";  // dword, ms
inline constexpr const char* BoardQuerySettingName = "BoardQuery";    // string

// Arduino Uno, Nano and Mega reset when DTR rises and their boot loaders listen for about
// 1.5 to 2 s before the sketch starts; the rest is room for the sketch's own start.
inline constexpr int DefaultBoardBootMs = 2500;
inline constexpr int MaxBoardBootMs = 600000;

struct TBoardSettings {
    // The line after a synchronisation names the next whole second and lands on it.
    bool AlignSecond = false;
    // From the link coming up to the first line (and the synchronisation that sends it).
    int BootMs = DefaultBoardBootMs;
    // Sent after each automatic line; empty = no read-back.
    std::string Query;
};

// A whole number of ms from 0 to MaxBoardBootMs; false (value untouched) otherwise.
bool ParseBoardBootMs(const std::string& text, int& ms);

// The stored settings; a boot delay out of range is told on standard error and read as the
// default.
TBoardSettings StoredBoardSettings();

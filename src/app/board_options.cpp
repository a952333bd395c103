#include "app/board_options.h"

#include <cstdio>

#include "app/settings.h"

bool ParseBoardBootMs(const std::string& text, int& ms) {
    if (text.empty() || text.size() > 6) return false;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v > MaxBoardBootMs) return false;
    ms = v;
    return true;
}

TBoardSettings StoredBoardSettings() {
    TBoardSettings s;
    s.AlignSecond = RegReadBool(AlignSecondSettingName, false, SettingsKey);
    const int32_t boot = RegReadInteger(BoardBootMsSettingName, DefaultBoardBootMs, SettingsKey);
    if (boot >= 0 && boot <= MaxBoardBootMs)
        s.BootMs = boot;
    else
        std::fprintf(stderr, "tiktaal: setting %s is %d, not 0 to %d ms: using %d\n",
                     BoardBootMsSettingName, boot, MaxBoardBootMs, DefaultBoardBootMs);
    RegReadString(BoardQuerySettingName, "", SettingsKey, s.Query);
    return s;
}

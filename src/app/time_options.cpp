#include "app/time_options.h"

#include <cstdio>
#include <fstream>

#include "app/settings.h"

bool ParseSetClockMode(const std::string& text, TSetClockMode& mode) {
    for (TSetClockMode m : {TSetClockMode::Auto, TSetClockMode::Always, TSetClockMode::Never})
        if (text == SetClockModeName(m)) {
            mode = m;
            return true;
        }
    return false;
}

const char* SetClockModeName(TSetClockMode mode) {
    switch (mode) {
        case TSetClockMode::Always:
            return "always";
        case TSetClockMode::Never:
            return "never";
        case TSetClockMode::Auto:
            break;
    }
    return "auto";
}

TSetClockMode StoredSetClockMode() {
    // A number is no mode: say so rather than read it silently as auto.
    if (RegReadType(SetClockSettingName, SettingsKey) == TRegDataType::rdInteger) {
        std::fprintf(stderr,
                     "tiktaal: setting %s is a number (dword), not the text \"auto\", "
                     "\"always\" or \"never\": using auto\n",
                     SetClockSettingName);
        return TSetClockMode::Auto;
    }
    std::string text;
    RegReadString(SetClockSettingName, "auto", SettingsKey, text);
    TSetClockMode mode = TSetClockMode::Auto;
    if (!ParseSetClockMode(text, mode))
        std::fprintf(stderr, "tiktaal: setting %s is '%s', not auto, always or never: using auto\n",
                     SetClockSettingName, text.c_str());
    return mode;
}

std::string StoredTimeCa() {
    std::string file;
    RegReadString(TimeCaSettingName, "", SettingsKey, file);
    const std::string problem = TimeCaProblem(file);
    // Kept all the same: NTS and https then fail and say why, rather than trusting more.
    if (!problem.empty())
        std::fprintf(stderr, "tiktaal: setting %s: %s\n", TimeCaSettingName, problem.c_str());
    return file;
}

std::string TimeCaProblem(const std::string& file) {
    if (file.empty()) return std::string();
    std::ifstream in(file);
    if (!in) return "certificate authority file '" + file + "' cannot be read";
    return std::string();
}

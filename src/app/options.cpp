#include "app/options.h"

namespace {
// "--name value" or "--name=value".
bool TakeValue(const std::string& arg, const char* name, int& i, int argc, const char* const* argv,
               std::string& value, std::string& error) {
    const std::string prefix = std::string(name) + "=";
    if (arg.rfind(prefix, 0) == 0) {
        value = arg.substr(prefix.size());
    } else if (i + 1 < argc) {
        value = argv[++i];
    } else {
        error = std::string("option ") + name + " needs a value";
        return false;
    }
    if (value.empty()) {
        error = std::string("option ") + name + " needs a value";
        return false;
    }
    return true;
}

bool Is(const std::string& arg, const char* name) {
    return arg == name || arg.rfind(std::string(name) + "=", 0) == 0;
}
}  // namespace

bool ParseProgramOptions(int argc, const char* const* argv, TProgramOptions& options,
                         std::vector<std::string>& qtArgs, std::string& error) {
    qtArgs.assign(1, argc > 0 ? argv[0] : "tiktaal");
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string value;
        if (arg == "--help" || arg == "-h") {
            options.Help = true;
        } else if (arg == "--no-set-clock") {
            options.SetClock = false;
        } else if (Is(arg, "--time-server")) {
            if (!TakeValue(arg, "--time-server", i, argc, argv, value, error)) return false;
            options.TimeServers.push_back(value);
        } else if (Is(arg, "--time-script")) {
            if (!TakeValue(arg, "--time-script", i, argc, argv, value, error)) return false;
            options.TimeScripts.push_back(value);
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] != '-') {
            qtArgs.push_back(arg);  // the toolkit's option, with its value if it has one
            if (i + 1 < argc && argv[i + 1][0] != '-') qtArgs.push_back(argv[++i]);
        } else {
            error = "unknown option '" + arg + "'";
            return false;
        }
    }
    return true;
}

std::string ProgramUsage() {
    return "Usage: tiktaal [options]\n"
           "Keeps the PC clock and a microcontroller's clock right.\n"
           "\n"
           "  --time-server HOST   ask this SNTP server (repeatable; replaces the built-in list)\n"
           "  --time-script URL    also ask this HTTP time script (repeatable)\n"
           "  --no-set-clock       leave the PC clock alone; the board still gets the PC's time\n"
           "                       after each successful query\n"
           "  -h, --help           show this help\n"
           "\n"
           "Qt's own options (-platform offscreen, ...) are accepted too.\n"
           "Environment: TIKTAAL_DATE_FORMAT, TIKTAAL_TIME_FORMAT override the LC_TIME formats\n"
           "of the line sent to the board (for example yyyy-MM-dd and HH:mm:ss).\n";
}

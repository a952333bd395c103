#include "app/options.h"

#include "app/board_options.h"
#include "timesync/server_source.h"

namespace {
using TRow = TOptionRow<TProgramOptions>;

bool Switch(bool& field, bool value) {
    field = value;
    return true;
}

bool Append(std::vector<std::string>& list, const std::string& value) {
    list.push_back(value);
    return true;
}

// A source that cannot be asked is a mistake to tell now, not a silent failure later.
bool AppendChecked(std::vector<std::string>& list, const std::string& value,
                   const std::string& problem, std::string& error) {
    error = problem;
    return problem.empty() && Append(list, value);
}

bool SetClockMode(TProgramOptions& o, const std::string& value, std::string& error) {
    TSetClockMode mode = TSetClockMode::Auto;
    if (!ParseSetClockMode(value, mode)) {
        error = "option --set-clock takes auto, always or never, not '" + value + "'";
        return false;
    }
    o.SetClock = mode;
    return true;
}
}  // namespace

const std::vector<TRow>& ProgramOptionTable() {
    static const std::vector<TRow> table{
        {"--time-server", "HOST[:PORT]",
         "ask this SNTP server (repeatable; replaces the built-in list);\n"
         "nts://HOST[:PORT] asks it with Network Time Security, PORT being\n"
         "its key exchange's (default 4460): only answers it sealed count",
         [](TProgramOptions& o, const std::string& v, std::string& error) {
             return AppendChecked(o.TimeServers, v, ServerSourceProblem(v), error);
         }},
        {"--time-script", "URL", "also ask this http:// or https:// time script (repeatable)",
         [](TProgramOptions& o, const std::string& v, std::string& error) {
             return AppendChecked(o.TimeScripts, v, ScriptSourceProblem(v), error);
         }},
        {"--time-ca", "FILE",
         "trust only the certificate authorities in FILE (PEM) for nts://\n"
         "servers and https:// scripts instead of the system's store (the\n"
         "TimeCA setting; an empty FILE means the system's store)",
         [](TProgramOptions& o, const std::string& v, std::string& error) {
             error = TimeCaProblem(v);
             if (error.empty()) o.TimeCa = v;
             return error.empty();
         }},
        {"--set-clock", "MODE",
         "auto (default): set the PC clock unless a time service of the\n"
         "system (chrony, systemd-timesyncd, ntpd; on Windows, Windows Time)\n"
         "keeps it; always; never: leave it alone, the board still gets the\n"
         "PC's time after each successful query. Overrides the SetClock\n"
         "setting for this run",
         SetClockMode},
        {"--no-set-clock", nullptr, "the same as --set-clock=never",
         [](TProgramOptions& o, const std::string&, std::string&) {
             o.SetClock = TSetClockMode::Never;
             return true;
         }},
        {"--align-second", nullptr,
         "send the line after a synchronisation so that it lands on the\n"
         "next whole second at the board (the AlignSecond setting)",
         [](TProgramOptions& o, const std::string&, std::string&) {
             o.AlignSecond = true;
             return true;
         }},
        {"--board-boot-ms", "N",
         "send no line for N ms (0 to 600000, default 2500) after the link\n"
         "comes up, for boards that reset when the port opens, such as the\n"
         "Arduino Uno, Nano and Mega (the BoardBootMs setting)",
         [](TProgramOptions& o, const std::string& v, std::string& error) {
             int ms = 0;
             if (!ParseBoardBootMs(v, ms)) {
                 error = "option --board-boot-ms takes 0 to 600000 ms, not '" + v + "'";
                 return false;
             }
             o.BoardBootMs = ms;
             return true;
         }},
        {"--board-query", "TEXT",
         "after each automatic line send TEXT; a reply with the board's date\n"
         "and time is logged as the board's offset (the BoardQuery setting)",
         [](TProgramOptions& o, const std::string& v, std::string&) {
             o.BoardQuery = v;
             return true;
         }},
        {"--help", nullptr, "show this help (also -h)",
         [](TProgramOptions& o, const std::string&, std::string&) { return Switch(o.Help, true); }},
        {"--version", nullptr, "show the version",
         [](TProgramOptions& o, const std::string&, std::string&) {
             return Switch(o.Version, true);
         }},
    };
    return table;
}

bool ParseProgramOptions(int argc, const char* const* argv, TProgramOptions& options,
                         std::vector<std::string>& qtArgs, std::string& error) {
    return ParseOptionTable(argc, argv, ProgramOptionTable(), options, qtArgs, options.Words,
                            error);
}

std::string ProgramUsage() {
    return "Usage: tiktaal [options]\n"
           "Keeps the PC clock and a microcontroller's clock right.\n"
           "\n" +
           OptionTableHelp(ProgramOptionTable()) +
           "\n"
           "Qt's own options (-platform offscreen, -display :1, -style fusion ...) are accepted\n"
           "too; any other word is an error (exit status 2).\n"
           "Environment: TIKTAAL_DATE_FORMAT, TIKTAAL_TIME_FORMAT override the user's short date\n"
           "and long time formats (LC_TIME; on Windows, the regional settings) of the line sent\n"
           "to the board (for example yyyy-MM-dd and HH:mm:ss).\n";
}

#include "app/options.h"

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
}  // namespace

const std::vector<TRow>& ProgramOptionTable() {
    static const std::vector<TRow> table{
        {"--time-server", "HOST[:PORT]",
         "ask this SNTP server (repeatable; replaces the built-in list)",
         [](TProgramOptions& o, const std::string& v, std::string&) {
             return Append(o.TimeServers, v);
         }},
        {"--time-script", "URL", "also ask this HTTP time script (repeatable)",
         [](TProgramOptions& o, const std::string& v, std::string&) {
             return Append(o.TimeScripts, v);
         }},
        {"--no-set-clock", nullptr,
         "leave the PC clock alone; the board still gets the PC's time\nafter each successful "
         "query",
         [](TProgramOptions& o, const std::string&, std::string&) {
             return Switch(o.SetClock, false);
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
           "Environment: TIKTAAL_DATE_FORMAT, TIKTAAL_TIME_FORMAT override the LC_TIME formats\n"
           "of the line sent to the board (for example yyyy-MM-dd and HH:mm:ss).\n";
}

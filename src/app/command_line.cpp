#include "app/command_line.h"

std::string BuildCommandLine(const std::string& prefix, TDateTime date, TDateTime time,
                             const std::string& shortDateFormat,
                             const std::string& longTimeFormat) {
    return prefix + FormatDateTime(shortDateFormat, date) + "," +
           FormatDateTime(longTimeFormat, time);
}

bool LineHoldsPrefix(const std::string& line, const std::string& prefix) {
    return !prefix.empty() && line.find(prefix) != std::string::npos;
}

// The line the microcontroller receives: prefix, short date, ",", long time.
#pragma once

#include <string>

#include "toolkit/datetime.h"

std::string BuildCommandLine(const std::string& prefix, TDateTime date, TDateTime time,
                             const std::string& shortDateFormat, const std::string& longTimeFormat);

// True when the line is one of ours: the prefix occurs in it (an empty prefix never does).
bool LineHoldsPrefix(const std::string& line, const std::string& prefix);

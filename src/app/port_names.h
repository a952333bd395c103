// Port names as the port box shows them and as the link opens them.
#pragma once

#include <string>

// "/dev/ttyUSB0" shows as "ttyUSB0", so that it fits the narrow box; other paths (a
// pseudo-terminal link such as /tmp/ttyA) and COMn names stay as they are.
std::string PortShortName(const std::string& path);
// What was typed or chosen, in either form, as the name the link opens: a name that is
// neither a path nor COMn is a device in /dev.
std::string PortPathFromText(const std::string& text);

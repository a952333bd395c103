#include "platform/error_output.h"

// On Linux standard error always goes somewhere: the terminal, or the session's journal.
std::string RouteErrorOutput(const std::string&) { return std::string(); }

void UseStartingConsole() {}

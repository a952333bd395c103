// tiktaal-gsm's work: the GSM engine on one port, driven to identify the modem, send a
// message, listen for what the modem reports, or run one AT command.
#pragma once

#include <atomic>

#include "gsm_tool_options.h"

// The exit status; lines go to standard output, errors to standard error.
int RunGsmTool(const TGsmToolOptions& options, const std::atomic<bool>& interrupted);

#include "platform/interrupt.h"

#include <windows.h>

namespace {

std::atomic<bool>* Flag = nullptr;

// Runs on a thread the system starts. Returning TRUE for Ctrl+C and Ctrl+Break keeps the
// process alive for its orderly end; for a closed console, log-off or shut-down the system
// ends the process when the handler returns, so the handler waits a little for the loop.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (!Flag) return FALSE;
    *Flag = true;
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) Sleep(2000);
    return TRUE;
}

}  // namespace

void RaiseOnInterrupt(std::atomic<bool>& flag) {
    Flag = &flag;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

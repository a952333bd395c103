// Whether the Windows Time service keeps the clock: it is running (asked of the service
// control manager, which any user may do) and it is disciplining the clock now. The second
// is what an unprivileged program can see of its synchronisation: while the service has a
// time source it steers the clock by a rate adjustment, and with none it hands the clock back
// to the system's own tick, which shows as "time adjustment disabled".
#include <windows.h>

#include "platform/clock.h"

namespace {

bool TimeServiceRunning() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return false;
    SC_HANDLE service = OpenServiceW(manager, L"W32Time", SERVICE_QUERY_STATUS);
    bool running = false;
    if (service) {
        SERVICE_STATUS status{};
        running = QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return running;
}

bool ClockBeingDisciplined() {
    DWORD adjustment = 0, increment = 0;
    BOOL disabled = TRUE;
    return GetSystemTimeAdjustment(&adjustment, &increment, &disabled) && !disabled;
}

}  // namespace

bool SystemClockSynchronised() { return TimeServiceRunning() && ClockBeingDisciplined(); }

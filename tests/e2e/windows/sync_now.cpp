// Sets the session's "synchronise now" event, as a user's script would on Windows.
#include <windows.h>

int main() {
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"Local\\Tiktaal.SyncNow");
    if (!event) return 1;
    const BOOL set = SetEvent(event);
    CloseHandle(event);
    return set ? 0 : 1;
}

// Sets the session's "synchronise now" event, as a user's script would on Windows, and prints
// the moment it did (Unix milliseconds) for the benchmark that times what follows.
#include <windows.h>

#include <cstdio>

int main() {
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"Local\\Tiktaal.SyncNow");
    if (!event) return 1;
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    const BOOL set = SetEvent(event);
    CloseHandle(event);
    const unsigned long long ticks =
        (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    // 100 ns ticks since 1601 to milliseconds since 1970.
    std::printf("%llu\n", (ticks - 116444736000000000ULL) / 10000);
    return set ? 0 : 1;
}

#include "clock_step.h"

#include <windows.h>

#include <cstdint>

#include "platform/windows/clock_service_protocol.h"

namespace {

// 100 ns ticks between 1601-01-01 (FILETIME) and 1970-01-01.
constexpr int64_t UnixEpochTicks = 116444736000000000LL;
constexpr int64_t TicksPerSecond = 10000000;

int64_t NowTicks() {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    return static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) |
                                now.dwLowDateTime);
}

int64_t UnixSeconds(int64_t ticks) { return (ticks - UnixEpochTicks) / TicksPerSecond; }

std::string SystemText(DWORD code) {
    char text[256] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, text, sizeof text, nullptr);
    std::string said(text, n);
    while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == '.'))
        said.pop_back();
    return said.empty() ? "system error " + std::to_string(code) : said;
}

// The privilege is held by the service's account but off until asked for.
bool EnableSystemTimePrivilege(DWORD& error) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        error = GetLastError();
        return false;
    }
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    bool enabled =
        LookupPrivilegeValueW(nullptr, L"SeSystemtimePrivilege", &privileges.Privileges[0].Luid) &&
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    // Success with ERROR_NOT_ALL_ASSIGNED: the account does not hold the privilege.
    error = GetLastError();
    if (enabled && error == ERROR_NOT_ALL_ASSIGNED) enabled = false;
    CloseHandle(token);
    return enabled;
}

// The step in 100 ns ticks, rounded to the nearest tick.
int64_t OffsetTicks(const TClockOffset& offset) {
    const int64_t ticks = offset.Seconds * TicksPerSecond + (offset.Nanoseconds + 50) / 100;
    return offset.Negative ? -ticks : ticks;
}

}  // namespace

TClockAnswer StepSystemClock(const TClockOffset& offset) {
    DWORD error = 0;
    if (!EnableSystemTimePrivilege(error))
        return {ClockNotPermitted, "no right to set the clock: " + SystemText(error)};
    const int64_t now = NowTicks();
    if (!ClockLandsInRange(UnixSeconds(now), offset)) return {ClockBadOffset, OutOfRangeReason};
    // SetSystemTime takes milliseconds: the target is rounded to the nearest one.
    const int64_t target = (now + OffsetTicks(offset) + 5000) / 10000 * 10000;
    FILETIME when{static_cast<DWORD>(target & 0xffffffff), static_cast<DWORD>(target >> 32)};
    SYSTEMTIME st{};
    if (!FileTimeToSystemTime(&when, &st) || !SetSystemTime(&st)) {
        error = GetLastError();
        if (error == ERROR_PRIVILEGE_NOT_HELD)
            return {ClockNotPermitted, "no right to set the clock: " + SystemText(error)};
        return {ClockRefused, "cannot step the clock: " + SystemText(error)};
    }
    return {ClockStepped, "the clock was stepped"};
}

TClockAnswer TClockRecorder::operator()(const TClockOffset& offset, const std::string& text) const {
    if (!ClockLandsInRange(UnixSeconds(NowTicks()), offset))
        return {ClockBadOffset, OutOfRangeReason};
    HANDLE file = CreateFileW(FFile.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {ClockRefused, "cannot open the record file: " + SystemText(GetLastError())};
    const std::string line = text + "\n";
    DWORD written = 0;
    const bool ok =
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
        written == line.size();
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (!ok) return {ClockRefused, "cannot write the record file: " + SystemText(error)};
    for (int waited = 0; !FHoldFile.empty() && waited < 60000; waited += 10) {
        if (GetFileAttributesW(FHoldFile.c_str()) == INVALID_FILE_ATTRIBUTES) break;
        Sleep(10);
    }
    return {ClockStepped, "the offset was recorded (the clock is left alone)"};
}

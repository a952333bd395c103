// Where the program keeps its state on Windows: the user's local application data, and the
// folder of the running executable.
#include "platform/user_state.h"

#include <windows.h>

#include <cstdlib>

#include "platform/windows/wide_text.h"

std::string UserStateDirectory() {
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (!local || !*local) return std::string();
    return WideToUtf8(std::wstring(local));
}

std::string ExecutableDirectory() {
    wchar_t path[32768];
    const DWORD n = GetModuleFileNameW(nullptr, path, 32768);
    if (n == 0 || n >= 32768) return std::string();
    std::wstring exe(path, n);
    const size_t slash = exe.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return std::string();
    return WideToUtf8(exe.substr(0, slash + 1));
}

// Starts a program as Explorer or the Run key would: from a windowed parent, with no console
// and no standard handles. Waits for it and exits with its exit code.
// Usage: run_detached PROGRAM [ARGS...]   (the arguments are passed on as they are)
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The command line after this program's own name.
    std::wstring line = GetCommandLineW();
    size_t start = 0;
    if (!line.empty() && line[0] == L'"') {
        start = line.find(L'"', 1);
        start = start == std::wstring::npos ? line.size() : start + 1;
    } else {
        start = line.find(L' ');
        if (start == std::wstring::npos) start = line.size();
    }
    while (start < line.size() && line[start] == L' ') ++start;
    std::wstring child = line.substr(start);
    if (child.empty()) return 120;

    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, child.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                        nullptr, &si, &pi))
        return 121;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 122;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

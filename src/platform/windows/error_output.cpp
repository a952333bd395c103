#include "platform/error_output.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdio>

#include "platform/user_state.h"
#include "platform/windows/wide_text.h"

namespace {

// A log that has grown past this is moved aside (one older file kept), so it never fills
// the disk of a PC that runs the program for years.
constexpr LONGLONG MaxLogBytes = 1 << 20;

bool Attached(DWORD which) {
    const HANDLE h = GetStdHandle(which);
    return h && h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_UNKNOWN;
}

void MoveAsideWhenLarge(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return;
    const LONGLONG size = (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (size > MaxLogBytes)
        MoveFileExW(path.c_str(), (path + L".1").c_str(), MOVEFILE_REPLACE_EXISTING);
}

// Whether stderr was moved to the log file here.
bool LogInUse = false;

}  // namespace

std::string RouteErrorOutput(const std::string& programName) {
    if (Attached(STD_ERROR_HANDLE)) return std::string();
    const std::string dir = UserStateDirectory();
    if (dir.empty()) return std::string();
    const std::wstring folder = Utf8ToWide(dir) + L"\\Tiktaal";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring path = folder + L"\\" + Utf8ToWide(programName) + L".log";
    MoveAsideWhenLarge(path);
    // The C library leaves a windowed program's stderr without a descriptor (-2) and will
    // not reopen such a stream: descriptor 2 is made on the file and given to the stream.
    const int fd = _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_APPEND | _O_TEXT,
                          _S_IREAD | _S_IWRITE);
    if (fd < 0) return std::string();
    const bool moved = _dup2(fd, 2) == 0;
    _close(fd);
    if (!moved) return std::string();
    if (_fileno(stderr) != 2) stderr->_file = 2;
    std::setvbuf(stderr, nullptr, _IONBF, 0);  // each line on disk as it is told
    LogInUse = true;
    return WideToUtf8(path);
}

void UseStartingConsole() {
    const bool out = !Attached(STD_OUTPUT_HANDLE);
    const bool err = LogInUse || !Attached(STD_ERROR_HANDLE);
    if ((!out && !err) || !AttachConsole(ATTACH_PARENT_PROCESS)) return;
    if (out) std::freopen("CONOUT$", "w", stdout);
    if (err) std::freopen("CONOUT$", "w", stderr);
}

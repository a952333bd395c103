// Saving a file whole on Windows: a temporary beside it, flushed, then moved over the old
// one in one step, so that readers see the old file or the new one.
#include <windows.h>

#include <algorithm>
#include <cerrno>

#include "platform/registry.h"
#include "platform/windows/wide_text.h"

namespace {

int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return EACCES;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        default:
            return EIO;
    }
}

bool Fail(DWORD error) {
    errno = ErrnoOf(error);
    return false;
}

}  // namespace

bool SaveFileAtomically(const std::string& path, const std::string& data) {
    if (path.empty() || path.back() == '/' || path.back() == '\\') {
        errno = ENOENT;
        return false;
    }
    const std::wstring target = Utf8ToWide(path);
    const std::wstring tmp = target + L".tmp";
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        errno = EACCES;  // a file made read-only is never replaced
        return false;
    }
    HANDLE file = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail(GetLastError());
    size_t done = 0;
    while (done < data.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, data.data() + done, chunk, &written, nullptr) || written == 0) {
            const DWORD e = GetLastError();
            CloseHandle(file);
            DeleteFileW(tmp.c_str());
            return Fail(e ? e : ERROR_DISK_FULL);
        }
        done += written;
    }
    if (!FlushFileBuffers(file)) {
        const DWORD e = GetLastError();
        CloseHandle(file);
        DeleteFileW(tmp.c_str());
        return Fail(e);
    }
    CloseHandle(file);
    if (!MoveFileExW(tmp.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD e = GetLastError();
        DeleteFileW(tmp.c_str());
        return Fail(e);
    }
    return true;
}

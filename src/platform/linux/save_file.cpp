// Saving a file so that a crash or a full disk never leaves it half written.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/registry.h"

namespace {

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Where the data belongs: dotfile managers keep user.reg as a symbolic link into their own
// folder, and a save must replace the file there, not the link. Empty (errno ELOOP) for a
// loop of links.
std::string FinalTarget(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        char buf[PATH_MAX];
        const ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
        if (n < 0) return path;  // no link (or nothing at all): the path itself
        std::string target(buf, static_cast<size_t>(n));
        path = target[0] == '/' ? target : DirectoryOf(path) + "/" + target;
    }
    errno = ELOOP;
    return "";
}

// A file without its owner's write bit is one the user made read-only. Root may write it
// and rename() replaces it regardless, so the mode bits are what is asked.
bool MadeReadOnly(const struct stat& st) { return S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR); }

bool MakeDirectories(const std::string& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return std::filesystem::is_directory(dir, ec);
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Fails with the first error, keeping its errno; the temporary is gone either way.
bool WriteTemporary(const std::string& tmp, const std::string& data) {
    unlink(tmp.c_str());  // a leftover of a crash
    const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, data) && fsync(fd) == 0;
    int err = ok ? 0 : errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        unlink(tmp.c_str());
        errno = err;
    }
    return ok;
}

}  // namespace

bool SaveFileAtomically(const std::string& path, const std::string& data) {
    if (path.empty() || path.back() == '/') {
        errno = ENOENT;
        return false;
    }
    const std::string target = FinalTarget(path);
    if (target.empty()) return false;
    struct stat st {};
    if (stat(target.c_str(), &st) == 0 && MadeReadOnly(st)) {
        errno = EACCES;
        return false;
    }
    const std::string dir = DirectoryOf(target);
    if (!MakeDirectories(dir)) return false;
    const std::string tmp = target + ".tmp";
    if (!WriteTemporary(tmp, data)) return false;
    if (rename(tmp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        unlink(tmp.c_str());
        errno = err;
        return false;
    }
    const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);  // the rename is durable once the directory is
        close(dfd);
    }
    return true;
}

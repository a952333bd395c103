#include "platform/instance_channel.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/instance_names.h"

namespace {

constexpr std::string_view kSocketSuffix = ".sock";
// Bounds on the work one call may do, whatever the directory or the socket holds.
constexpr int kMaxDirectoryEntries = 4096;
constexpr int kMaxDroppedPerReceive = 64;

template <typename F>
auto RetryOnEintr(F f) {
    decltype(f()) r;
    do r = f();
    while (r == -1 && errno == EINTR);
    return r;
}

std::string Reason(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

bool EndsWith(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

bool MakeAddress(const std::string& path, sockaddr_un& addr, socklen_t& len) {
    addr = {};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(addr.sun_path)) return false;
    std::memcpy(addr.sun_path, path.data(), path.size());
    len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return true;
}

// The sender's path; empty for an unbound or abstract sender, which cannot be answered.
std::string SenderPath(const sockaddr_un& from, socklen_t len) {
    const size_t offset = offsetof(sockaddr_un, sun_path);
    if (len <= offset || from.sun_path[0] == '\0') return "";
    const size_t max = std::min(static_cast<size_t>(len) - offset, sizeof(from.sun_path));
    return std::string(from.sun_path, strnlen(from.sun_path, max));
}

}  // namespace

std::string InstanceDirectoryPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') return std::string(runtime) + "/LU_OneInstance";
    return "/tmp/LU_OneInstance-" + std::to_string(geteuid());
}

bool PrepareInstanceDirectory(const std::string& path, std::string& error) {
    const bool created = mkdir(path.c_str(), 0700) == 0;
    if (!created && errno != EEXIST) {
        error = Reason("cannot create " + path, errno);
        return false;
    }
    // O_NOFOLLOW: a symbolic link planted in /tmp must not lead us elsewhere.
    const int fd = RetryOnEintr(
        [&] { return open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); });
    if (fd < 0) {
        const int e = errno;
        error = (e == ENOTDIR || e == ELOOP) ? path + " is not a directory"
                                             : Reason("cannot open " + path, e);
        return false;
    }
    if (created) fchmod(fd, 0700);  // the umask may have taken bits the owner needs
    struct stat st {};
    const bool statted = fstat(fd, &st) == 0;
    const int e = errno;
    close(fd);
    if (!statted) {
        error = Reason("cannot inspect " + path, e);
        return false;
    }
    if (st.st_uid != geteuid()) {
        error = path + " belongs to another user (uid " + std::to_string(st.st_uid) + ")";
        return false;
    }
    if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        error = path + " is open to other users (mode " + mode + ")";
        return false;
    }
    return true;
}

struct TInstanceChannel::TSystemPart {};

TInstanceChannel::TInstanceChannel(const std::string& directory)
    : FDirectory(directory), FBuffer(kMaxInstanceDatagram) {
    // A random part keeps a new socket from ever taking the name of a stale one that
    // another copy is just removing.
    unsigned char rnd[8];
    if (!RandomBytes(rnd, sizeof rnd)) {
        FError = "no random source for the socket name";
        return;
    }
    FAddress = directory + "/" + std::to_string(getpid()) + "-" + HexBytes(rnd, sizeof rnd) +
               std::string(kSocketSuffix);
    sockaddr_un addr;
    socklen_t len = 0;
    if (!MakeAddress(FAddress, addr, len)) {
        FError = "socket path too long: " + FAddress;
        return;
    }
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        FError = Reason("cannot create a socket", errno);
        return;
    }
    if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0) {
        FError = Reason("cannot bind " + FAddress, errno);
        close(fd);
        return;
    }
    FFd = fd;
    FOk = true;
}

TInstanceChannel::~TInstanceChannel() {
    if (FFd < 0) return;
    close(FFd);
    unlink(FAddress.c_str());
}

int TInstanceChannel::SendTo(const std::string& path, const std::string& datagram) {
    sockaddr_un addr;
    socklen_t len = 0;
    if (!Ok() || datagram.size() > kMaxInstanceDatagram) return EMSGSIZE;
    if (!MakeAddress(path, addr, len)) return ENAMETOOLONG;
    const ssize_t n = RetryOnEintr([&] {
        return sendto(FFd, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                      reinterpret_cast<const sockaddr*>(&addr), len);
    });
    return n < 0 ? errno : 0;
}

int TInstanceChannel::AskWhoRuns() {
    if (!Ok()) return 0;
    DIR* dir = opendir(FDirectory.c_str());
    if (!dir) return 0;
    const std::string quest = EncodeInstanceMessage(TInstanceMessageKind::Quest);
    int reached = 0;
    int seen = 0;
    while (const dirent* e = readdir(dir)) {
        if (++seen > kMaxDirectoryEntries) break;
        if (!EndsWith(e->d_name, kSocketSuffix)) continue;
        // Only sockets of this user: never a file, a pipe or a link that happens to match.
        struct stat st {};
        if (fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISSOCK(st.st_mode) || st.st_uid != geteuid()) continue;
        const int error = SendTo(FDirectory + "/" + e->d_name, quest);
        if (error == 0)
            ++reached;
        else if (error == ECONNREFUSED)  // nobody listens: left behind by a crashed copy
            unlinkat(dirfd(dir), e->d_name, 0);
        // EAGAIN: a copy whose queue is full does not read; it is left alone.
    }
    closedir(dir);
    return reached;
}

bool TInstanceChannel::Answer(const std::string& asker, const std::string& name) {
    return SendTo(asker, EncodeInstanceMessage(TInstanceMessageKind::Answer, name)) == 0;
}

bool TInstanceChannel::AskToComeForward(const std::string& answerer) {
    return SendTo(answerer, EncodeInstanceMessage(TInstanceMessageKind::Stop)) == 0;
}

bool TInstanceChannel::Receive(TInstanceMessage& msg) {
    if (!Ok()) return false;
    for (int dropped = 0; dropped < kMaxDroppedPerReceive; ++dropped) {
        sockaddr_un from{};
        iovec iov{FBuffer.data(), FBuffer.size()};
        msghdr header{};
        header.msg_name = &from;
        header.msg_namelen = sizeof from;
        header.msg_iov = &iov;
        header.msg_iovlen = 1;
        const ssize_t n = RetryOnEintr([&] { return recvmsg(FFd, &header, MSG_DONTWAIT); });
        if (n < 0) return false;
        if (header.msg_flags & MSG_TRUNC) continue;
        if (!DecodeInstanceMessage(FBuffer.data(), static_cast<size_t>(n), msg)) continue;
        msg.Sender = SenderPath(from, header.msg_namelen);
        return true;
    }
    return false;
}

TLockResult TNamedLock::Acquire(const std::string& directory, const std::string& name,
                                std::string& error) {
    Release();
    const std::string path = directory + "/" + LockFileName(name);
    // O_NONBLOCK: a pipe put there in place of the file must not hang the open.
    const int fd = RetryOnEintr([&] {
        return open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    });
    if (fd < 0) {
        error = Reason("cannot open " + path, errno);
        return TLockResult::Failed;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        error = path + " is not a plain file";
        return TLockResult::Failed;
    }
    if (RetryOnEintr([&] { return flock(fd, LOCK_EX | LOCK_NB); }) == 0) {
        FHandle = fd;
        return TLockResult::Taken;
    }
    const int e = errno;
    close(fd);
    if (e == EWOULDBLOCK) return TLockResult::HeldElsewhere;
    error = Reason("cannot lock " + path, e);
    return TLockResult::Failed;
}

void TNamedLock::Release() {
    // The file stays: removing it would let two copies lock two different files.
    if (FHandle != -1) close(static_cast<int>(FHandle));
    FHandle = -1;
}

bool RandomBytes(void* buf, size_t size) {
    auto* p = static_cast<unsigned char*>(buf);
    while (size > 0) {
        const ssize_t n = getrandom(p, size, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

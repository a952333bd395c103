#include "net/socksys.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "net/linux/errno_map.h"

namespace {

// Repeats a system call that a signal interrupted.
template <class F>
auto RetryOnEintr(F call) {
    decltype(call()) result;
    do {
        result = call();
    } while (result == -1 && errno == EINTR);
    return result;
}

int Fd(TSocketHandle handle) { return static_cast<int>(handle); }

int Result(long value) { return value < 0 ? kSocketError : static_cast<int>(value); }

}  // namespace

int LastSocketError() { return ErrnoToSockError(errno); }

// A system that refuses even an IPv4 datagram socket for want of the family or the
// protocol has no usable socket interface; running out of handles is not that.
bool StartSystemSockets() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        close(fd);
        return true;
    }
    return errno != EAFNOSUPPORT && errno != EPROTONOSUPPORT && errno != ENOSYS;
}

int SystemToSockError(int code) { return ErrnoToSockError(code); }

TSocketHandle OpenSocket(int family, int kind, int protocol) {
    const int fd = socket(family, kind | SOCK_CLOEXEC, protocol);
    return fd < 0 ? kInvalidSocket : fd;
}

void CloseSocket(TSocketHandle handle) {
    if (handle != kInvalidSocket) close(Fd(handle));
}

int BindSocket(TSocketHandle handle, const TSockAddr& address) {
    return Result(bind(Fd(handle), &address.Any, SockAddrLength(address)));
}

int ListenOnSocket(TSocketHandle handle) { return Result(listen(Fd(handle), SOMAXCONN)); }

TSocketHandle AcceptOnSocket(TSocketHandle handle) {
    const int fd =
        RetryOnEintr([&] { return accept4(Fd(handle), nullptr, nullptr, SOCK_CLOEXEC); });
    return fd < 0 ? kInvalidSocket : fd;
}

int ConnectSocket(TSocketHandle handle, const TSockAddr& address) {
    const int r = connect(Fd(handle), &address.Any, SockAddrLength(address));
    // A signal does not stop the handshake: it goes on as if the call had returned at once.
    if (r < 0 && errno == EINTR) errno = EINPROGRESS;
    return Result(r);
}

void ReadLocalAddress(TSocketHandle handle, TSockAddr& address) {
    socklen_t length = sizeof(address);
    getsockname(Fd(handle), &address.Any, &length);
}

void ReadPeerAddress(TSocketHandle handle, TSockAddr& address) {
    socklen_t length = sizeof(address);
    getpeername(Fd(handle), &address.Any, &length);
}

int ShutdownSending(TSocketHandle handle) { return Result(shutdown(Fd(handle), SHUT_WR)); }

int SetNonBlocking(TSocketHandle handle, bool on) {
    const int flags = fcntl(Fd(handle), F_GETFL);
    if (flags < 0) return kSocketError;
    return Result(fcntl(Fd(handle), F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK));
}

// poll() rather than select(): no limit on the handle's number.
int WaitSocket(TSocketHandle handle, bool forWriting, int timeout) {
    pollfd p{Fd(handle), static_cast<short>(forWriting ? POLLOUT : POLLIN), 0};
    return Result(RetryOnEintr([&] { return poll(&p, 1, timeout < 0 ? -1 : timeout); }));
}

int PendingSocketBytes(TSocketHandle handle) {
    int count = 0;
    return ioctl(Fd(handle), FIONREAD, &count) != 0 ? kSocketError : count;
}

int SocketErrorValue(TSocketHandle handle) {
    int err = 0;
    socklen_t size = sizeof err;
    if (getsockopt(Fd(handle), SOL_SOCKET, SO_ERROR, &err, &size) != 0) return 0;
    return err;
}

int SendNow(TSocketHandle handle, const void* buffer, int length, bool /*nonBlocking*/) {
    return Result(RetryOnEintr([&] {
        return send(Fd(handle), buffer, static_cast<size_t>(length), MSG_NOSIGNAL | MSG_DONTWAIT);
    }));
}

int SendDatagramTo(TSocketHandle handle, const void* buffer, int length, const TSockAddr& to) {
    return Result(RetryOnEintr([&] {
        return sendto(Fd(handle), buffer, static_cast<size_t>(length), MSG_NOSIGNAL, &to.Any,
                      SockAddrLength(to));
    }));
}

int ReceiveSome(TSocketHandle handle, void* buffer, int length) {
    return Result(
        RetryOnEintr([&] { return recv(Fd(handle), buffer, static_cast<size_t>(length), 0); }));
}

int PeekSome(TSocketHandle handle, void* buffer, int length) {
    return Result(RetryOnEintr(
        [&] { return recv(Fd(handle), buffer, static_cast<size_t>(length), MSG_PEEK); }));
}

// The kernel's stamp comes as an SCM_TIMESTAMPNS control message beside the datagram.
int ReceiveDatagramFrom(TSocketHandle handle, void* buffer, int length, TSockAddr& sender,
                        int64_t& arrivalNs) {
    arrivalNs = 0;
    iovec data{buffer, static_cast<size_t>(length)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr message{};
    message.msg_name = &sender.Any;
    message.msg_namelen = sizeof(sender);
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t result = RetryOnEintr([&] { return recvmsg(Fd(handle), &message, 0); });
    if (result < 0) return kSocketError;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c))
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec ts{};
            std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
            arrivalNs = static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
        }
    return static_cast<int>(result);
}

void SetIntOption(TSocketHandle handle, int level, int name, int value) {
    setsockopt(Fd(handle), level, name, &value, sizeof value);
}

void SetLingerOption(TSocketHandle handle, int seconds) {
    const linger l{seconds >= 0 ? 1 : 0, seconds >= 0 ? seconds : 0};
    setsockopt(Fd(handle), SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

void SetTimeoutOption(TSocketHandle handle, bool receiving, int ms) {
    const timeval tv{ms / 1000, (ms % 1000) * 1000};
    setsockopt(Fd(handle), SOL_SOCKET, receiving ? SO_RCVTIMEO : SO_SNDTIMEO, &tv, sizeof tv);
}

void SetArrivalStampOption(TSocketHandle handle, bool on) {
    SetIntOption(handle, SOL_SOCKET, SO_TIMESTAMPNS, on ? 1 : 0);
}

int LookUpAddrInfo(const char* host, const char* port, const addrinfo& hints, addrinfo** list) {
    errno = 0;
    const int result = getaddrinfo(host, port, &hints, list);
    return AddrInfoToSockError(result, errno);
}

#include "net/sockapi.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

const char* const kSocketLoadFailure = "Error loading Socket interface (ws2_32.dll)!";

namespace {
std::mutex LibraryLock;
int LibraryUsers = 0;

// A system that refuses even an IPv4 datagram socket for want of the family or the
// protocol has no usable socket interface; running out of handles is not that.
bool SystemCanMakeSockets() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd >= 0) {
        close(fd);
        return true;
    }
    return errno != EAFNOSUPPORT && errno != EPROTONOSUPPORT && errno != ENOSYS;
}
}  // namespace

bool LoadSocketLibrary(const std::string& /*name*/) {
    std::lock_guard<std::mutex> lock(LibraryLock);
    if (LibraryUsers > 0) {
        ++LibraryUsers;
        return true;
    }
    if (!SystemCanMakeSockets()) return false;
    ++LibraryUsers;
    return true;
}

bool UnloadSocketLibrary() {
    std::lock_guard<std::mutex> lock(LibraryLock);
    if (LibraryUsers > 0) --LibraryUsers;
    return true;
}

int SocketLibraryUsers() {
    std::lock_guard<std::mutex> lock(LibraryLock);
    return LibraryUsers;
}

void StartSocketInterface() {
    static const bool loaded = LoadSocketLibrary();
    if (!loaded) throw ESocketError(0, kSocketLoadFailure);
}

int ErrnoToSockError(int err) {
    // Windows Sockets numbers are 10000 plus the BSD number of the same meaning, but the
    // BSD numbers are not Linux's, so each one is named.
    static const std::map<int, int> table = {
        {0, 0},
        {EINTR, 10004},
        {EBADF, 10009},
        {EACCES, 10013},
        {EPERM, 10013},
        {EFAULT, 10014},
        {EINVAL, 10022},
        {EMFILE, 10024},
        {ENFILE, 10024},
        {EWOULDBLOCK, 10035},
        {EINPROGRESS, 10036},
        {EALREADY, 10037},
        {ENOTSOCK, 10038},
        {EDESTADDRREQ, 10039},
        {EMSGSIZE, 10040},
        {EPROTOTYPE, 10041},
        {ENOPROTOOPT, 10042},
        {EPROTONOSUPPORT, 10043},
        {ESOCKTNOSUPPORT, 10044},
        {EOPNOTSUPP, 10045},
        {EPFNOSUPPORT, 10046},
        {EAFNOSUPPORT, 10047},
        {EADDRINUSE, 10048},
        {EADDRNOTAVAIL, 10049},
        {ENETDOWN, 10050},
        {ENETUNREACH, 10051},
        {ENETRESET, 10052},
        {ECONNABORTED, 10053},
        {ECONNRESET, 10054},
        {EPIPE, 10054},
        {ENOBUFS, 10055},
        {ENOMEM, 10055},
        {EISCONN, 10056},
        {ENOTCONN, 10057},
        {ESHUTDOWN, 10058},
        {ETOOMANYREFS, 10059},
        {ETIMEDOUT, 10060},
        {ECONNREFUSED, 10061},
        {ELOOP, 10062},
        {ENAMETOOLONG, 10063},
        {EHOSTDOWN, 10064},
        {EHOSTUNREACH, 10065},
        {ENOTEMPTY, 10066},
        {EUSERS, 10068},
        {EDQUOT, 10069},
        {ESTALE, 10070},
        {EREMOTE, 10071},
    };
    const auto it = table.find(err);
    // An errno without a counterpart keeps its own number, which the text table then
    // shows as "Other Winsock error".
    return it == table.end() ? err : it->second;
}

int AddrInfoToSockError(int result, int savedErrno) {
    switch (result) {
        case 0:
            return 0;
        case EAI_NONAME:
            return kSockHostNotFound;
        case EAI_AGAIN:
            return kSockTryAgain;
        case EAI_FAIL:
            return kSockNoRecovery;
        case EAI_NODATA:
            return kSockNoData;
        case EAI_ADDRFAMILY:
            return kSockNoData;
        case EAI_FAMILY:
            return kSockFamilyNotSupported;
        case EAI_SOCKTYPE:
            return kSockNotSupported;
        case EAI_SERVICE:
            return kSockServiceNotFound;
        case EAI_BADFLAGS:
            return kSockInvalidArgument;
        case EAI_MEMORY:
            return kSockNoMemory;
        case EAI_SYSTEM:
            return savedErrno ? ErrnoToSockError(savedErrno) : kSockNoRecovery;
        default:
            return kSockNoRecovery;
    }
}

int LastSocketError() { return ErrnoToSockError(errno); }

std::string GetErrorDesc(int code) {
    static const std::map<int, const char*> texts = {
        {0, ""},
        {10004, "Interrupted system call"},
        {10009, "Bad file number"},
        {10013, "Permission denied"},
        {10014, "Bad address"},
        {10022, "Invalid argument"},
        {10024, "Too many open files"},
        {10035, "Operation would block"},
        {10036, "Operation now in progress"},
        {10037, "Operation already in progress"},
        {10038, "Socket operation on nonsocket"},
        {10039, "Destination address required"},
        {10040, "Message too long"},
        {10041, "Protocol wrong type for Socket"},
        {10042, "Protocol not available"},
        {10043, "Protocol not supported"},
        {10044, "Socket not supported"},
        {10045, "Operation not supported on Socket"},
        {10046, "Protocol family not supported"},
        {10047, "Address family not supported"},
        {10048, "Address already in use"},
        {10049, "Can't assign requested address"},
        {10050, "Network is down"},
        {10051, "Network is unreachable"},
        {10052, "Network dropped connection on reset"},
        {10053, "Software caused connection abort"},
        {10054, "Connection reset by peer"},
        {10055, "No Buffer space available"},
        {10056, "Socket is already connected"},
        {10057, "Socket is not connected"},
        {10058, "Can't send after Socket shutdown"},
        {10059, "Too many references:can't splice"},
        {10060, "Connection timed out"},
        {10061, "Connection refused"},
        {10062, "Too many levels of symbolic links"},
        {10063, "File name is too long"},
        {10064, "Host is down"},
        {10065, "No route to host"},
        {10066, "Directory is not empty"},
        {10067, "Too many processes"},
        {10068, "Too many users"},
        {10069, "Disk quota exceeded"},
        {10070, "Stale NFS file handle"},
        {10071, "Too many levels of remote in path"},
        {10091, "Network subsystem is unusable"},
        {10092, "Winsock DLL cannot support this application"},
        {10093, "Winsock not initialized"},
        {10101, "Disconnect"},
        {11001, "Host not found"},
        {11002, "Non authoritative - host not found"},
        {11003, "Non recoverable error"},
        {11004, "Valid name, no data record of requested type"},
    };
    const auto it = texts.find(code);
    if (it != texts.end()) return it->second;
    return "Other Winsock error (" + std::to_string(code) + ")";
}

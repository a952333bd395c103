#include "net/linux/errno_map.h"

#include <netdb.h>

#include <cerrno>
#include <map>

#include "net/sockapi.h"

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

#include "net/linux/errno_map.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

TEST(SockApi, ErrnoAndResolverResultsUseTheWindowsNumbers) {
    EXPECT_EQ(ErrnoToSockError(0), 0);
    EXPECT_EQ(ErrnoToSockError(ETIMEDOUT), 10060);
    EXPECT_EQ(ErrnoToSockError(ECONNRESET), 10054);
    EXPECT_EQ(ErrnoToSockError(ECONNREFUSED), 10061);
    EXPECT_EQ(ErrnoToSockError(EWOULDBLOCK), 10035);
    EXPECT_EQ(ErrnoToSockError(EINPROGRESS), 10036);
    EXPECT_EQ(ErrnoToSockError(ENETUNREACH), 10051);
    EXPECT_EQ(ErrnoToSockError(EHOSTUNREACH), 10065);
    EXPECT_EQ(ErrnoToSockError(EADDRINUSE), 10048);
    EXPECT_EQ(ErrnoToSockError(EACCES), 10013);
    EXPECT_EQ(ErrnoToSockError(EPIPE), 10054);
    EXPECT_EQ(AddrInfoToSockError(0, 0), 0);
    EXPECT_EQ(AddrInfoToSockError(EAI_NONAME, 0), 11001);
    EXPECT_EQ(AddrInfoToSockError(EAI_AGAIN, 0), 11002);
    EXPECT_EQ(AddrInfoToSockError(EAI_FAIL, 0), 11003);
    EXPECT_EQ(AddrInfoToSockError(EAI_NODATA, 0), 11004);
    EXPECT_EQ(AddrInfoToSockError(EAI_SERVICE, 0), 10109);
    EXPECT_EQ(AddrInfoToSockError(EAI_SYSTEM, ECONNREFUSED), 10061);
}

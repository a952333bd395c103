#include "net/sockapi.h"

#include <gtest/gtest.h>
#include <netdb.h>

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

TEST(SockApi, ErrorTexts) {
    EXPECT_EQ(GetErrorDesc(0), "");
    EXPECT_EQ(GetErrorDesc(10060), "Connection timed out");
    EXPECT_EQ(GetErrorDesc(10054), "Connection reset by peer");
    EXPECT_EQ(GetErrorDesc(10059), "Too many references:can't splice");
    EXPECT_EQ(GetErrorDesc(11004), "Valid name, no data record of requested type");
    EXPECT_EQ(GetErrorDesc(12345), "Other Winsock error (12345)");
    EXPECT_EQ(GetErrorDesc(10109), "Other Winsock error (10109)");
}

TEST(SockApi, LoadsAreCountedAndTheInterfaceStarts) {
    EXPECT_NO_THROW(StartSocketInterface());
    const int before = SocketLibraryUsers();
    EXPECT_TRUE(LoadSocketLibrary());
    EXPECT_TRUE(LoadSocketLibrary("ws2_32.dll"));
    EXPECT_EQ(SocketLibraryUsers(), before + 2);
    EXPECT_TRUE(UnloadSocketLibrary());
    EXPECT_TRUE(UnloadSocketLibrary());
    EXPECT_EQ(SocketLibraryUsers(), before);
    EXPECT_STREQ(kSocketLoadFailure, "Error loading Socket interface (ws2_32.dll)!");
}

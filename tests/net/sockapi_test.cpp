#include "net/sockapi.h"

#include <gtest/gtest.h>

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

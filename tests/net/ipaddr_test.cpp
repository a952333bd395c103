#include "net/ipaddr.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "toolkit/stringlist.h"

namespace {
bool IsZero(const TSockAddr& a) {
    TSockAddr zero;
    std::memset(&zero, 0, sizeof(zero));
    return std::memcmp(&a, &zero, sizeof(a)) == 0;
}

// Runs body on a thread of its own in a fresh network namespace, where no name server can
// be reached, with hostsLine as the whole of /etc/hosts. Name lookups there never leave
// the machine. False when the system will not create the namespaces.
bool RunOffline(const std::string& hostsLine, const std::function<void()>& body) {
    char path[] = "/tmp/tiktaal-hostsXXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return false;
    const std::string hosts = "127.0.0.1 localhost\n" + hostsLine + "\n";
    const bool written =
        write(fd, hosts.data(), hosts.size()) == static_cast<ssize_t>(hosts.size());
    close(fd);
    bool ran = false;
    std::thread worker([&] {
        if (!written || unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) return;
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return;
        if (mount(path, "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) return;
        ran = true;
        body();
    });
    worker.join();
    unlink(path);
    return ran;
}
}  // namespace

TEST(AddressLiterals, IPv4) {
    EXPECT_TRUE(IsIPv4Literal("1.2.3.4"));
    EXPECT_TRUE(IsIPv4Literal("255.255.255.255"));
    EXPECT_TRUE(IsIPv4Literal(" 10 . 0.0.1"));  // blanks around fields are trimmed
    EXPECT_FALSE(IsIPv4Literal("1.2.3.4.5"));
    EXPECT_FALSE(IsIPv4Literal("1.2.3"));
    EXPECT_FALSE(IsIPv4Literal("256.1.1.1"));
    EXPECT_FALSE(IsIPv4Literal("1..3.4"));
    EXPECT_FALSE(IsIPv4Literal("+1.2.3.4"));
    EXPECT_FALSE(IsIPv4Literal("0x1.2.3.4"));
    EXPECT_FALSE(IsIPv4Literal("1.2.3.99999999999999999999"));
    EXPECT_FALSE(IsIPv4Literal("host.example"));
}

TEST(AddressLiterals, IPv6) {
    EXPECT_TRUE(IsIPv6Literal("::"));
    EXPECT_TRUE(IsIPv6Literal("::1"));
    EXPECT_TRUE(IsIPv6Literal("fe80::1%4"));
    EXPECT_TRUE(IsIPv6Literal("2001:db8:0:0:0:0:0:1"));
    EXPECT_TRUE(IsIPv6Literal("1:2"));
    EXPECT_TRUE(IsIPv6Literal("2001:db8::"));
    EXPECT_FALSE(IsIPv6Literal("1::2::3"));
    EXPECT_FALSE(IsIPv6Literal("12345::1"));
    EXPECT_FALSE(IsIPv6Literal("1"));
    EXPECT_FALSE(IsIPv6Literal("::ffff:1.2.3.4"));
    EXPECT_FALSE(IsIPv6Literal("1:2:3:4:5:6:7:8:9"));
    EXPECT_FALSE(IsIPv6Literal("fe80::1%eth0"));
    EXPECT_FALSE(IsIPv6Literal("1:::"));
    EXPECT_FALSE(IsIPv6Literal("example.com"));
}

TEST(FillSockAddr, WildcardLoopbackAndPorts) {
    TSockAddr a;
    EXPECT_EQ(FillSockAddr(a, "0.0.0.0", "0", true, SOCK_DGRAM, IPPROTO_UDP, AF_UNSPEC), 0);
    EXPECT_EQ(a.Any.sa_family, AF_INET);
    EXPECT_EQ(a.V4.sin_addr.s_addr, htonl(INADDR_ANY));
    EXPECT_EQ(SockAddrLength(a), 16u);

    EXPECT_EQ(FillSockAddr(a, "127.0.0.1", "ntp", true, SOCK_DGRAM, IPPROTO_UDP, AF_INET), 0);
    EXPECT_EQ(SockAddrToPort(a), 123);
    EXPECT_EQ(SockAddrToText(a), "127.0.0.1");
    EXPECT_EQ(FillSockAddr(a, "127.0.0.2", "123", true, SOCK_DGRAM, IPPROTO_UDP, AF_INET), 0);
    EXPECT_EQ(SockAddrToText(a), "127.0.0.2");
    EXPECT_EQ(SockAddrToPort(a), 123);

    EXPECT_EQ(FillSockAddr(a, "::1", "80", true, SOCK_STREAM, IPPROTO_TCP, AF_INET6), 0);
    EXPECT_EQ(SockAddrLength(a), 28u);
    EXPECT_EQ(SockAddrToText(a), "::1");
}

TEST(FillSockAddr, BadPortTextsGiveACodeAndAZeroAddress) {
    TSockAddr a;
    for (const char* port : {"abc", "-1", "99999", "65536", "12x"}) {
        EXPECT_EQ(FillSockAddr(a, "127.0.0.1", port, true, SOCK_DGRAM, IPPROTO_UDP, AF_UNSPEC),
                  10109)
            << port;
        EXPECT_TRUE(IsZero(a)) << port;
    }
    EXPECT_EQ(FillSockAddr(a, "127.0.0.1", "65535", true, SOCK_DGRAM, IPPROTO_UDP, AF_INET), 0);
    EXPECT_EQ(SockAddrToPort(a), 65535);
    TSockAddr none;
    std::memset(&none, 0, sizeof(none));
    EXPECT_EQ(SockAddrToText(none), "");
    EXPECT_EQ(SockAddrLength(none), 0u);
}

TEST(FillSockAddr, OfflineNamesAndFamilyOrder) {
    int unknown = 0, v6only = 0, malformed = 0;
    TSockAddr unknownAddr, v6Addr, preferV4, preferV6;
    TStringList list;
    const bool ran = RunOffline("fd00::7 v6only.test\n127.0.0.5 both.test\nfd00::5 both.test", [&] {
        unknown = FillSockAddr(unknownAddr, "nosuch.test", "123", true, SOCK_DGRAM, IPPROTO_UDP,
                               AF_UNSPEC);
        malformed =
            FillSockAddr(unknownAddr, "1.2.3.999", "123", true, SOCK_DGRAM, IPPROTO_UDP, AF_UNSPEC);
        v6only =
            FillSockAddr(v6Addr, "v6only.test", "123", true, SOCK_DGRAM, IPPROTO_UDP, AF_UNSPEC);
        FillSockAddr(preferV4, "both.test", "1", true, SOCK_STREAM, IPPROTO_TCP, AF_UNSPEC);
        FillSockAddr(preferV6, "both.test", "1", false, SOCK_STREAM, IPPROTO_TCP, AF_UNSPEC);
        ListHostAddresses("both.test", AF_INET6, IPPROTO_TCP, list, SOCK_STREAM);
    });
    if (!ran) GTEST_SKIP() << "cannot create network and mount namespaces here";
    EXPECT_NE(unknown, 0);
    EXPECT_NE(malformed, 0);
    EXPECT_TRUE(IsZero(unknownAddr));
    EXPECT_EQ(v6only, 0);
    EXPECT_EQ(SockAddrToText(v6Addr), "fd00::7");
    EXPECT_EQ(SockAddrToText(preferV4), "127.0.0.5");
    EXPECT_EQ(SockAddrToText(preferV6), "fd00::5");
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list[0], "fd00::5");
}

TEST(HostAddresses, ListsAndPortLookup) {
    TStringList list;
    ListHostAddresses("127.0.0.1", AF_UNSPEC, IPPROTO_UDP, list, SOCK_DGRAM);
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list[0], "127.0.0.1");
    ListHostAddresses("127.0.0.1", AF_INET6, IPPROTO_UDP, list, SOCK_DGRAM);
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list[0], "0.0.0.0");  // nothing of that family: the stand-in
    EXPECT_EQ(LookupPortNumber("ntp", AF_INET, IPPROTO_UDP, SOCK_DGRAM), 123);
    EXPECT_EQ(LookupPortNumber("8080", AF_INET, IPPROTO_TCP, SOCK_STREAM), 8080);
    EXPECT_EQ(LookupPortNumber("nonsense", AF_INET, IPPROTO_TCP, SOCK_STREAM), 0);
}

TEST(SockAddr, SameAddressComparesFamilyPortAndAddress) {
    TSockAddr a, b;
    FillSockAddr(a, "127.0.0.2", "123", true, SOCK_DGRAM, IPPROTO_UDP, AF_INET);
    FillSockAddr(b, "127.0.0.2", "123", true, SOCK_DGRAM, IPPROTO_UDP, AF_INET);
    EXPECT_TRUE(SameSockAddr(a, b));
    FillSockAddr(b, "127.0.0.2", "124", true, SOCK_DGRAM, IPPROTO_UDP, AF_INET);
    EXPECT_FALSE(SameSockAddr(a, b));
    FillSockAddr(b, "127.0.0.3", "123", true, SOCK_DGRAM, IPPROTO_UDP, AF_INET);
    EXPECT_FALSE(SameSockAddr(a, b));
    FillSockAddr(b, "::1", "123", true, SOCK_DGRAM, IPPROTO_UDP, AF_INET6);
    EXPECT_FALSE(SameSockAddr(a, b));
}

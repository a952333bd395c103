#include "net/netutil.h"

#include <gtest/gtest.h>

#include <sstream>

#include "toolkit/stringlist.h"

TEST(Tick, ElapsedAcrossWrapAndBackwards) {
    EXPECT_EQ(TickElapsed(0xFFFFFF00u, 0x00000100u), 512u);
    EXPECT_EQ(TickElapsed(1000, 500), 500u);
    EXPECT_EQ(TickElapsed(7, 7), 0u);
    EXPECT_EQ(TickElapsed(500, 1000), 500u);
    const uint32_t a = TickNow();
    Pause(5);
    EXPECT_GE(TickElapsed(a, TickNow()), 4u);
}

TEST(BigEndian, FieldsAndPositionsPastTheEnd) {
    EXPECT_EQ(Int16ToBigEndian(0x1234), std::string("\x12\x34"));
    EXPECT_EQ(Int32ToBigEndian(0x01020304u), std::string("\x01\x02\x03\x04"));
    std::string packet(48, '\0');
    packet[44] = '\x0A';
    packet[47] = '\x0D';
    EXPECT_EQ(BigEndianToInt32(packet, 45), 0x0A00000Du);
    EXPECT_EQ(BigEndianToInt32(packet, 47), 0x000D0000u);
    EXPECT_EQ(BigEndianToInt16(std::string("\xAB\xCD"), 1), 0xABCD);
    EXPECT_EQ(BigEndianToInt16(std::string("\xAB"), 1), 0xAB00);
    EXPECT_EQ(ReverseBytes32(0x11223344u), 0x44332211u);
}

TEST(Blanks, OnlySpacesAreStripped) {
    EXPECT_EQ(StripBlanks("  a b\t "), "a b\t");
    EXPECT_EQ(StripLeadingBlanks("   "), "");
    EXPECT_EQ(TrimText("\t\r x \n"), "x");
}

TEST(Fields, CutTakesAListApart) {
    std::string text = "a, b,c";
    EXPECT_EQ(CutField(text, ","), "a");
    EXPECT_EQ(CutField(text, ","), "b");
    EXPECT_EQ(CutField(text, ","), "c");
    EXPECT_EQ(text, "");
    std::string lone = "  whole  ";
    EXPECT_EQ(CutField(lone, ";"), "whole");
    EXPECT_EQ(lone, "");
    EXPECT_EQ(TextBefore("key: value", ": "), "key");
    EXPECT_EQ(TextAfter("key: value", ": "), "value");
    EXPECT_EQ(TextAfter("novalue", ":"), "novalue");
}

TEST(LineBreak, KindsOfLineEnd) {
    std::string end;
    EXPECT_EQ(FindLineBreak("abc\r", end), 4);
    EXPECT_EQ(end, "\r");
    EXPECT_EQ(FindLineBreak("ab\n\rcd", end), 3);
    EXPECT_EQ(end, "\n\r");
    EXPECT_EQ(FindLineBreak("ab\r\ncd", end), 3);
    EXPECT_EQ(end, "\r\n");
    EXPECT_EQ(FindLineBreak("none", end), -1);
    EXPECT_EQ(end, "");
}

TEST(Url, WithoutSchemeWithQuery) {
    TUrlParts p;
    EXPECT_EQ(SplitUrl("10.0.0.1/time.php?x=1", p), "/time.php?x=1");
    EXPECT_EQ(p.Protocol, "http");
    EXPECT_EQ(p.Host, "10.0.0.1");
    EXPECT_EQ(p.Port, "80");
    EXPECT_EQ(p.Path, "/time.php");
    EXPECT_EQ(p.Parameters, "x=1");
}

TEST(Url, CredentialsIpv6AndDefaults) {
    TUrlParts p;
    SplitUrl("HTTPS://joe:secret@[::1]:8443/a/b", p);
    EXPECT_EQ(p.Protocol, "HTTPS");
    EXPECT_EQ(p.User, "joe");
    EXPECT_EQ(p.Password, "secret");
    EXPECT_EQ(p.Host, "::1");
    EXPECT_EQ(p.Port, "8443");
    EXPECT_EQ(p.Path, "/a/b");
    EXPECT_EQ(SplitUrl("ftp://[fe80::1]", p), "/");
    EXPECT_EQ(p.Host, "fe80::1");
    EXPECT_EQ(p.Port, "21");
    SplitUrl("http://:81/x@y", p);
    EXPECT_EQ(p.Host, "localhost");
    EXPECT_EQ(p.User, "");
    EXPECT_EQ(p.Path, "/x@y");
}

TEST(Streams, ReadCountsWhatWasThere) {
    std::stringstream s("hello");
    EXPECT_EQ(StreamToText(s, 3), "hel");
    EXPECT_EQ(StreamToText(s, 10), "lo");
    std::ostringstream o;
    TextToStream(o, std::string("a\0b", 3));
    EXPECT_EQ(o.str(), std::string("a\0b", 3));
}

TEST(Headers, UnfoldJoinsContinuationsButNeverTheLastLine) {
    TStringList l;
    l.SetText("Set-Cookie: a=1\r\n\tpath=/\r\n b\r\nHost: x\r\n tail\r\n");
    size_t i = 0;
    EXPECT_EQ(UnfoldHeaderLine(l, i), "Set-Cookie: a=1 path=/ b");
    EXPECT_EQ(i, 3u);
    EXPECT_EQ(UnfoldHeaderLine(l, i), "Host: x");
    EXPECT_EQ(i, 4u);
}

TEST(Base64, PaddingOfShortGroups) {
    EXPECT_EQ(Base64Text("abc"), "YWJj");
    EXPECT_EQ(Base64Text("ab"), "YWI=");
    EXPECT_EQ(Base64Text("a"), "YQ==");
    EXPECT_EQ(Base64Text(""), "");
    EXPECT_EQ(Base64Text("user:pass"), "dXNlcjpwYXNz");
}

#include "InitString.h"

#include <gtest/gtest.h>

using namespace vsp;

namespace {

const char* good = "adapter.lan;3001;5;19200,0,8,1,0,0;1;0;";

TEST(InitString, AcceptsWhatTheProgramWrites)
{
    const auto c = parseConnector("5;0");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->com, 5);
    const auto t = parseTcpClient(good);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->host, "adapter.lan");
    EXPECT_EQ(t->port, 3001);
    EXPECT_EQ(t->com, 5);
    EXPECT_EQ(t->serial.baud, 19200u);
    EXPECT_TRUE(t->telnet);
    EXPECT_FALSE(t->onDemand);
    const auto u = parseTcpClient(" ::1 ;65535;255;921600,1,5,2,4,2.5;0;1;");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->host, "::1");
    EXPECT_TRUE(u->serial.dtrRts);
    EXPECT_EQ(u->serial.parity, Parity::Space);
    EXPECT_EQ(u->serial.readTimeoutMs, 2.5);
    EXPECT_FALSE(u->telnet);
    EXPECT_TRUE(u->onDemand);
}

TEST(InitString, NonAsciiHostNamesAreAcceptedAndResolvedInTheirDnsForm)
{
    const auto host = [](const std::string& text) {
        const auto t = parseTcpClient(text + ";3001;5;19200,0,8,1,0,0;1;0;");
        return t ? t->host : std::string("refused");
    };
    EXPECT_EQ(host(" B\xC3\x9C" "cher.example "), "xn--bcher-kva.example");  // capitals fold
    EXPECT_EQ(host("\xE4\xBE\x8B\xE3\x81\x88.\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88"), "xn--r8jz45g.xn--zckzah");
    EXPECT_EQ(host("stra\xC3\x9F" "e.de"), "xn--strae-oqa.de");  // not mapped to "ss"
    EXPECT_EQ(host("Adapter.LAN"), "Adapter.LAN");
    EXPECT_EQ(host("fe80::1%eth0"), "fe80::1%eth0");
    EXPECT_EQ(host("bad\xC3"), "bad\xC3");  // no name: left for the resolver to refuse
}

TEST(InitString, RefusesMalformedAndOutOfRangeStrings)
{
    for (const char* bad : {"", "5", "5;0;", "0;0", "256;0", "x;0", "-1;0", "5;x", " ;0"})
        EXPECT_FALSE(parseConnector(bad)) << bad;
    for (const char* bad : {
             "h;3001;5;19200,0,8,1,0,0;1;0",          // six fields
             "h;3001;5;19200,0,8,1,0,0;1;0;;",        // eight
             ";3001;5;19200,0,8,1,0,0;1;0;",          // empty host
             "  ;3001;5;19200,0,8,1,0,0;1;0;",        // blank host
             "h;0;5;19200,0,8,1,0,0;1;0;",            // port 0
             "h;65536;5;19200,0,8,1,0,0;1;0;",        // port too big
             "h;30a1;5;19200,0,8,1,0,0;1;0;",         // port not a number
             "h;3001;0;19200,0,8,1,0,0;1;0;",         // COM 0
             "h;3001;;19200,0,8,1,0,0;1;0;",          // no COM number
             "h;3001;5;0,0,8,1,0,0;1;0;",             // baud 0
             "h;3001;5;-9600,0,8,1,0,0;1;0;",         // negative baud
             "h;3001;5;9600.5,0,8,1,0,0;1;0;",        // fractional baud
             "h;3001;5;19200,-1,8,1,0,0;1;0;",        // no DTR/RTS selection
             "h;3001;5;19200,2,8,1,0,0;1;0;",
             "h;3001;5;19200,0,4,1,0,0;1;0;",         // data bits
             "h;3001;5;19200,0,9,1,0,0;1;0;",
             "h;3001;5;19200,0,8,3,0,0;1;0;",         // stop bits
             "h;3001;5;19200,0,8,1,5,0;1;0;",         // parity
             "h;3001;5;19200,0,8,1,-1,0;1;0;",
             "h;3001;5;19200,0,8,1,0,x;1;0;",         // timeout
             "h;3001;5;19200,0,8,1,0;1;0;",           // five subfields
             "h;3001;5;19200,0,8,1,0,0;2;0;",         // telnet flag
             "h;3001;5;19200,0,8,1,0,0;1;2;",         // on-demand flag
         })
        EXPECT_FALSE(parseTcpClient(bad)) << bad;
}

TEST(ComClaims, OneConnectorAndOneTcpClientPerComNumber)
{
    ComClaims claims;
    EXPECT_TRUE(claims.claim("TcpClient", good));  // before its Connector: accepted
    EXPECT_TRUE(claims.claim("Connector", "5;0"));
    EXPECT_FALSE(claims.claim("Connector", "5;0"));
    EXPECT_FALSE(claims.claim("TcpClient", "other;1;5;9600,0,8,1,0,0;1;0;"));
    EXPECT_TRUE(claims.claim("Connector", "255;0"));
    EXPECT_FALSE(claims.claim("connector", "6;0"));  // type names are case-sensitive
    EXPECT_FALSE(claims.claim("Connector", "bad"));
    claims.release("Connector", "5;0");
    EXPECT_TRUE(claims.claim("Connector", "5;0"));
}

}  // namespace

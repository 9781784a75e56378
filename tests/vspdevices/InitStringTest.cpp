// The public parser of the devices' strings and of the ports' link names
// (vspdevices_initstring.h, vspdevices_ports.h), and what the library adds to it.
#include "InitString.h"
#include "vspdevices_initstring.h"
#include "vspdevices_ports.h"

#include <gtest/gtest.h>
#include <sstream>

namespace {

const char* good = "adapter.lan;3001;5;19200,0,8,1,0,0;1;0;";

// A TcpClient string's values in one line: "host port com baud dtrRts bits stop parity timeout telnet onDemand".
std::string valuesOf(const vspdevices::TcpClientSettings& t)
{
    const auto& s = t.serial;
    std::ostringstream out;
    out << t.host << ' ' << t.port << ' ' << t.com << ' ' << s.baud << ' ' << s.dtrRts << ' ' << int(s.dataBits) << ' '
        << int(s.stopBits) << ' ' << int(s.parity) << ' ' << s.readTimeoutMs << ' ' << t.telnet << ' ' << t.onDemand;
    if (t.tls.enabled)
        out << " tls[" << t.tls.pin << '|' << t.tls.certificateFile << '|' << t.tls.keyFile << ']';
    return out.str();
}

#define PIN_DIGITS "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff"
#define PIN_COLONS "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99:aa:bb:cc:dd:ee:ff"

TEST(InitString, ReadsWhatTheProgramWritesAndRefusesTheRest)
{
    using vspdevices::parseConnector;
    using vspdevices::parseTcpClient;
    // Connector: the COM number, or refused (0).
    const std::pair<const char*, int> connectors[] = {
        {"5;0", 5}, {"255;0", 255}, {"005;0", 5}, {" 7\t;0", 7}, {"5;4294967295", 5},
        {"", 0}, {"5", 0}, {"5;0;", 0}, {"0;0", 0}, {"256;0", 0}, {"x;0", 0}, {"-1;0", 0}, {"+5;0", 0},
        {"5;x", 0}, {" ;0", 0}, {"5;4294967296", 0},
    };
    for (const auto& [text, com] : connectors) {
        const auto c = parseConnector(text);
        EXPECT_EQ(c ? c->com : 0, com) << text;
    }
    // TcpClient: its values, or "refused".
    const std::pair<const char*, const char*> clients[] = {
        {good, "adapter.lan 3001 5 19200 0 8 1 0 0 1 0"},
        {" ::1 ;65535;255;921600,1,5,2,4,2.5;0;1;", "::1 65535 255 921600 1 5 2 4 2.5 0 1"},
        {"h;03001;05; 9600 ,01,7,2,3,-5;1;0;", "h 3001 5 9600 1 7 2 3 0 1 0"},  // a negative wait sends at once
        {"h;1;5;9600,0,8,1,0,600000;1;0;", "h 1 5 9600 0 8 1 0 60000 1 0"},     // a minute at most
        {"h;3001;5;19200,0,8,1,0,0;1;0", "refused"},                            // six fields
        {"h;3001;5;19200,0,8,1,0,0;1;0;;", "refused"},                          // eight, the seventh no TLS
        // TLS: an eighth field, every item at most once, pins in either spelling.
        {"h;1;5;9600,0,8,1,0,0;1;0;tls;", "h 1 5 9600 0 8 1 0 0 1 0 tls[||]"},
        {"h;1;5;9600,0,8,1,0,0;1;0;tls,key=/k,cert=/c%3B%2C%25%3D;", "h 1 5 9600 0 8 1 0 0 1 0 tls[|/c;,%=|/k]"},
        {"h;1;5;9600,0,8,1,0,0;1;0;tls,pin=" PIN_COLONS ";", "h 1 5 9600 0 8 1 0 0 1 0 tls[" PIN_DIGITS "||]"},
        {"h;1;5;9600,0,8,1,0,0;1;0;tls,pin=" PIN_DIGITS ";x", "refused"},       // a ninth field
        {"h;1;5;9600,0,8,1,0,0;1;0;TLS;", "refused"},
        {"h;1;5;9600,0,8,1,0,0;1;0;tls,pin=" PIN_DIGITS ",pin=" PIN_DIGITS ";", "refused"},
        {"h;1;5;9600,0,8,1,0,0;1;0;tls,pin=abc;", "refused"},
        {"h;1;5;9600,0,8,1,0,0;1;0;tls,key=/k;", "refused"},                    // a key without its certificate
        {"h;1;5;9600,0,8,1,0,0;1;0;tls,cert=c;", "refused"},                    // relative
        {"h;1;5;9600,0,8,1,0,0;1;0;tls,cert=/c%00;", "refused"},
        {"h;1;5;9600,0,8,1,0,0;1;0;tls,cert=/c%4;", "refused"},
        {"h;1;5;9600,0,8,1,0,0;1;0;tls,cert=/c=d;", "refused"},
        {"h;1;5;9600,0,8,1,0,0;1;0;tls,ca=/c;", "refused"},                     // an unknown item
        {";3001;5;19200,0,8,1,0,0;1;0;", "refused"},                            // empty host
        {"  ;3001;5;19200,0,8,1,0,0;1;0;", "refused"},                          // blank host
        {"h;0;5;19200,0,8,1,0,0;1;0;", "refused"},                              // port 0
        {"h;65536;5;19200,0,8,1,0,0;1;0;", "refused"},                          // port too big
        {"h;30a1;5;19200,0,8,1,0,0;1;0;", "refused"},                           // port not a number
        {"h;3001;0;19200,0,8,1,0,0;1;0;", "refused"},                           // COM 0
        {"h;3001;;19200,0,8,1,0,0;1;0;", "refused"},                            // no COM number
        {"h;3001;5;0,0,8,1,0,0;1;0;", "refused"},                               // baud 0
        {"h;3001;5;-9600,0,8,1,0,0;1;0;", "refused"},                           // negative baud
        {"h;3001;5;9600.5,0,8,1,0,0;1;0;", "refused"},                          // fractional baud
        {"h;3001;5;19200,-1,8,1,0,0;1;0;", "refused"},                          // no DTR/RTS selection
        {"h;3001;5;19200,2,8,1,0,0;1;0;", "refused"},
        {"h;3001;5;19200,0,4,1,0,0;1;0;", "refused"},                           // data bits
        {"h;3001;5;19200,0,9,1,0,0;1;0;", "refused"},
        {"h;3001;5;19200,0,8,3,0,0;1;0;", "refused"},                           // stop bits
        {"h;3001;5;19200,0,8,1,5,0;1;0;", "refused"},                           // parity
        {"h;3001;5;19200,0,8,1,-1,0;1;0;", "refused"},
        {"h;3001;5;19200,0,8,1,0,x;1;0;", "refused"},                           // timeout
        {"h;3001;5;19200,0,8,1,0,1e3;1;0;", "refused"},
        {"h;3001;5;19200,0,8,1,0;1;0;", "refused"},                             // five subfields
        {"h;3001;5;19200,0,8,1,0,0;2;0;", "refused"},                           // telnet flag
        {"h;3001;5;19200,0,8,1,0,0;1;2;", "refused"},                           // on-demand flag
    };
    for (const auto& [text, values] : clients) {
        const auto t = parseTcpClient(text);
        EXPECT_EQ(t ? valuesOf(*t) : "refused", values) << text;
        if (t && t->tls.enabled)  // what is written reads back the same
            EXPECT_EQ(vspdevices::initstring::tls(vspdevices::initstring::tlsField(t->tls)), t->tls) << text;
    }
    // A port's link name: exactly "COM<n>", as the library writes it.
    const std::pair<const char*, int> links[] = {
        {"COM1", 1}, {"COM255", 255}, {"COM0", 0}, {"COM256", 0}, {"COM05", 0}, {"com5", 0}, {"COM", 0},
        {"COM5.control", 0}, {"COM5\n", 0}, {"COM+5", 0}, {" COM5", 0}, {"COM99999999999", 0},
    };
    for (const auto& [name, com] : links) {
        EXPECT_EQ(vspdevices::portLinkNumber(name).value_or(0), com) << name;
        if (com)
            EXPECT_EQ(vspdevices::portLinkName(com), name);
    }
    EXPECT_EQ(vspdevices::portLinkNumber("COM256", 256), 256);  // Wine's mapping runs one further
}

TEST(InitString, NonAsciiHostNamesAreAcceptedAndResolvedInTheirDnsForm)
{
    const auto host = [](const std::string& text) {
        const auto t = vsp::parseTcpClient(text + ";3001;5;19200,0,8,1,0,0;1;0;");
        return t ? t->host : std::string("refused");
    };
    EXPECT_EQ(host(" B\xC3\x9C" "cher.example "), "xn--bcher-kva.example");  // capitals fold
    EXPECT_EQ(host("\xE4\xBE\x8B\xE3\x81\x88.\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88"), "xn--r8jz45g.xn--zckzah");
    EXPECT_EQ(host("stra\xC3\x9F" "e.de"), "xn--strae-oqa.de");  // not mapped to "ss"
    EXPECT_EQ(host("Adapter.LAN"), "Adapter.LAN");
    EXPECT_EQ(host("fe80::1%eth0"), "fe80::1%eth0");
    EXPECT_EQ(host("bad\xC3"), "bad\xC3");  // no name: left for the resolver to refuse
}

}  // namespace

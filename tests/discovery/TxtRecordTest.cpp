// A port's TXT record comes from anyone on the network: what of it is shown, and
// what is refused.
#include "discovery/TxtRecord.h"

#include <gtest/gtest.h>

namespace {

TEST(TxtRecord, ShowsTheStackAndDeviceOnlyAsCleanBoundedText)
{
    const std::string many(300, 'x');
    std::vector<std::string> filler(64, "note=x");
    struct Case {
        const char* what;
        std::vector<std::string> entries;
        std::string stack, identity;
        bool tls;
    } cases[] = {
        {"a USB device, keys in any case, the first of a key counting",
         {"provider=ser2net", "GENSIOSTACK=telnet(rfc2217),tcp", "gensiostack=tcp", "devicetype=serialusb",
          "idVendor=0403", "idProduct=6001", "manufacturer=FTDI", "product=FT232R", "serial=A1"},
         "telnet(rfc2217),tcp", "serialusb 0403:6001 FT232R s/n A1", false},
        {"TLS as a gensio of the stack, not as a word in its options",
         {"gensiostack=telnet(rfc2217),ssl(CA=/etc/ssl),tcp", "product=ssl"}, "telnet(rfc2217),ssl(CA=/etc/ssl),tcp",
         "ssl", true},
        {"no ssl gensio", {"gensiostack=telnet(mode=ssl),sslx,tcp"}, "telnet(mode=ssl),sslx,tcp", "", false},
        {"control characters dropped, tabs and line ends among them",
         {"gensiostack=tcp\t\r\n\x1b[2J", "product=Box\xc2\x85\xe2\x80\xa8 \xc3\xa9t\xc3\xa9"}, "tcp[2J",
         "Box \xc3\xa9t\xc3\xa9", false},
        {"a value that is not UTF-8 shows as nothing",
         {"gensiostack=tcp\xff", "product=\xc0\xaf", "serial=\xed\xa0\x80", "manufacturer=\xf4\x90\x80\x80"}, "", "",
         false},
        {"an entry of more than 255 bytes, and one past the 64th, are not read",
         {"product=" + many, "serial=" + std::string(200, 'y')}, "", "s/n " + std::string(64, 'y'), false},
    };
    filler.push_back("gensiostack=tcp");
    for (const Case& c : cases) {
        const std::vector<std::string_view> entries(c.entries.begin(), c.entries.end());
        const discovery::AdvertisedDevice device = discovery::readTxt(entries);
        EXPECT_EQ(device.stack, c.stack) << c.what;
        EXPECT_EQ(device.identity, c.identity) << c.what;
        EXPECT_EQ(device.tls, c.tls) << c.what;
    }
    EXPECT_EQ(discovery::readTxt({filler.begin(), filler.end()}).stack, "") << "the 65th entry was read";
}

}  // namespace

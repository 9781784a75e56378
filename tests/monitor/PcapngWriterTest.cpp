// A capture written from a running port's records, as tshark reads it: the Telnet
// dissector decodes the speed set, the TCP stream is whole with good checksums, and
// the program's side is there in order.
#include "AdapterServer.h"
#include "monitor/MonitorConnection.h"
#include "monitor/PcapngWriter.h"
#include "support/LibraryFixture.h"
#include "support/SerialApp.h"
#include "support/Tshark.h"

#include <poll.h>

#include <fstream>
#include <set>
#include <sstream>

namespace {

using namespace std::chrono_literals;

class Capture : public LibraryFixture {};

TEST_F(Capture, TsharkReadsTheConnectionsTelnetAndTheProgramsSideCleanly)
{
    if (!tsharkInstalled())
        GTEST_SKIP() << "tshark is not installed (scripts/setup installs it)";
    vsp::AdapterServer adapter({.echo = true});
    vsp_createDevice("Connector", "5;0");
    vsp_createDevice("TcpClient", client(adapter.port(), 5).c_str());
    ASSERT_EQ(vsp_startEmulation(), 1);
    ASSERT_TRUE(waitUntil([&] { return adapter.settings().baud == 19200; }));

    // Begun on a connection already up (told first, with its addresses); then a new one.
    auto opened = monitor::MonitorConnection::open(5, 2000, portDir);
    ASSERT_TRUE(std::holds_alternative<monitor::MonitorConnection>(opened)) << std::get<std::string>(opened);
    auto& connection = std::get<monitor::MonitorConnection>(opened);
    const std::string file = portDir + "/../capture.pcapng";
    std::ofstream out(file, std::ios::binary);
    monitor::PcapngWriter writer(out, "COM5");
    std::vector<monitor::Record> records;
    std::multiset<vsp::monitor::Kind> seen;
    // Writes the records until `count` of `kind` came.
    const auto takeUntil = [&](vsp::monitor::Kind kind, std::size_t count = 1) {
        return waitUntil([&] {
            pollfd p{connection.fd(), POLLIN, 0};
            ::poll(&p, 1, 50);
            connection.read(records);
            for (const auto& record : records) {
                writer.write(record);
                seen.insert(record.header.kind);
            }
            records.clear();
            return seen.count(kind) >= count;
        });
    };
    {
        SerialApp app(portPath(5));
        app.write({'h', 'i', 0xFF});
        ASSERT_EQ(app.read(3).size(), 3u);
        ASSERT_TRUE(app.setSpeed(9600));
        ASSERT_TRUE(adapter.waitFor([&] { return adapter.settings().baud == 9600; }));
        adapter.dropClient();
        ASSERT_TRUE(takeUntil(vsp::monitor::Kind::Connected, 2));  // the live one, then the new one
        app.write({'o', 'k'});
        ASSERT_EQ(app.read(2).size(), 2u);
    }
    ASSERT_TRUE(takeUntil(vsp::monitor::Kind::PortClosed));
    out.close();

    const auto [summary, complaints] = tshark("-r " + file);
    EXPECT_EQ(complaints, "");
    for (const char* seen : {"COM5: a program opened the port", "COM5: to the device: hi\\xFF",
                             "COM5: from the device: hi\\xFF", "COM5: 9600 baud 8N1, no flow control, lines DTR RTS",
                             "COM5: connection ended: ", "COM5: connected to 127.0.0.1:", "COM5: the program closed the port",
                             "[SYN]", "[FIN, ACK]", "TELNET"})
        EXPECT_NE(summary.find(seen), std::string::npos) << seen << " in\n" << summary;
    // The connection up when the monitor began opens the file with its handshake;
    // the drop ends it and the new connection's handshake follows.
    EXPECT_LT(summary.find("[SYN]"), summary.find("opened the port"));
    EXPECT_LT(summary.find("opened the port"), summary.find("connection ended"));
    EXPECT_LT(summary.find("connection ended"), summary.rfind("[SYN]"));

    // SET-BAUDRATE 9600 sent to the adapter (port 23) and its answer, on both connections.
    const auto [bauds, baudComplaints] = tshark("-r " + file + " -Y telnet.comport_subopt.baud_rate -T fields "
                                                "-e tcp.srcport -e tcp.dstport -e telnet.comport_subopt.baud_rate");
    EXPECT_EQ(baudComplaints, "");
    int sent = 0, answered = 0;
    std::istringstream lines(bauds);
    for (std::string from, to, baud; lines >> from >> to >> baud;) {
        EXPECT_EQ(baud, "9600");
        sent += to == "23";
        answered += from == "23";
    }
    EXPECT_EQ(sent, 2) << bauds;
    EXPECT_EQ(answered, 2) << bauds;
    // Every checksum right, no segment missing, repeated or out of order.
    const auto [faults, _] = tshark("-r " + file + " -o ip.check_checksum:TRUE -o tcp.check_checksum:TRUE "
                                    "-Y 'ip.checksum.status != 1 || tcp.checksum.status != 1 || tcp.analysis.flags'");
    EXPECT_EQ(faults, "");
}

}  // namespace

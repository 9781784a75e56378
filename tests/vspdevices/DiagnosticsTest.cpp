// A device's diagnostics as the program will read them: why a redirect is not
// working, what it carried and dropped, what the adapter confirmed.
#include "AdapterServer.h"
#include "support/LibraryFixture.h"
#include "support/SerialApp.h"

#include <cstddef>
#include <netdb.h>
#include <thread>

namespace {

using namespace std::chrono_literals;
using vsp::AdapterServer;

class Diagnostics : public LibraryFixture {};

TEST_F(Diagnostics, ShowWhatTheAdapterConfirmedAndTheBytesEachWay)
{
    AdapterServer adapter({});
    const int connector = vsp_createDevice("Connector", "5;0");
    const int tcp = vsp_createDevice("TcpClient", client(adapter.port(), 5, "9600,0,7,2,2,0").c_str());
    EXPECT_EQ(diagnostics(tcp).state, VSP_STATE_STOPPED);
    EXPECT_EQ(diagnostics(connector).state, VSP_STATE_STOPPED);
    ASSERT_EQ(vsp_startEmulation(), 1);
    ASSERT_TRUE(waitUntil([&] { return diagnostics(tcp).ackStopSize == 2; }));

    vsp_diagnostics d = diagnostics(tcp);
    EXPECT_EQ(d.size, sizeof d);
    EXPECT_EQ(d.state, VSP_STATE_UP);
    EXPECT_EQ(d.lastErrorKind, VSP_ERROR_NONE);
    EXPECT_EQ(d.lastErrorTimeMs, 0);
    EXPECT_EQ(d.ackBaud, 9600);
    EXPECT_EQ(d.ackDataSize, 7);
    EXPECT_EQ(d.ackParity, 3);  // even
    EXPECT_EQ(d.portHeld, 0);
    EXPECT_EQ(d.lineState, -1);

    SerialApp app(portPath(5));
    std::this_thread::sleep_for(100ms);
    app.write({1, 2, 3, 0xFF});
    ASSERT_TRUE(adapter.waitFor([&] { return adapter.receivedCount() == 4; }));
    adapter.send({9, 8});
    EXPECT_EQ(app.read(2).size(), 2u);
    d = diagnostics(tcp);
    EXPECT_EQ(d.bytesToAdapter, 4u);  // serial bytes, not the escaped ones on the wire
    EXPECT_EQ(d.bytesFromAdapter, 2u);
    EXPECT_EQ(d.portHeld, 1);
    EXPECT_EQ(diagnostics(connector).portHeld, 1);
    EXPECT_EQ(diagnostics(connector).state, VSP_STATE_UP);
}

TEST_F(Diagnostics, TellWhyTheConnectionIsDownAndCountWhatWasDropped)
{
    AdapterServer adapter({});
    adapter.stop();  // nothing listens: refused
    vsp_createDevice("Connector", "5;0");
    const int tcp = vsp_createDevice("TcpClient", client(adapter.port(), 5).c_str());
    const auto before = std::chrono::system_clock::now();
    ASSERT_EQ(vsp_startEmulation(), 1);
    ASSERT_TRUE(waitUntil([&] { return diagnostics(tcp).lastErrorKind == VSP_ERROR_REFUSED; }));
    vsp_diagnostics d = diagnostics(tcp);
    EXPECT_NE(std::string(d.lastErrorText).find("refused"), std::string::npos) << d.lastErrorText;
    const auto when = std::chrono::system_clock::time_point(std::chrono::milliseconds(d.lastErrorTimeMs));
    EXPECT_GE(when, before - 1s);
    EXPECT_LE(when, std::chrono::system_clock::now() + 1s);
    EXPECT_EQ(d.upTimeMs, 0);

    // 100 KiB while the connection is down: 64 KiB wait for it, the rest is dropped.
    SerialApp app(portPath(5));
    std::this_thread::sleep_for(100ms);
    std::vector<std::uint8_t> bytes(100 * 1024, 'x');
    app.write(bytes);
    ASSERT_TRUE(waitUntil([&] { return diagnostics(tcp).bytesDropped == bytes.size() - 64 * 1024; }));

    adapter.start();
    ASSERT_TRUE(adapter.waitFor([&] { return adapter.receivedCount() == 64 * 1024; }, 8s));
    d = diagnostics(tcp);
    EXPECT_EQ(d.bytesToAdapter, 64u * 1024);
    EXPECT_EQ(d.bytesDropped, bytes.size() - 64 * 1024);
    EXPECT_EQ(d.lastErrorKind, VSP_ERROR_REFUSED);  // the last failure stays readable once up
    EXPECT_EQ(d.reconnects, 0u);

    adapter.dropClient();
    ASSERT_TRUE(waitUntil([&] { return diagnostics(tcp).reconnects == 1 && diagnostics(tcp).state == VSP_STATE_UP; }, 8s));
    const int kind = diagnostics(tcp).lastErrorKind;
    EXPECT_TRUE(kind == VSP_ERROR_CLOSED_BY_PEER || kind == VSP_ERROR_RESET) << kind;

    // Down again: what the last connection's adapter confirmed is not shown as current.
    ASSERT_TRUE(waitUntil([&] { return diagnostics(tcp).ackBaud == 19200; }));
    adapter.stop();
    ASSERT_TRUE(waitUntil([&] { return diagnostics(tcp).state != VSP_STATE_UP; }));
    d = diagnostics(tcp);
    EXPECT_EQ(std::vector<std::int64_t>({d.ackBaud, d.ackDataSize, d.ackParity, d.ackStopSize}),
              std::vector<std::int64_t>({-1, -1, -1, -1}));
}

// True when this machine's own resolver knows the name (a minimal root without
// /etc/hosts does not know even "localhost").
bool machineResolves(const char* name)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const bool known = ::getaddrinfo(name, "1", &hints, &list) == 0;
    if (list)
        ::freeaddrinfo(list);
    return known;
}

TEST_F(Diagnostics, AHostNameIsLookedUpAndReached)
{
    if (!machineResolves("localhost"))
        GTEST_SKIP() << "this machine cannot resolve localhost (no /etc/hosts?)";
    AdapterServer adapter({});
    vsp_createDevice("Connector", "5;0");
    const std::string init = " localhost ;" + std::to_string(adapter.port()) + ";5;19200,0,8,1,0,0;1;0;";
    const int tcp = vsp_createDevice("TcpClient", init.c_str());
    ASSERT_GE(tcp, 0);
    ASSERT_EQ(vsp_startEmulation(), 1);
    EXPECT_TRUE(waitUntil([&] { return diagnostics(tcp).state == VSP_STATE_UP; }));
    EXPECT_EQ(adapter.connections(), 1);
}

TEST_F(Diagnostics, RefuseUnknownDevicesAndTooSmallRecords)
{
    const int connector = vsp_createDevice("Connector", "5;0");
    vsp_diagnostics d{};
    d.size = sizeof d;
    EXPECT_EQ(vsp_getDeviceDiagnostics(connector + 1, &d), 0);
    EXPECT_EQ(vsp_getDeviceDiagnostics(connector, nullptr), 0);
    // The first version's record (up to the TLS fields): filled that far, the rest untouched.
    const auto firstVersion = static_cast<std::uint32_t>(offsetof(vsp_diagnostics, tls));
    d.size = firstVersion - 8;
    EXPECT_EQ(vsp_getDeviceDiagnostics(connector, &d), 0);
    d.size = firstVersion;
    d.tls = 7;
    EXPECT_EQ(vsp_getDeviceDiagnostics(connector, &d), 1);
    EXPECT_EQ(d.size, firstVersion);
    EXPECT_EQ(d.tls, 7);
    d.size = sizeof d + 64;  // a later caller's bigger record: filled as far as known
    EXPECT_EQ(vsp_getDeviceDiagnostics(connector, &d), 1);
    EXPECT_EQ(d.size, sizeof d);
    vsp_release();
    d.size = sizeof d;
    EXPECT_EQ(vsp_getDeviceDiagnostics(connector, &d), 0);
    ASSERT_EQ(vsp_initialize(), 1);
}

}  // namespace

// Ports and connections for real: an application on the virtual port, the library
// in between, and a simulated adapter on loopback.
#include "AdapterServer.h"
#include "support/LibraryFixture.h"
#include "support/SerialApp.h"

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <thread>

using vsp::AdapterServer;

namespace {

class Emulation : public LibraryFixture {
protected:
    // One redirect on COM5 to the adapter, emulation started, the port's link present.
    void startRedirect(const std::string& serial = "19200,0,8,1,0,0", bool telnet = true, bool onDemand = false)
    {
        connector = vsp_createDevice("Connector", "5;0");
        tcp = vsp_createDevice("TcpClient", client(adapter->port(), 5, serial, telnet, onDemand).c_str());
        ASSERT_GE(tcp, 0);
        ASSERT_EQ(vsp_startEmulation(), 1);
        ASSERT_TRUE(std::filesystem::is_symlink(portPath(5)));
    }
    void makeAdapter(AdapterServer::Options options) { adapter = std::make_unique<AdapterServer>(options); }
    bool connectedAndNegotiated() { return state(tcp).ok == 1; }

    std::unique_ptr<AdapterServer> adapter;
    int connector = -1;
    int tcp = -1;
};

TEST_F(Emulation, EveryByteValueCrossesBothWaysUnchangedOverTelnetRawTcpAndWithoutPortControl)
{
    const struct {
        const char* name;
        AdapterServer::Options adapter;
        bool telnet;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"Telnet", {}, true, everyByte(64)},  // 16 KiB, 0xFF among them
        {"raw TCP, IAC unescaped", {.telnet = false}, false, {0xFF, 0xFF, 0xFA, 0xF0, 'x'}},
        {"an adapter refusing port control", {.refuseComPort = true}, true, {1, 2, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        makeAdapter(c.adapter);
        startRedirect("19200,0,8,1,0,0", c.telnet);
        ASSERT_TRUE(waitUntil([&] { return connectedAndNegotiated(); }));
        auto app = openHeld(portPath(5));
        ASSERT_TRUE(app->isOpen());

        app->write(c.bytes);
        EXPECT_TRUE(adapter->waitFor([&] { return adapter->received().size() >= c.bytes.size(); }));
        EXPECT_EQ(adapter->received(), c.bytes);
        adapter->send(c.bytes);
        EXPECT_EQ(app->read(c.bytes.size()), c.bytes);
        if (c.adapter.refuseComPort)
            EXPECT_FALSE(adapter->settings().baud.has_value());

        app.reset();
        vsp_destroyAllDevices();
    }
}

TEST_F(Emulation, AdapterGetsTheSerialSettingsAndModemLinesFollowTheApplication)
{
    makeAdapter({});
    startRedirect("9600,1,7,2,2,0");
    ASSERT_TRUE(adapter->waitFor([&] { return adapter->settings().stopSize.has_value(); }));
    const auto s = adapter->settings();
    EXPECT_EQ(s.baud, 9600u);
    EXPECT_EQ(s.dataSize, 7);
    EXPECT_EQ(s.parity, 3);  // even
    EXPECT_EQ(s.stopSize, 2);
    ASSERT_TRUE(adapter->waitFor([&] { return adapter->settings().controls.size() >= 2; }));
    EXPECT_EQ(adapter->settings().controls, (std::vector<std::uint8_t>{9, 12}));  // no application yet

    auto app = openHeld(portPath(5));
    ASSERT_TRUE(adapter->waitFor([&] { return adapter->settings().controls.size() >= 4; }));
    EXPECT_EQ(adapter->settings().controls, (std::vector<std::uint8_t>{9, 12, 8, 11}));

    ASSERT_TRUE(app->setSpeed(115200));
    EXPECT_TRUE(adapter->waitFor([&] { return adapter->settings().baud == 115200u; }));

    app->close();
    ASSERT_TRUE(adapter->waitFor([&] { return adapter->settings().controls.size() >= 6; }));
    EXPECT_EQ(adapter->settings().controls, (std::vector<std::uint8_t>{9, 12, 8, 11, 9, 12}));
}

TEST_F(Emulation, APortShowsAStandardSpeedToApplicationsAndCarriesAnyOtherToTheAdapter)
{
    makeAdapter({});
    startRedirect("9600,0,8,1,0,0");
    ASSERT_TRUE(adapter->waitFor([&] { return adapter->settings().baud == 9600u; }));
    auto app = openHeld(portPath(5));
    EXPECT_EQ(app->speedConstant(), static_cast<unsigned>(B9600));

    ASSERT_TRUE(app->setAnySpeed(31250));
    EXPECT_TRUE(adapter->waitFor([&] { return adapter->settings().baud == 31250u; }));
    ASSERT_TRUE(app->setSpeed(57600));
    EXPECT_TRUE(adapter->waitFor([&] { return adapter->settings().baud == 57600u; }));
    EXPECT_EQ(app->speedConstant(), static_cast<unsigned>(B57600));
}

TEST_F(Emulation, APortProbeThatOpensAndClosesAtOnceSendsNoDtrPulse)
{
    makeAdapter({});
    startRedirect("19200,1,8,1,0,0");
    ASSERT_TRUE(adapter->waitFor([&] { return adapter->settings().controls.size() >= 2; }));
    for (int i = 0; i < 20; ++i)
        SerialApp probe(portPath(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(adapter->settings().controls, (std::vector<std::uint8_t>{9, 12}));
}

TEST_F(Emulation, FlagsFollowTheConnectionAndItComesBackAfterTheAdapterRestarts)
{
    makeAdapter({});
    startRedirect();
    ASSERT_TRUE(waitUntil([&] { return connectedAndNegotiated(); }));
    EXPECT_EQ(state(tcp).ready, 1);
    EXPECT_EQ(adapter->connections(), 1);

    adapter->stop();
    ASSERT_TRUE(waitUntil([&] { return state(tcp).ok == 0; }));
    EXPECT_EQ(state(tcp).ready, 1);  // still trying
    adapter->start();
    ASSERT_TRUE(waitUntil([&] { return connectedAndNegotiated(); }, std::chrono::seconds(8)));
    EXPECT_EQ(adapter->connections(), 2);

    vsp_reinitializeDevice(tcp);  // drops the connection and connects again at once
    EXPECT_TRUE(adapter->waitFor([&] { return adapter->connections() == 3; }));
}

TEST_F(Emulation, BytesWrittenBeforeTheAdapterAnswersAreSentOnceConnected)
{
    makeAdapter({});
    adapter->stop();
    startRedirect();
    auto app = openHeld(portPath(5));
    const auto bytes = everyByte(4);
    app->write(bytes);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    adapter->start();
    EXPECT_TRUE(adapter->waitFor([&] { return adapter->received().size() >= bytes.size(); }, std::chrono::seconds(8)));
    EXPECT_EQ(adapter->received(), bytes);
}

TEST_F(Emulation, StopIsRefusedWhileAnApplicationHoldsAPortAndDestroyHangsItUp)
{
    makeAdapter({});
    startRedirect();
    auto app = openHeld(portPath(5));
    EXPECT_EQ(vsp_stopEmulation(), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(portPath(5)));
    EXPECT_EQ(state(tcp).ready, 1);

    vsp_destroyDevice(connector);
    EXPECT_TRUE(app->hungUp());
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(portPath(5))));
    EXPECT_EQ(vsp_stopEmulation(), 1);
}

TEST_F(Emulation, ConnectOnDemandOnlyWhileAnApplicationHoldsThePort)
{
    makeAdapter({});
    startRedirect("19200,0,8,1,0,0", true, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(adapter->connections(), 0);
    auto app = openHeld(portPath(5));
    ASSERT_TRUE(adapter->waitFor([&] { return adapter->connections() == 1; }));
    app->write({'h', 'i'});
    EXPECT_TRUE(adapter->waitFor([&] { return adapter->received().size() == 2; }));
    app->close();
    EXPECT_TRUE(waitUntil([&] { return state(tcp).ok == 0; }));
}

TEST_F(Emulation, SavedConfigurationLoadsBackAndABadFileChangesNothing)
{
    vsp_createDevice("Connector", "5;0");
    vsp_createDevice("TcpClient", client(3001, 5).c_str());
    vsp_createDevice("Connector", "9;0");
    const std::string file = portDir + "/../saved.qlc";
    ASSERT_EQ(vsp_saveConfiguration(file.c_str()), 1);

    std::ofstream(portDir + "/../bad.qlc") << std::string(R"({"format":"vspdevices-configuration","version":1,"devices":[)");
    EXPECT_EQ(vsp_loadConfiguration((portDir + "/../bad.qlc").c_str()), 0);
    EXPECT_EQ(vsp_loadConfiguration((portDir + "/../none.qlc").c_str()), 0);
    EXPECT_EQ(vsp_getDevicesCount(), 3);

    vsp_destroyAllDevices();
    vsp_createDevice("Connector", "1;0");
    ASSERT_EQ(vsp_loadConfiguration(file.c_str()), 1);
    ASSERT_EQ(vsp_getDevicesCount(), 3);
    EXPECT_EQ(state(vsp_getDeviceIdByIdx(0)).init, "5;0");
    EXPECT_EQ(state(vsp_getDeviceIdByIdx(1)).init, client(3001, 5));
    EXPECT_EQ(state(vsp_getDeviceIdByIdx(2)).init, "9;0");
    EXPECT_GT(vsp_getDeviceIdByIdx(0), 3);  // fresh ids
    EXPECT_EQ(vsp_saveConfiguration("/proc/no/such.qlc"), 0);
}

}  // namespace

namespace {

TEST_F(Emulation, AnApplicationThatReadsLateLosesNothing)
{
    makeAdapter({});
    startRedirect();
    ASSERT_TRUE(waitUntil([&] { return connectedAndNegotiated(); }));
    auto app = openHeld(portPath(5));
    const auto bytes = everyByte(8 * 1024);  // 2 MiB, far beyond every buffer on the way
    std::thread sender([&] { adapter->send(bytes); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the application is not reading
    EXPECT_EQ(app->read(bytes.size(), std::chrono::seconds(20)), bytes);
    sender.join();
}

TEST_F(Emulation, ReadTimeoutGathersBytesUntilTheApplicationPauses)
{
    makeAdapter({});
    startRedirect("19200,0,8,1,0,300");
    ASSERT_TRUE(waitUntil([&] { return connectedAndNegotiated(); }));
    auto app = openHeld(portPath(5));
    app->write({'a'});
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    app->write({'b'});
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    EXPECT_EQ(adapter->receivedCount(), 0u);  // still within the pause
    EXPECT_TRUE(adapter->waitFor([&] { return adapter->receivedCount() == 2; }));
}

}  // namespace

namespace {

TEST_F(Emulation, BytesFromAnApplicationThatClosesAtOnceStillReachTheAdapter)
{
    makeAdapter({});
    startRedirect();
    ASSERT_TRUE(waitUntil([&] { return connectedAndNegotiated(); }));
    {
        SerialApp echo(portPath(5));  // like: echo hi > COM5
        echo.write({'h', 'i', '\n'});
    }
    EXPECT_TRUE(adapter->waitFor([&] { return adapter->receivedCount() == 3; }));
    EXPECT_EQ(adapter->received(), (std::vector<std::uint8_t>{'h', 'i', '\n'}));
}

}  // namespace

namespace {

TEST_F(Emulation, ReleasingMidWriteSendsTheAdapterEveryByteTheProgramsWritesAccepted)
{
    for (const bool echo : {false, true}) {  // an echo keeps bytes coming while the connection ends
        SCOPED_TRACE(echo ? "echoing adapter" : "silent adapter");
        if (echo)
            ASSERT_EQ(vsp_initialize(), 1);
        makeAdapter({.echo = echo});
        startRedirect();
        ASSERT_TRUE(waitUntil([&] { return connectedAndNegotiated(); }));
        auto app = openHeld(portPath(5));
        const auto block = everyByte(40 * 1024);  // 10 MiB, never read back
        std::atomic<std::size_t> accepted = 0;
        std::thread writer = writeUntilHungUp(app->fd(), block, accepted);
        ASSERT_TRUE(adapter->waitFor([&] { return adapter->receivedCount() >= (1u << 20); }, std::chrono::seconds(20)));
        vsp_release();  // what the service does on SIGTERM, and the window on its exit
        writer.join();
        ASSERT_LT(accepted.load(), block.size());
        const auto received = adapter->received();
        EXPECT_EQ(received.size(), accepted.load()) << "accepted by write() but not received";
        EXPECT_EQ(std::mismatch(received.begin(), received.end(), block.begin()).first - received.begin(),
                  static_cast<std::ptrdiff_t>(received.size())) << "the first byte that differs";
    }
}

}  // namespace

// What an application's termios calls carry to the adapter with no help: speed, stop
// bits and flow control as it sets them, in their place among its bytes; flushes
// both ways; bytes right after opening; the port's state again after the adapter
// comes back; the redirect's speed whatever order its devices came in; and XON/XOFF
// from the device acting on an application's output while it has IXON.
#include "AdapterServer.h"
#include "Rfc2217.h"
#include "support/LibraryFixture.h"
#include "support/SerialApp.h"

#include <sys/ioctl.h>
#include <unistd.h>
#include <termios.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <string>
#include <thread>

using vsp::AdapterServer;
using vsp::rfc2217::Message;
namespace rfc2217 = vsp::rfc2217;

namespace {

using Bytes = std::vector<std::uint8_t>;

class PortSettings : public LibraryFixture {
protected:
    void startRedirect(const std::string& serial = "19200,0,8,1,0,0", AdapterServer::Options options = {})
    {
        adapter = std::make_unique<AdapterServer>(options);
        vsp_createDevice("Connector", "5;0");
        tcp = vsp_createDevice("TcpClient", client(adapter->port(), 5, serial).c_str());
        ASSERT_EQ(vsp_startEmulation(), 1);
        ASSERT_TRUE(waitUntil([&] { return state(tcp).ok == 1; }));
    }

    // The commands a line received, as "SET-BAUDRATE 9600" ..., with "@n" when n
    // data bytes came before the command.
    std::vector<std::string> log(int line = 1) const
    {
        const auto commands = adapter->commands(line);
        const auto before = adapter->dataBeforeCommands(line);
        std::vector<std::string> text;
        for (std::size_t i = 0; i < commands.size(); ++i)
            text.push_back(rfc2217::describe(commands[i]) + (before[i] ? " @" + std::to_string(before[i]) : ""));
        return text;
    }
    // The commands after the settings a connection starts with (baud, size, parity,
    // stop), leaving out the request for modem-line reports every connection makes.
    std::vector<std::string> changes(int line = 1) const
    {
        auto all = log(line);
        std::erase_if(all, [](const std::string& c) { return c.starts_with("SET-MODEMSTATE-MASK"); });
        all.erase(all.begin(), all.begin() + std::min<std::size_t>(4, all.size()));
        return all;
    }
    bool logged(std::size_t count, int line = 1) const
    {
        return adapter->waitFor([&] {
            const auto commands = adapter->commands(line);
            return std::count_if(commands.begin(), commands.end(), [](const rfc2217::Message& c) {
                       return c.code != rfc2217::SetModemStateMask;
                   }) >= static_cast<std::ptrdiff_t>(count);
        });
    }

    std::unique_ptr<AdapterServer> adapter;
    int tcp = -1;
};

bool setTermios(const SerialApp& app, const std::function<void(termios&)>& change)
{
    termios t{};
    if (::tcgetattr(app.fd(), &t) != 0)
        return false;
    change(t);
    return ::tcsetattr(app.fd(), TCSANOW, &t) == 0;
}

TEST_F(PortSettings, EveryByteWrittenAfterASpeedChangeReachesTheAdapterAfterItsSetBaudRate)
{
    startRedirect();
    const unsigned speeds[] = {9600, 31250, 57600, 115200, 38400};
    constexpr int cycles = 1000;
    for (int i = 0; i < cycles; ++i) {
        SerialApp app(portPath(5));
        ASSERT_TRUE(app.setAnySpeed(speeds[i % 5]));
        app.write({static_cast<std::uint8_t>(i)});
        app.close();
        ASSERT_TRUE(adapter->waitFor([&] { return adapter->receivedCount() == static_cast<std::size_t>(i) + 1; })) << i;
    }
    // Byte i sits at place i of the data; the last SET-BAUDRATE before it must be its own.
    const auto commands = adapter->commands(1);
    const auto before = adapter->dataBeforeCommands(1);
    int wrong = 0;
    for (int i = 0; i < cycles; ++i) {
        std::uint32_t speed = 0;
        for (std::size_t c = 0; c < commands.size() && before[c] <= static_cast<std::size_t>(i); ++c)
            if (commands[c].code == rfc2217::SetBaudRate)
                speed = commands[c].value;
        if (speed != speeds[i % 5] && ++wrong <= 5) {
            std::string around;
            for (std::size_t c = 0; c < commands.size(); ++c)
                if (before[c] + 3 >= static_cast<std::size_t>(i) && before[c] <= static_cast<std::size_t>(i) + 3)
                    around += std::to_string(before[c]) + ":" + std::to_string(commands[c].code) + "=" + std::to_string(commands[c].value) + " ";
            ADD_FAILURE() << "byte " << i << " went out at " << speed << ", not " << speeds[i % 5] << " | " << around;
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(adapter->received().size(), static_cast<std::size_t>(cycles));
}

TEST_F(PortSettings, StopBitsAndFlowControlReachTheAdapterEvenFromAProgramThatClearsEveryLocalFlag)
{
    startRedirect();
    ASSERT_TRUE(logged(4));
    SerialApp app(portPath(5));
    ASSERT_TRUE(setTermios(app, [](termios& t) { t.c_cflag |= CSTOPB | CRTSCTS; }));
    ASSERT_TRUE(logged(7));
    ASSERT_TRUE(setTermios(app, [](termios& t) {
        t.c_cflag &= ~CRTSCTS;
        t.c_iflag |= IXON | IXOFF;
    }));
    ASSERT_TRUE(logged(9));
    // As many C programs do: every local flag cleared at once, the speed with it.
    ASSERT_TRUE(setTermios(app, [](termios& t) {
        t.c_lflag = 0;
        t.c_iflag &= ~(IXON | IXOFF);
        t.c_cflag &= ~CSTOPB;
        ::cfsetspeed(&t, B9600);
    }));
    ASSERT_TRUE(logged(13));
    ASSERT_TRUE(setTermios(app, [](termios& t) { ::cfsetspeed(&t, B4800); }));  // still seen
    ASSERT_TRUE(logged(14));
    EXPECT_EQ(changes(), (std::vector<std::string>{
                             "SET-STOPSIZE 2", "SET-CONTROL 3 (hardware flow control)", "SET-CONTROL 16 (inbound hardware flow control)",
                             "SET-CONTROL 2 (XON/XOFF flow control)", "SET-CONTROL 15 (inbound XON/XOFF flow control)",
                             "SET-BAUDRATE 9600", "SET-STOPSIZE 1", "SET-CONTROL 1 (no flow control)",
                             "SET-CONTROL 14 (no inbound flow control)", "SET-BAUDRATE 4800"}));
    termios t{};
    ASSERT_EQ(::tcgetattr(app.fd(), &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B4800));  // what the program set, read back
}

TEST_F(PortSettings, SettingsOfAProgramThatClosesAtOnceStillGoOutBeforeTheNextProgramsBytes)
{
    startRedirect();
    ASSERT_TRUE(logged(4));
    {
        SerialApp stty(portPath(5));  // like: stty -F COM5 4800; printf x > COM5
        ASSERT_TRUE(setTermios(stty, [](termios& t) { ::cfsetspeed(&t, B4800); }));
    }
    {
        SerialApp printf(portPath(5));
        printf.write({'x'});
    }
    ASSERT_TRUE(adapter->waitFor([&] { return adapter->receivedCount() == 1; }));
    EXPECT_EQ(changes(), std::vector<std::string>{"SET-BAUDRATE 4800"});
}

TEST_F(PortSettings, AnOutputFlushDiscardsWhatWasNotSentAndPurgesTheAdaptersTransmitBuffer)
{
    startRedirect("19200,0,8,1,0,60000");  // bytes are gathered for a minute
    ASSERT_TRUE(logged(4));
    SerialApp app(portPath(5));
    app.write({'o', 'l', 'd'});
    ASSERT_EQ(::tcflush(app.fd(), TCOFLUSH), 0);
    app.write({'n', 'e', 'w'});
    ASSERT_TRUE(logged(5));
    EXPECT_EQ(changes(), std::vector<std::string>{"PURGE-DATA 2 (transmit buffer)"});
    app.close();  // what is gathered goes out when the program leaves
    ASSERT_TRUE(adapter->waitFor([&] { return adapter->receivedCount() >= 3; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // "old" is gone, except in the kernel's one gap: bytes it had already passed on
    // to the master before the flush survive it, reported after it.
    const Bytes received = adapter->received();
    EXPECT_TRUE(received == (Bytes{'n', 'e', 'w'}) || received == (Bytes{'o', 'l', 'd', 'n', 'e', 'w'}))
        << std::string(received.begin(), received.end());
}

TEST_F(PortSettings, AnInputFlushDiscardsWhatTheProgramHadNotReadAndPurgesTheAdaptersReceiveBuffer)
{
    startRedirect();
    ASSERT_TRUE(logged(4));
    SerialApp app(portPath(5));
    adapter->send({'o', 'l', 'd'});
    int waiting = 0;
    ASSERT_TRUE(waitUntil([&] { return ::ioctl(app.fd(), FIONREAD, &waiting) == 0 && waiting == 3; }));
    ASSERT_EQ(::tcflush(app.fd(), TCIFLUSH), 0);
    ASSERT_TRUE(logged(5));
    adapter->send({'n', 'e', 'w'});
    EXPECT_EQ(app.read(3), (Bytes{'n', 'e', 'w'}));

    // Both ways at once: the kernel reports the two halves one after the other, so
    // the adapter gets them as one purge or as two.
    ASSERT_EQ(::tcflush(app.fd(), TCIOFLUSH), 0);
    const std::vector<std::string> together{"PURGE-DATA 1 (receive buffer)", "PURGE-DATA 3 (both buffers)"};
    const std::vector<std::string> inTurn{"PURGE-DATA 1 (receive buffer)", "PURGE-DATA 1 (receive buffer)",
                                          "PURGE-DATA 2 (transmit buffer)"};
    EXPECT_TRUE(adapter->waitFor([&] { return changes() == together || changes() == inTurn; }))
        << ::testing::PrintToString(changes());
}

TEST_F(PortSettings, BytesFlowBothWaysFromTheMomentOfOpeningAndAProbeRaisesNoLine)
{
    startRedirect("19200,1,8,1,0,0", {.echo = true});
    ASSERT_TRUE(logged(6));  // the settings, DTR and RTS off
    for (int i = 0; i < 20; ++i) {
        SerialApp probe(portPath(5));
        setTermios(probe, [](termios&) {});  // reads and sets the settings unchanged
    }
    // What the adapter sends right after the open reaches the application.
    SerialApp app(portPath(5));
    adapter->send({'h', 'i'});
    EXPECT_EQ(app.read(2), (Bytes{'h', 'i'}));
    // The first byte confirms the open: DTR and RTS go up with it, not a timer later.
    app.write({'x'});
    EXPECT_EQ(app.read(1), Bytes{'x'});
    EXPECT_EQ(changes(), (std::vector<std::string>{"SET-CONTROL 9 (DTR off)", "SET-CONTROL 12 (RTS off)",
                                                    "SET-CONTROL 8 (DTR on)", "SET-CONTROL 11 (RTS on)"}));
}

TEST_F(PortSettings, AnAdapterThatComesBackGetsThePortAsTheProgramLastSetItBeforeAnyByte)
{
    startRedirect("19200,1,8,1,0,0");
    SerialApp app(portPath(5));
    ASSERT_TRUE(setTermios(app, [](termios& t) {
        ::cfsetspeed(&t, B57600);
        t.c_cflag |= CSTOPB | CRTSCTS;
    }));
    ASSERT_TRUE(logged(10));

    adapter->dropClient();  // comes back at once
    ASSERT_TRUE(adapter->waitFor([&] { return adapter->connections() == 2; }));
    ASSERT_TRUE(logged(8, 2));
    const std::vector<std::string> restored = {"SET-BAUDRATE 57600", "SET-DATASIZE 8", "SET-PARITY 1",
                                               "SET-STOPSIZE 2", "SET-CONTROL 3 (hardware flow control)",
                                               "SET-CONTROL 16 (inbound hardware flow control)", "SET-CONTROL 8 (DTR on)",
                                               "SET-CONTROL 11 (RTS on)", "SET-MODEMSTATE-MASK 255 (0xFF)"};
    EXPECT_EQ(log(2), restored);

    // Changed while the adapter is away, written before it is back: the settings
    // still come first.
    adapter->stop();
    ASSERT_TRUE(waitUntil([&] { return state(tcp).ok == 0; }));
    ASSERT_TRUE(setTermios(app, [](termios& t) { ::cfsetspeed(&t, B115200); }));
    app.write({'l', 'a', 't', 'e'});
    adapter->start();
    ASSERT_TRUE(adapter->waitFor([&] { return adapter->received(3).size() == 4; }, std::chrono::seconds(8)));
    auto expected = restored;
    expected[0] = "SET-BAUDRATE 115200";
    EXPECT_EQ(log(3), expected);
}

TEST_F(PortSettings, APortHasItsRedirectsSpeedInEveryCreationOrderAndTheAdapterKeepsWhatTheProgramSet)
{
    struct Order {
        const char* name;
        bool startFirst;  // emulation runs before the devices are created
        bool portFirst;   // the Connector is created before the TcpClient
        bool update;      // an update: both devices of a running redirect are made again
    };
    const Order orders[] = {
        {"port first, then start", false, true, false},
        {"client first, then start", false, false, false},
        {"port first while running", true, true, false},
        {"client first while running", true, false, false},
        {"update recreating both", true, true, true},
    };
    for (const Order& order : orders) {
        SCOPED_TRACE(order.name);
        adapter = std::make_unique<AdapterServer>(AdapterServer::Options{});
        auto createRedirect = [&](const std::string& serial) {
            const std::string init = client(adapter->port(), 7, serial);
            if (order.portFirst)
                vsp_createDevice("Connector", "7;0");
            tcp = vsp_createDevice("TcpClient", init.c_str());
            if (!order.portFirst)
                vsp_createDevice("Connector", "7;0");
        };
        if (order.startFirst)
            ASSERT_EQ(vsp_startEmulation(), 1);
        if (order.update) {  // as the editor does: remove both, create the Connector, then the TcpClient
            createRedirect("9600,0,8,1,0,0");
            ASSERT_TRUE(waitUntil([&] { return state(tcp).ok == 1; }));
            vsp_destroyDevice(tcp);
            vsp_destroyDevice(vsp_getDeviceIdByIdx(0));
        }
        createRedirect("115200,0,8,1,0,0");
        ASSERT_EQ(vsp_startEmulation(), 1);
        ASSERT_TRUE(waitUntil([&] { return state(tcp).ok == 1; }));
        const int line = adapter->connections();
        ASSERT_TRUE(adapter->waitFor([&] { return adapter->settings(line).baud.has_value(); }));
        EXPECT_EQ(adapter->settings(line).baud, 115200u);

        SerialApp app(portPath(7));  // what stty and Wine's GetCommState read
        EXPECT_EQ(app.speedConstant(), static_cast<unsigned>(B115200));
        ASSERT_TRUE(app.setAnySpeed(19200));
        EXPECT_TRUE(adapter->waitFor([&] { return adapter->settings(line).baud == 19200u; }));
        adapter->dropClient();  // the adapter comes back and gets what the program set
        ASSERT_TRUE(adapter->waitFor([&] { return adapter->settings(line + 1).baud.has_value(); }, std::chrono::seconds(8)));
        EXPECT_EQ(adapter->settings(line + 1).baud, 19200u);

        app.close();
        vsp_destroyAllDevices();
        adapter.reset();
    }
}

TEST_F(PortSettings, WithIxonTheDevicesXoffStopsTheProgramsOutputUntilXonAndNeitherReachesItsInput)
{
    startRedirect();
    ASSERT_TRUE(logged(4));
    for (const bool ixon : {true, false}) {
        SCOPED_TRACE(ixon ? "IXON on" : "IXON off");
        SerialApp app(portPath(5));
        ASSERT_TRUE(setTermios(app, [&](termios& t) {
            t.c_iflag = ixon ? t.c_iflag | IXON : t.c_iflag & ~IXON;
        }));
        const std::size_t sentBefore = adapter->receivedCount();
        adapter->send({'a', 0x13, 'b'});
        if (!ixon) {  // plain data, as before
            adapter->send({0x11});
            EXPECT_EQ(app.read(4), (Bytes{'a', 0x13, 'b', 0x11}));
            continue;
        }
        EXPECT_EQ(app.read(3, std::chrono::milliseconds(500)), (Bytes{'a', 'b'}));  // 'b' came after the XOFF took effect

        // Stopped: the program's write takes nothing and blocks, as pyserial's write timeout expects.
        const Bytes block = everyByte(16);
        errno = 0;
        EXPECT_EQ(::write(app.fd(), block.data(), block.size()), -1);
        EXPECT_EQ(errno, EAGAIN);
        std::thread writer([&] { app.write(block); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(adapter->receivedCount(), sentBefore);

        adapter->send({0x11});
        writer.join();
        EXPECT_TRUE(adapter->waitFor([&] { return adapter->receivedCount() == sentBefore + block.size(); }));
        const Bytes received = adapter->received();
        EXPECT_EQ(Bytes(received.begin() + static_cast<std::ptrdiff_t>(sentBefore), received.end()), block);
        EXPECT_TRUE(app.read(1, std::chrono::milliseconds(100)).empty());  // nor the XON
    }
}

}  // namespace

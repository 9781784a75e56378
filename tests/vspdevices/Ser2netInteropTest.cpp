// Against a real third-party adapter: ser2net's RFC 2217 accepter serving one end
// of a socat pseudo-terminal pair, whose other end plays the serial device.
#include "support/ChildProcess.h"
#include "support/Loopback.h"
#include "support/LibraryFixture.h"
#include "support/SerialApp.h"

#include <asio.hpp>
#include <filesystem>
#include <fstream>
#include <termios.h>
#include <thread>

namespace {

class Ser2netInterop : public LibraryFixture {
protected:
    void SetUp() override
    {
        LibraryFixture::SetUp();
        for (const char* tool : {"ser2net", "socat"})
            if (!ChildProcess::onPath(tool))
                GTEST_SKIP() << tool << " is not installed (scripts/setup installs it)";
        work = std::filesystem::path(portDir).parent_path().string();
        socat = std::make_unique<ChildProcess>(
            std::vector<std::string>{"socat", "pty,raw,echo=0,link=" + work + "/dev", "pty,raw,echo=0,link=" + work + "/device"},
            work + "/socat.log");
        ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(work + "/device"); })) << "socat made no pty pair";
        port = freeLoopbackPort();
        ser2net = std::make_unique<ChildProcess>(
            std::vector<std::string>{"ser2net", "-d", "-u", "-P", work + "/ser2net.pid", "-Y", "connection: &redirect", "-Y",
                                     "  accepter: telnet(rfc2217),tcp,127.0.0.1," + std::to_string(port), "-Y",
                                     "  connector: serialdev," + work + "/dev,9600n81,local"},
            work + "/ser2net.log");
        ASSERT_TRUE(waitUntil([&] { return acceptsConnections(port); })) << "ser2net did not listen; see " << work << "/ser2net.log";
    }

    std::string work;
    std::uint16_t port = 0;
    std::unique_ptr<ChildProcess> socat;
    std::unique_ptr<ChildProcess> ser2net;
};

TEST_F(Ser2netInterop, DataCrossesBothWaysAndTheBaudRateReachesTheDevice)
{
    // ser2net opens its device only when a client connects, so the settings can be
    // checked on the device once data has flowed.
    SerialApp device(work + "/device");
    ASSERT_TRUE(device.isOpen());
    ASSERT_GE(vsp_createDevice("Connector", "5;0"), 0);
    const int tcp = vsp_createDevice("TcpClient", client(port, 5, "57600,1,8,1,0,0").c_str());
    ASSERT_EQ(vsp_startEmulation(), 1);
    ASSERT_TRUE(waitUntil([&] { return state(tcp).ok == 1; })) << "no connection to ser2net";

    SerialApp app(portPath(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto bytes = everyByte(8);
    app.write(bytes);
    EXPECT_EQ(device.read(bytes.size()), bytes);
    device.write(bytes);
    EXPECT_EQ(app.read(bytes.size()), bytes);

    auto deviceSpeed = [&] {
        const int fd = ::open((work + "/dev").c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        termios t{};
        ::tcgetattr(fd, &t);
        ::close(fd);
        return ::cfgetospeed(&t);
    };
    EXPECT_TRUE(waitUntil([&] { return deviceSpeed() == B57600; })) << "the redirect's baud rate did not reach ser2net's device";
    ASSERT_TRUE(app.setSpeed(115200));
    EXPECT_TRUE(waitUntil([&] { return deviceSpeed() == B115200; })) << "the application's speed change did not reach the device";
}

// What ser2net's device shows of an application's stop bits and flow control (a pty
// keeps these, unlike data size and parity).
TEST_F(Ser2netInterop, StopBitsAndHardwareFlowControlReachTheDevice)
{
    SerialApp device(work + "/device");
    ASSERT_TRUE(device.isOpen());
    ASSERT_GE(vsp_createDevice("Connector", "5;0"), 0);
    const int tcp = vsp_createDevice("TcpClient", client(port, 5, "9600,1,8,1,0,0").c_str());
    ASSERT_EQ(vsp_startEmulation(), 1);
    ASSERT_TRUE(waitUntil([&] { return state(tcp).ok == 1; })) << "no connection to ser2net";
    SerialApp app(portPath(5));
    const std::vector<std::uint8_t> hello{'h', 'i'};
    app.write(hello);
    ASSERT_EQ(device.read(hello.size()), hello);  // ser2net has its device open

    auto deviceFlags = [&] {
        const int fd = ::open((work + "/dev").c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        termios t{};
        ::tcgetattr(fd, &t);
        ::close(fd);
        return t.c_cflag & (CSTOPB | CRTSCTS);
    };
    EXPECT_EQ(deviceFlags(), 0u);
    termios t{};
    ASSERT_EQ(::tcgetattr(app.fd(), &t), 0);
    t.c_cflag |= CSTOPB | CRTSCTS;
    ASSERT_EQ(::tcsetattr(app.fd(), TCSANOW, &t), 0);
    EXPECT_TRUE(waitUntil([&] { return deviceFlags() == (CSTOPB | CRTSCTS); })) << "device flags " << deviceFlags();
    t.c_cflag &= ~(CSTOPB | CRTSCTS);
    ASSERT_EQ(::tcsetattr(app.fd(), TCSANOW, &t), 0);
    EXPECT_TRUE(waitUntil([&] { return deviceFlags() == 0u; })) << "device flags " << deviceFlags();
}

}  // namespace

// The speed the library gives a pseudo-terminal, as an application reads it back.
#include "PtyTermios.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

using namespace vsp;

namespace {

// A pseudo-terminal pair: the master the library keeps, the slave an application opens.
struct Pty {
    Pty()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0)
            slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    }
    ~Pty()
    {
        if (slave >= 0)
            ::close(slave);
        if (master >= 0)
            ::close(master);
    }
    int master = -1;
    int slave = -1;
};

TEST(PtyTermios, AStandardRateIsSetWithItsOwnConstantSoApplicationsCanReadIt)
{
    for (const auto& [baud, constant] : {std::pair{9600u, B9600}, {110u, B110}, {115200u, B115200}, {921600u, B921600}}) {
        Pty pty;
        ASSERT_GE(pty.slave, 0);
        ASSERT_TRUE(makeRawWithSpeed(pty.slave, baud));
        termios t{};
        ASSERT_EQ(::tcgetattr(pty.slave, &t), 0);
        EXPECT_EQ(::cfgetospeed(&t), constant) << baud;  // what stty and Wine show
        EXPECT_EQ(::cfgetispeed(&t), constant) << baud;
        EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(t.c_lflag & (ECHO | ICANON), 0u);
        EXPECT_EQ(terminalSpeed(pty.master), baud);
    }
}

TEST(PtyTermios, AnyOtherRateStillRoundTripsAndAnApplicationsChangeIsSeen)
{
    Pty pty;
    ASSERT_GE(pty.slave, 0);
    ASSERT_TRUE(makeRawWithSpeed(pty.slave, 31250));
    EXPECT_EQ(terminalSpeed(pty.master), 31250u);

    termios t{};
    ASSERT_EQ(::tcgetattr(pty.slave, &t), 0);
    ::cfsetspeed(&t, B57600);
    ASSERT_EQ(::tcsetattr(pty.slave, TCSANOW, &t), 0);
    EXPECT_EQ(terminalSpeed(pty.master), 57600u);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));  // still raw
}

// What the port relies on from the kernel: with packet mode and EXTPROC, every
// tcsetattr and tcflush of the slave is reported to the master, ahead of the bytes
// still queued, and a master can put EXTPROC back after a program cleared it.
TEST(PtyTermios, TheMasterHearsOfEverySettingAndFlushOfTheSlave)
{
    Pty pty;
    ASSERT_GE(pty.slave, 0);
    ASSERT_TRUE(reportSettingChanges(pty.master));
    auto readMaster = [&] {
        std::vector<unsigned char> packet(64);
        const ssize_t n = ::read(pty.master, packet.data(), packet.size());
        packet.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return packet;
    };
    using Packet = std::vector<unsigned char>;
    EXPECT_EQ(readMaster(), Packet{TIOCPKT_IOCTL});  // our own setting

    termios t{};
    ASSERT_EQ(::tcgetattr(pty.slave, &t), 0);
    ASSERT_EQ(::write(pty.slave, "a", 1), 1);
    ::cfsetspeed(&t, B9600);
    t.c_cflag |= CSTOPB | CRTSCTS;
    ASSERT_EQ(::tcsetattr(pty.slave, TCSANOW, &t), 0);
    EXPECT_EQ(readMaster(), Packet{TIOCPKT_IOCTL});  // before the byte written ahead of it
    EXPECT_EQ(readMaster(), (Packet{TIOCPKT_DATA, 'a'}));
    const auto settings = terminalSettings(pty.master);
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->baud, 9600u);
    EXPECT_TRUE(settings->twoStopBits);
    EXPECT_TRUE(settings->rtsCts);

    ASSERT_EQ(::tcflush(pty.slave, TCIFLUSH), 0);
    EXPECT_EQ(readMaster(), Packet{TIOCPKT_FLUSHREAD});
    ASSERT_EQ(::tcflush(pty.slave, TCOFLUSH), 0);
    EXPECT_EQ(readMaster(), Packet{TIOCPKT_FLUSHWRITE});

    t.c_lflag = 0;  // EXTPROC cleared: this change is the last one reported
    ASSERT_EQ(::tcsetattr(pty.slave, TCSANOW, &t), 0);
    EXPECT_EQ(readMaster(), Packet{TIOCPKT_IOCTL});
    EXPECT_FALSE(terminalSettings(pty.master)->reported);
    ASSERT_TRUE(reportSettingChanges(pty.master));
    EXPECT_EQ(readMaster(), Packet{TIOCPKT_IOCTL});
    ::cfsetspeed(&t, B4800);
    t.c_lflag = 0;
    ASSERT_EQ(::tcsetattr(pty.slave, TCSANOW, &t), 0);
    EXPECT_EQ(readMaster(), Packet{TIOCPKT_IOCTL});
    EXPECT_EQ(terminalSettings(pty.master)->baud, 4800u);
}

}  // namespace

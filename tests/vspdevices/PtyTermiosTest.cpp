// The speed the library gives a pseudo-terminal, as an application reads it back.
#include "PtyTermios.h"

#include <fcntl.h>
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

}  // namespace

// Kept apart: <asm/termbits.h> (termios2) cannot share a file with <termios.h>.
#include "PtyTermios.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace vsp {
namespace {

// The speeds that have a constant of their own. Applications, stty and Wine read
// only these from the flags; BOTHER (any speed in c_ospeed) they report as 0.
struct StandardSpeed {
    std::uint32_t baud;
    tcflag_t constant;
};
constexpr StandardSpeed standardSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

tcflag_t speedConstant(std::uint32_t baud)
{
    for (const StandardSpeed& speed : standardSpeeds)
        if (speed.baud == baud)
            return speed.constant;
    return BOTHER;
}

void putSpeed(termios2& t, std::uint32_t baud, bool twoStopBits)
{
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    const tcflag_t speed = speedConstant(baud);
    t.c_cflag |= speed | (speed << IBSHIFT);
    if (twoStopBits)
        t.c_cflag |= CSTOPB;
    else
        t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    t.c_ispeed = baud;
    t.c_ospeed = baud;
}

}  // namespace

bool makeRawWithSpeed(int fd, std::uint32_t baud, bool twoStopBits)
{
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    putSpeed(t, baud, twoStopBits);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return ioctl(fd, TCSETS2, &t) == 0;
}

bool setSpeed(int fd, std::uint32_t baud, bool twoStopBits)
{
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    putSpeed(t, baud, twoStopBits);
    return ioctl(fd, TCSETS2, &t) == 0;
}

std::optional<std::uint32_t> terminalSpeed(int fd)
{
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return std::nullopt;
    return t.c_ospeed;
}

std::optional<TerminalSettings> terminalSettings(int fd)
{
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return std::nullopt;
    return TerminalSettings{.baud = t.c_ospeed,
                            .twoStopBits = (t.c_cflag & CSTOPB) != 0,
                            .rtsCts = (t.c_cflag & CRTSCTS) != 0,
                            .xonOutput = (t.c_iflag & IXON) != 0,
                            .xonInput = (t.c_iflag & IXOFF) != 0,
                            .reported = (t.c_lflag & EXTPROC) != 0,
                            .startChar = t.c_cc[VSTART],
                            .stopChar = t.c_cc[VSTOP]};
}

bool reportSettingChanges(int master)
{
    int on = 1;
    if (ioctl(master, TIOCPKT, &on) != 0)
        return false;
    termios2 t{};
    if (ioctl(master, TCGETS2, &t) != 0)
        return false;
    if (t.c_lflag & EXTPROC)
        return true;
    t.c_lflag |= EXTPROC;
    return ioctl(master, TCSETS2, &t) == 0;
}

}  // namespace vsp

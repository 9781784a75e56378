// Opening a virtual port the way a serial application does: raw mode, and
// non-blocking unless asked otherwise. Shared by the tools (benchmarks, soak runs)
// and the tests, which may include tools/support; -1 when the port cannot be opened.
#pragma once

#include <fcntl.h>
#include <string>
#include <termios.h>

enum class PortIo { NonBlocking, Blocking };

inline int openRawPort(const std::string& path, PortIo io = PortIo::NonBlocking)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | (io == PortIo::NonBlocking ? O_NONBLOCK : 0));
    if (fd >= 0) {
        termios t{};
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

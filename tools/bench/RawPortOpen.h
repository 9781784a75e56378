// The application's end of a benchmark: a port opened as a serial program opens it,
// raw and non-blocking. -1 when it cannot be opened.
#pragma once

#include <fcntl.h>
#include <string>
#include <termios.h>

inline int openRawPortOnce(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        termios t{};
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

// Opening a virtual port the way a serial application does: blocking, raw mode.
#pragma once

#include <QFile>
#include <QString>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

inline int openRawPort(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY);
    if (fd >= 0) {
        termios t{};
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

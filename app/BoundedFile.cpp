#include "app/BoundedFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString sizeInWords(qint64 bytes)
{
    if (bytes >= (1 << 20) && bytes % (1 << 20) == 0)
        return QStringLiteral("%1 MiB").arg(bytes >> 20);
    if (bytes >= 1024 && bytes % 1024 == 0)
        return QStringLiteral("%1 KiB").arg(bytes >> 10);
    return QStringLiteral("%1 bytes").arg(bytes);
}

BoundedRead readBoundedFile(const QString& path, qint64 maxBytes)
{
    BoundedRead result;
    const auto refuse = [&](const QString& why) {
        result.outcome = BoundedRead::Outcome::Refused;
        result.refusal = why;
        return result;
    };
    // O_NONBLOCK: opening a FIFO that has no writer would wait forever.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT ? result : refuse(QString::fromLocal8Bit(std::strerror(errno)));
    struct stat st {};
    QString why;
    if (::fstat(fd, &st) != 0)
        why = QString::fromLocal8Bit(std::strerror(errno));
    else if (!S_ISREG(st.st_mode))
        why = QStringLiteral("not a regular file");
    else if (st.st_size > maxBytes)
        why = QStringLiteral("larger than ") + sizeInWords(maxBytes);
    QByteArray content;
    while (why.isEmpty()) {
        char buffer[65536];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            why = QString::fromLocal8Bit(std::strerror(errno));
        else if (content.size() + n > maxBytes)  // it grew while read
            why = QStringLiteral("larger than ") + sizeInWords(maxBytes);
        else
            content.append(buffer, n);
    }
    ::close(fd);
    if (!why.isEmpty())
        return refuse(why);
    result.outcome = BoundedRead::Outcome::Read;
    result.content = content;
    return result;
}

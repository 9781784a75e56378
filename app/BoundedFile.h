// Reads a whole file the program keeps (its settings, a configuration's path, a
// registry value) without ever waiting on it and with bounded memory: only a
// regular file of at most a given size is read; a FIFO, a device or a folder is
// refused at once, as is a file larger than the limit (a sparse file of a GiB costs
// no disk but would cost its size in memory).
#pragma once

#include <QByteArray>
#include <QString>

struct BoundedRead {
    enum class Outcome { Read, Missing, Refused };
    Outcome outcome = Outcome::Missing;
    QByteArray content;  // when read
    QString refusal;     // when refused: "not a regular file", "larger than 1 MiB", or the system's message
};

BoundedRead readBoundedFile(const QString& path, qint64 maxBytes);

// "1 MiB", "64 KiB", "100 bytes".
QString sizeInWords(qint64 bytes);

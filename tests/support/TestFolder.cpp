#include "support/TestFolder.h"

#include "app/ErrorLog.h"
#include "app/ProgramFiles.h"

#include <QFile>

TestFolder::TestFolder()
{
    errorlog::setLogFile(logFile());
    errorlog::setClock(&TestFolder::fixedTime);
    overrideProgramFilesDir(dir_.path());
}

TestFolder::~TestFolder()
{
    errorlog::resetToDefaults();
}

QByteArray TestFolder::log() const
{
    return readFile(logFile());
}

QDateTime TestFolder::fixedTime()
{
    return QDateTime(QDate(2026, 12, 6), QTime(19, 15));
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

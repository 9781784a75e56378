#include "app/ErrorLog.h"

#include "Version.h"
#include "app/ProgramFiles.h"

#include <QFile>
#include <cstdio>

namespace errorlog {
namespace {
QString& configuredFile()
{
    static QString file;
    return file;
}
Clock& configuredClock()
{
    static Clock clock;
    return clock;
}
}  // namespace

void setLogFile(const QString& path) { configuredFile() = path; }
void setClock(Clock clock) { configuredClock() = std::move(clock); }

void resetToDefaults()
{
    configuredFile().clear();
    configuredClock() = nullptr;
}

QString logFile()
{
    return configuredFile().isEmpty() ? programFilesDir() + QStringLiteral("/ErrorLog.txt") : configuredFile();
}

QString heading()
{
    return QStringLiteral("%1 v%2.%3.%4 Error Log")
        .arg(QString::fromUtf8(version::title))
        .arg(version::major)
        .arg(version::minor)
        .arg(version::revision);
}

QString formatTimestamp(const QDateTime& when)
{
    return when.toString(QStringLiteral("M/dd/yyyy HH:mm"));
}

}  // namespace errorlog

void LogError(const QString& message)
{
    const QDateTime now = errorlog::configuredClock() ? errorlog::configuredClock()() : QDateTime::currentDateTime();
    const QByteArray line = (errorlog::formatTimestamp(now) + QLatin1Char(' ') + message).toUtf8() + "\r\n";

    QFile file(errorlog::logFile());
    if (file.open(QIODevice::Append)) {
        QByteArray text;
        if (file.size() == 0)
            text = errorlog::heading().toUtf8() + "\r\n" + QByteArray(32, '=') + "\r\n";
        text += line;
        if (file.write(text) == text.size() && file.flush())
            return;
    }
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
}

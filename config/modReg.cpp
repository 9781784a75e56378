#include "config/modReg.h"

#include "app/BoundedFile.h"

#include <QDir>
#include <algorithm>
#include <QFile>
#include <QSaveFile>
#include <cerrno>

namespace {

// The escapes of a string value in a desktop entry file.
QString unescapeValue(const QString& text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\\') && i + 1 < text.size()) {
            const QChar next = text[++i];
            out += next == QLatin1Char('s') ? QStringLiteral(" ")
                   : next == QLatin1Char('n') ? QStringLiteral("\n")
                   : next == QLatin1Char('t') ? QStringLiteral("\t")
                   : next == QLatin1Char('r') ? QStringLiteral("\r")
                                              : QString(next);
        } else {
            out += text[i];
        }
    }
    return out;
}

std::optional<QString> execLine(const QString& file)
{
    // A desktop entry is a few lines; a FIFO or a huge file in its place is not one.
    const BoundedRead entry = readBoundedFile(file, 64 * 1024);
    if (entry.outcome != BoundedRead::Outcome::Read)
        return std::nullopt;
    bool inEntry = false;
    for (const QByteArray& raw : entry.content.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inEntry = line == QLatin1String("[Desktop Entry]");
        else if (inEntry && line.startsWith(QLatin1String("Exec")) && line.mid(4).trimmed().startsWith(QLatin1Char('=')))
            return unescapeValue(line.mid(line.indexOf(QLatin1Char('=')) + 1).trimmed());
    }
    return QString();
}

}  // namespace

QString regValueFile(const QString& keyPath, const QString& valueName)
{
    return keyPath + QLatin1Char('/') + valueName + QStringLiteral(".desktop");
}

QString runKeyPath()
{
    const QString dirs = qEnvironmentVariable("XDG_CONFIG_DIRS");
    QString first = dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts).value(0);
    if (first.isEmpty())
        first = QStringLiteral("/etc/xdg");
    return first + QStringLiteral("/autostart");
}

QString userRunKeyPath()
{
    const QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
    const QString base = home.startsWith(QLatin1Char('/')) ? home : QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/autostart");
}

QString desktopExecValue(const QString& programPath)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString arg = programPath;
    if (std::any_of(arg.begin(), arg.end(), [](QChar c) { return reserved.contains(c); })) {
        QString quoted;
        for (const QChar c : arg) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        arg = QLatin1Char('"') + quoted + QLatin1Char('"');
    }
    arg.replace(QLatin1Char('%'), QStringLiteral("%%"));  // not a field code
    arg.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));  // the file's own escape level
    arg.replace(QLatin1Char('\t'), QStringLiteral("\\t"));      // no raw control character in a value
    return arg;
}

QString programFromExecValue(const QString& exec)
{
    QString text = exec;
    text.replace(QStringLiteral("%%"), QStringLiteral("%"));
    if (!(text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"'))))
        return text;
    QString path;
    for (qsizetype i = 1; i + 1 < text.size(); ++i) {
        if (text[i] == QLatin1Char('\\') && i + 2 < text.size())
            ++i;
        path += text[i];
    }
    return path;
}

int ReadRegValueOfKey(const QString& keyPath, const QString& valueName, std::optional<RegValue>& value)
{
    const auto exec = execLine(regValueFile(keyPath, valueName));
    if (!exec)
        return ENOENT;
    value = programFromExecValue(*exec);
    return 0;
}

QString ReadRegValue(const QString& keyPath, const QString& valueName)
{
    std::optional<RegValue> value;
    if (ReadRegValueOfKey(keyPath, valueName, value) != 0 || !value || !std::holds_alternative<QString>(*value))
        return {};
    return std::get<QString>(*value);
}

int WriteRegValueOfKey(const QString& keyPath, const QString& valueName, int type, const RegValue& value)
{
    if (type != regType::sz || !std::holds_alternative<QString>(value))
        return -1;  // an autostart entry holds a command, nothing else
    const QString program = std::get<QString>(value);
    // No line of a desktop entry can carry a line break, and the file's rules have
    // no escape for the other control characters but TAB.
    if (std::any_of(program.begin(), program.end(), [](QChar c) {
            return (c.unicode() < 0x20 && c != QLatin1Char('\t')) || c.unicode() == 0x7f;
        }))
        return EINVAL;
    QSaveFile out(regValueFile(keyPath, valueName));
    if (!out.open(QIODevice::WriteOnly))
        return EACCES;
    const QString entry = QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nComment=Virtual serial ports for network "
                                         "Telnet-to-serial adapters\nExec=%2\nTerminal=false\nX-GNOME-Autostart-enabled=true\n")
                              .arg(valueName, desktopExecValue(program));
    out.write(entry.toUtf8());
    return out.commit() ? 0 : EIO;
}

void WriteRegValue(const QString& keyPath, const QString& valueName, const RegValue& value, int type)
{
    WriteRegValueOfKey(keyPath, valueName, type, value);
}

void DeleteRegValue(const QString& keyPath, const QString& valueName)
{
    QFile::remove(regValueFile(keyPath, valueName));
}

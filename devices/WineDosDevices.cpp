#include "devices/WineDosDevices.h"

#include "vspdevices_ports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <filesystem>
#include <system_error>

namespace winedos {

namespace {

std::filesystem::path native(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

}  // namespace

QString prefixLocation()
{
    const QString prefix = qEnvironmentVariable("WINEPREFIX");
    return prefix.isEmpty() ? QDir::homePath() + QStringLiteral("/.wine") : prefix;
}

bool prefixExists(const QString& prefix)
{
    std::error_code error;
    return std::filesystem::is_regular_file(native(prefix + QStringLiteral("/system.reg")), error);
}

QString linkPath(const QString& prefix, int com)
{
    return prefix + QStringLiteral("/dosdevices/com") + QString::number(com);
}

Entry entry(const QString& prefix, int com, const QString& portPath)
{
    std::error_code error;
    const std::filesystem::path link = native(linkPath(prefix, com));
    const auto status = std::filesystem::symlink_status(link, error);
    if (status.type() == std::filesystem::file_type::not_found)
        return Entry::Absent;
    if (status.type() == std::filesystem::file_type::symlink && std::filesystem::read_symlink(link, error) == native(portPath) && !error)
        return Entry::Ours;
    return Entry::Foreign;
}

bool makeLink(const QString& prefix, int com, const QString& portPath)
{
    std::error_code error;
    std::filesystem::create_symlink(native(portPath), native(linkPath(prefix, com)), error);
    return !error;
}

void removeLink(const QString& prefix, int com, const QString& portPath)
{
    if (entry(prefix, com, portPath) != Entry::Ours)
        return;
    std::error_code error;
    std::filesystem::remove(native(linkPath(prefix, com)), error);
}

QList<int> portsIn(const QString& portDirectory)
{
    QList<int> ports;
    const QDir dir(portDirectory);
    for (const QString& name : dir.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        const int com = vspdevices::portLinkNumber(name.toStdString(), maxCom).value_or(0);
        if (com != 0 && QFileInfo(dir.filePath(name)).isSymLink())
            ports.append(com);
    }
    std::sort(ports.begin(), ports.end());
    return ports;
}

}  // namespace winedos

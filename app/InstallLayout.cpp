#include "app/InstallLayout.h"

#include "InstallPaths.h"

#include <QDir>
#include <QFileInfo>

InstallLayout installLayoutOf(const QString& programDir, const std::function<bool(const QString&)>& fileExists)
{
    const auto below = [&programDir](const char* relative) {
        return QDir::cleanPath(programDir + QLatin1Char('/') + QLatin1String(relative));
    };
    const QString library = QStringLiteral("/" QVCP_DEVICE_LIBRARY);
    const QString systemLibraryDir = below(QVCP_LIBRARY_DIR_FROM_PROGRAM);
    if (!fileExists(programDir + library) && fileExists(systemLibraryDir + library))
        return {false, systemLibraryDir, below(QVCP_MANUAL_DIR_FROM_PROGRAM)};
    return {true, programDir, programDir};
}

QString executableDir()
{
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    return QFileInfo(exe).absolutePath();
}

const InstallLayout& installLayout()
{
    static const InstallLayout layout =
        installLayoutOf(executableDir(), [](const QString& path) { return QFileInfo(path).isFile(); });
    return layout;
}

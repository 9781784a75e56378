// A portable install of the program for one test: the program and its device
// library copied into a folder of their own, as `cmake --install` lays them out.
#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

// The install folder, or "" when a file could not be copied.
inline QString makePortableInstall(const QString& install)
{
    const QString bin = QFileInfo(QUORLINVCP_PROGRAM).absolutePath();
    QDir().mkpath(install);
    for (const QString& name : QDir(bin).entryList({"quorlinvcp", "libvspdevices.so*"}, QDir::Files | QDir::System))
        if (!QFile::copy(bin + "/" + name, install + "/" + name))
            return QString();
    QFile::setPermissions(install + "/quorlinvcp", QFile::permissions(bin + "/quorlinvcp"));
    return install;
}

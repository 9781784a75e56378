#include "app/InstallLayout.h"

#include "vspdevices_install.h"

#include <QFile>

namespace {
InstallLayout fromShared(const vspdevices::install::Layout& layout)
{
    return {layout.portable, QFile::decodeName(layout.libraryDir.c_str()), QFile::decodeName(layout.manualDir.c_str())};
}
}  // namespace

InstallLayout installLayoutOf(const QString& programDir, const std::function<bool(const QString&)>& fileExists)
{
    return fromShared(vspdevices::install::layoutOf(
        QFile::encodeName(programDir).toStdString(),
        [&fileExists](const std::string& path) { return fileExists(QFile::decodeName(path.c_str())); }));
}

QString executablePath()
{
    return QFile::decodeName(vspdevices::install::executablePath().c_str());
}

QString executableDir()
{
    return QFile::decodeName(vspdevices::install::executableDir().c_str());
}

const InstallLayout& installLayout()
{
    static const InstallLayout layout = fromShared(vspdevices::install::layoutOf(vspdevices::install::executableDir()));
    return layout;
}

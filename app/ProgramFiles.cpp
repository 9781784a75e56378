#include "app/ProgramFiles.h"

#include "app/InstallLayout.h"

#include <QDir>

#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::optional<QString>& cachedDir()
{
    static std::optional<QString> dir;
    return dir;
}
}  // namespace

QString chooseProgramFilesDir(const QString& executableDir, bool executableDirWritable, bool portableLayout,
                              const QString& xdgConfigHome, const QString& home)
{
    if (executableDirWritable && portableLayout)
        return executableDir;
    // The XDG rules say a relative $XDG_CONFIG_HOME is invalid and must be ignored.
    const QString base = xdgConfigHome.startsWith(QLatin1Char('/')) ? xdgConfigHome
                                                                     : home + QStringLiteral("/.config");
    return base + QStringLiteral("/QuorlinVCP");
}

QString programFilesDir()
{
    auto& dir = cachedDir();
    if (!dir) {
        const QString exeDir = executableDir();
        const bool writable = ::access(QFile::encodeName(exeDir).constData(), W_OK) == 0;
        dir = chooseProgramFilesDir(exeDir, writable, installLayout().portable, qEnvironmentVariable("XDG_CONFIG_HOME"),
                                    QDir::homePath());
        if (*dir != exeDir)
            QDir().mkpath(*dir);
    }
    return *dir;
}

void overrideProgramFilesDir(const QString& dir)
{
    cachedDir() = dir;
}

bool FileExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

QString GetFileName(const QString& path)
{
    const QChar separator = path.contains(QLatin1Char('\\')) ? QLatin1Char('\\') : QLatin1Char('/');
    return path.mid(path.lastIndexOf(separator) + 1);
}

#include "app/SingleInstance.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A real folder, owned by this user, that no group member or other user may enter.
bool isPrivateFolder(const QString& path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

}  // namespace

QString privateInstanceFolder(const QString& runtimeDir, const QString& fallbackBase, const QString& name)
{
    if (runtimeDir.startsWith(QLatin1Char('/')) && isPrivateFolder(runtimeDir))
        return runtimeDir;
    const QString own = fallbackBase + QLatin1Char('/') + name + QLatin1Char('-') + QString::number(::geteuid());
    // mkdir never follows a link and fails on anything already there; the check
    // below then decides whether what is there is ours.
    ::mkdir(QFile::encodeName(own).constData(), 0700);
    return isPrivateFolder(own) ? own : QString();
}

SingleInstance::SingleInstance(const QString& name)
    : SingleInstance(name, privateInstanceFolder(qEnvironmentVariable("XDG_RUNTIME_DIR"), QStringLiteral("/tmp"), name))
{
}

SingleInstance::SingleInstance(const QString& name, const QString& folder)
{
    if (folder.isEmpty())
        return;
    const QByteArray path = QFile::encodeName(folder + QLatin1Char('/') + name + QStringLiteral(".lock"));
    fd_ = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0)
        return;  // without the file the test cannot be made; run rather than refuse
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        first_ = errno != EWOULDBLOCK;  // only a live holder of the lock means "second"
        ::close(fd_);
        fd_ = -1;
    }
}

SingleInstance::~SingleInstance()
{
    if (fd_ >= 0)
        ::close(fd_);
}

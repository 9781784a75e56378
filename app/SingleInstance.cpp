#include "app/SingleInstance.h"

#include <QFile>

#include <utility>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
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

// The socket's address; false when the path does not fit one.
bool socketAddress(const QByteArray& path, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || static_cast<std::size_t>(path.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    return true;
}

// Listens on path, which only the lock's holder may replace: whatever is there is
// left from an instance that has ended.
int listenAt(const QByteArray& path)
{
    sockaddr_un address;
    if (!socketAddress(path, address))
        return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    ::unlink(path.constData());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
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
    socketPath_ = folder + QLatin1Char('/') + name + QStringLiteral(".socket");
    fd_ = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0)
        return;  // without the file the test cannot be made; run rather than refuse
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        first_ = errno != EWOULDBLOCK;  // only a live holder of the lock means "second"
        ::close(fd_);
        fd_ = -1;
        return;
    }
    listener_ = listenAt(QFile::encodeName(socketPath_));
}

SingleInstance::~SingleInstance()
{
    if (listener_ >= 0) {
        ::close(listener_);
        ::unlink(QFile::encodeName(socketPath_).constData());
    }
    if (fd_ >= 0)
        ::close(fd_);
}

int SingleInstance::takeListener()
{
    return std::exchange(listener_, -1);
}

bool SingleInstance::handOver(const QByteArray& message) const
{
    sockaddr_un address;
    if (first_ || !socketAddress(QFile::encodeName(socketPath_), address))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // A running instance that does not take the connection (its queue full, or it
    // hangs) must not hold this start: the wait to connect and to write is bounded.
    const timeval limit{3, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    bool sent = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    for (qsizetype done = 0; sent && done < message.size();) {
        const ssize_t n = ::send(fd, message.constData() + done, static_cast<std::size_t>(message.size() - done), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        sent = n > 0;
        done += n > 0 ? n : 0;
    }
    ::close(fd);
    return sent;
}

#include "app/SingleInstance.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

SingleInstance::SingleInstance(const QString& name)
{
    const QByteArray id = (name + QStringLiteral("-") + QString::number(::getuid())).toUtf8();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // sun_path[0] stays NUL: the name lives in the abstract namespace, not on disk.
    const size_t length = std::min<size_t>(static_cast<size_t>(id.size()), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, id.constData(), length);

    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return;  // without a socket the test cannot be made; run rather than refuse
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
        first_ = errno != EADDRINUSE;  // only a live holder of the name means "second"
        ::close(fd_);
        fd_ = -1;
    }
}

SingleInstance::~SingleInstance()
{
    if (fd_ >= 0)
        ::close(fd_);
}

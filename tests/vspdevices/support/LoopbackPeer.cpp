#include "support/LoopbackPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
sockaddr_in loopback(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}
}  // namespace

LoopbackPeer::LoopbackPeer(int backlog, int bufferSize)
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (bufferSize > 0) {  // inherited by accepted connections
        ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize);
        ::setsockopt(listener_, SOL_SOCKET, SO_SNDBUF, &bufferSize, sizeof bufferSize);
    }
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, backlog) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    port_ = ntohs(address.sin_port);
}

LoopbackPeer::~LoopbackPeer()
{
    if (self_ >= 0)
        ::close(self_);
    if (listener_ >= 0)
        ::close(listener_);
}

int LoopbackPeer::accept(std::chrono::milliseconds timeout) const
{
    pollfd waiting{listener_, POLLIN, 0};
    if (::poll(&waiting, 1, static_cast<int>(timeout.count())) != 1)
        return -1;
    return ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
}

bool LoopbackPeer::connectSelf()
{
    self_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopback(port_);
    return ::connect(self_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

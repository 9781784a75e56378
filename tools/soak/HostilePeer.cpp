#include "HostilePeer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

namespace soak {

HostilePeer::HostilePeer(Generator generator, bool reads) : generator_(std::move(generator)), reads_(reads)
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 4);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
}

HostilePeer::~HostilePeer()
{
    stop_ = true;
    thread_.join();
    ::close(listener_);
}

double HostilePeer::cpuSeconds() const
{
    clockid_t clock{};
    timespec t{};
    if (pthread_getcpuclockid(const_cast<std::thread&>(thread_).native_handle(), &clock) != 0 || ::clock_gettime(clock, &t) != 0)
        return 0;
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void HostilePeer::run()
{
    std::vector<std::uint8_t> out;
    std::uint8_t in[65536];
    while (!stop_) {
        pollfd l{listener_, POLLIN, 0};
        if (::poll(&l, 1, 50) <= 0)
            continue;
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++connections_;
        std::size_t sent = out.size();
        while (!stop_) {
            const bool sending = loud_ && generator_;
            if (sending && sent == out.size()) {
                out = generator_();
                sent = 0;
            }
            pollfd p{fd, static_cast<short>((reads_ ? POLLIN : 0) | (sending ? POLLOUT : 0)), 0};
            ::poll(&p, 1, 50);
            if (p.revents & POLLOUT) {
                const ssize_t n = ::send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
                if (n > 0)
                    sent += static_cast<std::size_t>(n);
                else if (n < 0 && errno != EAGAIN)
                    break;
            }
            if ((p.revents & (POLLIN | POLLHUP)) && ::read(fd, in, sizeof in) == 0)
                break;  // the library hung up; it may come back
        }
        ::close(fd);
    }
}

}  // namespace soak

// A client of a port's control socket that speaks the channel's records itself:
// for tests of the library's side and of what it does with hostile clients.
#pragma once

#include "vspdevices_control.h"

#include <cerrno>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

class ControlSocket {
public:
    // Its requests name the terminal the port's link (the socket's path without
    // ".control") points at, as a program holding the port does.
    explicit ControlSocket(const std::string& path)
    {
        struct stat link {};
        if (path.size() > 8 && ::stat(path.substr(0, path.size() - 8).c_str(), &link) == 0)
            terminal_ = link.st_rdev;
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~ControlSocket() { close(); }
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;

    bool connected() const { return fd_ >= 0; }
    int descriptor() const { return fd_; }
    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    bool sendBytes(const void* bytes, std::size_t size)
    {
        return fd_ >= 0 && ::send(fd_, bytes, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
    }
    bool send(vsp::control::Request request)
    {
        if (request.terminal == 0)
            request.terminal = terminal_;
        std::uint8_t record[vsp::control::recordSize];
        vsp::control::encode(request, record);
        return sendBytes(record, sizeof record);
    }
    // The next reply within the time, or nullopt (none, malformed, or the socket closed).
    std::optional<vsp::control::Reply> reply(int timeoutMs = 2000)
    {
        std::uint8_t record[vsp::control::recordSize];
        std::size_t got = 0;
        while (got < sizeof record) {
            pollfd p{fd_, POLLIN, 0};
            if (fd_ < 0 || ::poll(&p, 1, timeoutMs) <= 0)
                return std::nullopt;
            const ssize_t n = ::recv(fd_, record + got, sizeof record - got, 0);
            if (n <= 0)
                return std::nullopt;
            got += static_cast<std::size_t>(n);
        }
        return vsp::control::decodeReply(record, sizeof record);
    }
    // Whatever bytes come next (up to `size`), within the time: their count, or 0
    // when none came or the socket closed.
    ssize_t replyBytes(std::uint8_t* into, std::size_t size, int timeoutMs = 2000)
    {
        pollfd p{fd_, POLLIN, 0};
        if (fd_ < 0 || ::poll(&p, 1, timeoutMs) <= 0)
            return 0;
        const ssize_t n = ::recv(fd_, into, size, 0);
        return n > 0 ? n : 0;
    }
    // Sends the request again and again without reading a reply, until the library
    // stops taking them (it waits to write a reply no one reads): a client that
    // stopped reading. The number sent.
    std::size_t flood(vsp::control::Request request)
    {
        request.terminal = terminal_;
        std::uint8_t record[vsp::control::recordSize];
        vsp::control::encode(request, record);
        std::size_t sent = 0;
        for (;;) {
            if (fd_ >= 0 && ::send(fd_, record, sizeof record, MSG_NOSIGNAL | MSG_DONTWAIT) == static_cast<ssize_t>(sizeof record)) {
                ++sent;
                continue;
            }
            pollfd p{fd_, POLLOUT, 0};
            if (fd_ < 0 || errno != EAGAIN || ::poll(&p, 1, 100) <= 0 || (p.revents & POLLOUT) == 0)
                return sent;
        }
    }
    std::optional<vsp::control::Reply> ask(const vsp::control::Request& request)
    {
        return send(request) ? reply() : std::nullopt;
    }
    // True when the library hung up on this client within the time; nothing is read.
    bool hungUp(int timeoutMs = 2000)
    {
        pollfd p{fd_, POLLRDHUP, 0};
        return fd_ >= 0 && ::poll(&p, 1, timeoutMs) > 0 && (p.revents & (POLLRDHUP | POLLHUP)) != 0;
    }
    // True when the library closed this client (within the time); what it sent
    // before is read and dropped.
    bool closedByPeer(int timeoutMs = 2000)
    {
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            if (fd_ < 0 || ::poll(&p, 1, timeoutMs) <= 0)
                return false;
            char bytes[256];
            const ssize_t n = ::recv(fd_, bytes, sizeof bytes, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno == ECONNRESET))
                return true;
            if (n < 0)
                return false;
        }
    }

private:
    int fd_ = -1;
    std::uint64_t terminal_ = 0;
};

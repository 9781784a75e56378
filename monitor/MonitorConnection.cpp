#include "monitor/MonitorConnection.h"

#include "monitor/SocketRead.h"

#include "vspdevices_control.h"
#include "vspdevices_ports.h"

#include <cerrno>
#include <cstring>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace monitor {
namespace {
using namespace vsp::control;

}  // namespace

std::variant<MonitorConnection, MonitorConnection::Refusal> MonitorConnection::connect(int com, int timeoutMs, std::string dir)
{
    using Reason = Refusal::Reason;
    if (dir.empty())
        dir = vspdevices::portDirectory();
    const std::string name = "COM" + std::to_string(com);
    const std::string path = dir + "/" + name + ".control";
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path)
        return Refusal{Reason::Other, "the port directory's path is too long: " + dir};
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Refusal{Reason::Other, std::string("no socket: ") + std::strerror(errno)};
    MonitorConnection connection(fd);
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return Refusal{Reason::NotRunning, name + " is not running (" + path + ": " + std::strerror(errno) + ")"};
    // Only the user's own program answers for a port.
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid())
        return Refusal{Reason::Other, path + " belongs to another user"};
    std::uint8_t request[recordSize];
    encode(Request{Op::Monitor, 0, 0}, request);
    std::uint8_t answer[recordSize];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    // A channel that cannot take another client answers Busy at once and may hang up
    // before the request is sent: its answer is read all the same.
    static_cast<void>(::send(fd, request, sizeof request, MSG_NOSIGNAL));
    if (!readExactly(fd, answer, sizeof answer, deadline))
        return Refusal{Reason::Other, name + " did not answer the request to monitor it"};
    const auto reply = decodeReply(answer, sizeof answer);
    if (!reply)
        return Refusal{Reason::Other, name + " answered in another format (another version of QuorlinVCP runs it)"};
    if (reply->status == Status::Busy && reply->op == Op::Monitor)
        return Refusal{Reason::Busy, name + " has as many monitors as it takes; close one first"};
    if (reply->status == Status::Busy)  // told before the request was read
        return Refusal{Reason::Busy, name + " cannot take another client now (too many, or no descriptor left)"};
    if (reply->status != Status::Ok || reply->op != Op::Monitor)
        return Refusal{Reason::Other, name + " refused to be monitored"};
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return connection;
}

std::variant<MonitorConnection, std::string> MonitorConnection::open(int com, int timeoutMs, std::string dir)
{
    auto connected = connect(com, timeoutMs, std::move(dir));
    if (auto* refusal = std::get_if<Refusal>(&connected))
        return std::move(refusal->text);
    return std::move(std::get<MonitorConnection>(connected));
}

MonitorConnection::MonitorConnection(MonitorConnection&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), reader_(std::move(other.reader_))
{
}

MonitorConnection& MonitorConnection::operator=(MonitorConnection&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        reader_ = std::move(other.reader_);
    }
    return *this;
}

MonitorConnection::~MonitorConnection()
{
    if (fd_ >= 0)
        ::close(fd_);
}

MonitorConnection::Read MonitorConnection::read(std::vector<Record>& out)
{
    std::uint8_t buffer[65536];
    for (int i = 0; i < 4; ++i) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return Read::More;
        if (n <= 0)
            return Read::Ended;
        if (!reader_.feed({buffer, static_cast<std::size_t>(n)}, out))
            return Read::Malformed;
    }
    return Read::More;
}

}  // namespace monitor

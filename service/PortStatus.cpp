#include "service/PortStatus.h"

#include "monitor/SocketRead.h"

#include "vspdevices_ports.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace service {
namespace {
bool pointsAtTerminal(const std::string& path)
{
    char target[64];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    return n > 9 && std::strncmp(target, "/dev/pts/", 9) == 0;
}

}  // namespace

std::vector<RunningPort> runningPorts(const std::string& dir)
{
    std::vector<RunningPort> ports;
    DIR* folder = ::opendir(dir.c_str());
    if (!folder)
        return ports;
    while (const dirent* entry = ::readdir(folder)) {
        const int com = vspdevices::portLinkNumber(entry->d_name).value_or(0);
        const std::string path = dir + "/" + entry->d_name;
        if (com > 0 && pointsAtTerminal(path))
            ports.push_back({com, path});
    }
    ::closedir(folder);
    std::sort(ports.begin(), ports.end(), [](const RunningPort& a, const RunningPort& b) { return a.com < b.com; });
    return ports;
}

namespace {
// Sends one request to a port's control socket and reads its record of `size` bytes
// with `decode`; a plain Busy reply instead says the channel could not take us.
template <class Record, std::size_t size, class Decode>
std::optional<Record> ask(const std::string& socketPath, int timeoutMs, vsp::control::Op op, Decode decode)
{
    using namespace vsp::control;
    sockaddr_un address{};
    if (socketPath.size() >= sizeof address.sun_path)
        return std::nullopt;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    address.sun_family = AF_UNIX;
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    std::optional<Record> answer;
    std::uint8_t request[recordSize];
    encode(Request{op, 0, 0}, request);
    std::uint8_t reply[size];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    // Only the user's own program answers for a port (its peer's credentials).
    ucred peer{};
    socklen_t length = sizeof peer;
    const bool ours = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                      ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == ::geteuid();
    // A channel that refuses the client may hang up before the request is sent; its
    // answer is read all the same.
    if (ours)
        static_cast<void>(::send(fd, request, sizeof request, MSG_NOSIGNAL));
    if (ours && monitor::readExactly(fd, reply, recordSize, deadline)) {
        // A channel that cannot take another client says so in a plain reply, at once.
        if (const auto refused = decodeReply(reply, recordSize); refused && refused->status == Status::Busy) {
            answer.emplace();
            answer->status = Status::Busy;
        } else if (monitor::readExactly(fd, reply + recordSize, sizeof reply - recordSize, deadline)) {
            answer = decode(reply, sizeof reply);
        }
    }
    ::close(fd);
    return answer;
}
}  // namespace

std::optional<vsp::control::Diagnostics> askDiagnostics(const std::string& socketPath, int timeoutMs)
{
    using namespace vsp::control;
    return ask<Diagnostics, diagnosticsRecordSize>(socketPath, timeoutMs, Op::Diagnose, decodeDiagnostics);
}

std::optional<vsp::control::Tls> askTls(const std::string& socketPath, int timeoutMs)
{
    using namespace vsp::control;
    return ask<Tls, tlsRecordSize>(socketPath, timeoutMs, Op::Tls, decodeTls);
}

std::string stateWord(const std::optional<vsp::control::Diagnostics>& diagnostics)
{
    static constexpr const char* words[] = {"stopped", "idle",  "resolving", "connecting",
                                            "negotiating", "up", "closing", "retry-wait"};
    static_assert(std::size(words) == vsp::control::maxConnectionState + 1);
    if (!diagnostics)
        return "unknown";
    if (diagnostics->status == vsp::control::Status::Busy)
        return "busy";
    if (diagnostics->status != vsp::control::Status::Ok)
        return "no-connection";
    return words[diagnostics->state];  // checked against maxConnectionState when read
}

std::string statusLine(const RunningPort& port, const std::optional<vsp::control::Diagnostics>& diagnostics,
                       const std::optional<vsp::control::Tls>& tls)
{
    std::string line = "COM" + std::to_string(port.com) + "\t" + stateWord(diagnostics) + "\t" + port.path + "\t";
    if (!diagnostics || diagnostics->status == vsp::control::Status::Busy)
        line += "\t\t";
    else  // the texts are NUL-ended, with no tab nor other control character
        line += std::to_string(diagnostics->bytesToAdapter) + "\t" + std::to_string(diagnostics->bytesFromAdapter) + "\t" +
                diagnostics->lastErrorText;
    if (!tls || tls->status != vsp::control::Status::Ok || !tls->tls)
        return line + "\t\t\t";
    return line + "\t" + tls->version + "\t" + tls->subject + "\t" + tls->fingerprint;
}

}  // namespace service

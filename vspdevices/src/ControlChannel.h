// A port's control channel: a Unix stream socket beside the port's link
// (COM<N>.control, mode 0600, in the port directory that only its user may enter).
// Programs started through the launcher ask on it for what a pseudo-terminal cannot
// carry: the modem lines, break, and the program's data size and parity; a status
// command asks it for the connection's diagnostics. Each client
// sends one request record at a time and gets one reply (ControlMessage.h); a
// malformed record ends that client. At most maxClients are served at once, only
// the port's own user, and a client that hangs up during a wait is noticed at once.
// The connection behind the port (PortControl) may come and go; without one every
// request is answered Unavailable and the program sees the plain pseudo-terminal.
#pragma once

#include "ControlMessage.h"
#include "vspdevices.h"

#include <asio.hpp>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>

namespace vsp {

// What a port's control channel asks of the connection behind the port.
class PortControl {
public:
    struct Status {
        std::uint32_t lines = 0;
        control::Counters counters;
        std::uint8_t dataBits = 8;
        std::uint8_t parity = control::parityNone;
    };
    virtual ~PortControl() = default;
    virtual Status controlStatus() const = 0;
    virtual void controlSetLines(std::uint32_t mask, std::uint32_t levels) = 0;
    virtual void controlSetBreak(bool on) = 0;
    virtual void controlSetFraming(std::uint8_t dataBits, std::uint8_t parity) = 0;
    // `changed` is called with the input lines that changed, whenever some do.
    virtual void controlObserve(std::function<void(std::uint32_t changed)> changed) = 0;
    // The connection's diagnostics, for a Diagnose request.
    virtual vsp_diagnostics controlDiagnostics() const = 0;
};

class ControlChannel : public std::enable_shared_from_this<ControlChannel> {
public:
    static constexpr std::size_t maxClients = 32;

    // The socket for the port whose link is linkPath; nullptr when it cannot be made
    // (the port then works as a plain pseudo-terminal).
    static std::shared_ptr<ControlChannel> create(asio::io_context& io, const std::string& linkPath);
    ~ControlChannel();
    // Ends every client and removes the socket.
    void close();
    // The connection that answers from now on (or none); waits in progress end.
    void setTarget(const std::shared_ptr<PortControl>& target);

    const std::string& path() const { return path_; }
    std::size_t clientCount() const { return clients_.size(); }

private:
    struct Client;
    ControlChannel(asio::io_context& io, std::string path, ino_t inode);
    void accept();
    void readRequest(const std::shared_ptr<Client>& client);
    void handle(const std::shared_ptr<Client>& client, const control::Request& request);
    void startWait(const std::shared_ptr<Client>& client, std::uint32_t mask);
    void startTimedBreak(const std::shared_ptr<Client>& client, std::uint32_t ms);
    void linesChanged(std::uint32_t changed);
    void reply(const std::shared_ptr<Client>& client, control::Op op, control::Status status, bool thenClose = false);
    void replyDiagnostics(const std::shared_ptr<Client>& client);
    void forget(const std::shared_ptr<Client>& client);

    asio::local::stream_protocol::acceptor acceptor_;
    std::string path_;
    ino_t inode_;  // the socket file we made, so only that one is removed
    bool closed_ = false;
    std::weak_ptr<PortControl> target_;
    std::vector<std::shared_ptr<Client>> clients_;
};

// The control socket's path for a port's link.
std::string controlSocketPath(const std::string& linkPath);

}  // namespace vsp

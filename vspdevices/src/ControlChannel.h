// A port's control channel: a Unix stream socket beside the port's link
// (COM<N>.control, mode 0600, in the port directory that only its user may enter).
// Programs started through the launcher ask on it for what a pseudo-terminal cannot
// carry: the modem lines, break, and the program's data size and parity; a status
// command asks it for the connection's diagnostics. Each client sends one request
// record at a time and gets one reply (vspdevices_control.h); a malformed record ends
// that client. Both name the pseudo-terminal: a request for another one than the
// channel serves (a descriptor of a port made anew under this name since) changes
// nothing and is answered Gone, and the client checks the reply's in turn. Only
// the port's own user is served, and a client that hangs up during a wait is
// noticed at once.
// No client can shut others out: one that stops in the middle of a record or stops
// reading its replies is dropped after stallLimit; at most maxClients are served
// at once, and a newcomer beyond them takes the place of the one idle longest
// (else of the longest wait, which is answered Gone); only when every place is
// busy, or no descriptor is left, is it told Busy at once. A failed accept never
// makes the channel spin: without descriptors, a waiting client is answered Busy
// through one kept in reserve and the channel waits for the next; failing that,
// accepting pauses for a moment.
// The connection behind the port (PortControl) may come and go; without one every
// request is answered Unavailable and the program sees the plain pseudo-terminal.
// The channel keeps the port's line-state page (vspdevices_line_state.h) up to date and
// hands it to a client that asks with Watch, with SCM_RIGHTS; a Drain request is
// answered once the output has left toward the adapter. A Monitor request turns
// the client into one of the port's monitors (vspdevices_monitor.h): it gets the
// port's traffic records from the connection's tap, each monitor's queue bounded.
#pragma once

#include "vspdevices_control.h"
#include "vspdevices_line_state.h"
#include "vspdevices_monitor.h"
#include "PortControl.h"
#include "vspdevices.h"

#include <asio.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <sys/types.h>

namespace vsp {

class ControlChannel : public std::enable_shared_from_this<ControlChannel> {
public:
    static constexpr std::size_t maxClients = 32;
    static constexpr auto stallLimit = std::chrono::seconds(2);
    static constexpr auto acceptPause = std::chrono::milliseconds(200);
    static constexpr std::size_t lostRecordSize = monitor::headerSize + 8;

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
    using Local = asio::local::stream_protocol;
    ControlChannel(asio::io_context& io, std::string path, ino_t inode, std::uint64_t terminal);
    void accept();
    void accepted(Local::socket socket);
    void acceptWithoutDescriptors();
    bool makeRoom();
    void readRequest(const std::shared_ptr<Client>& client);
    void readMore(const std::shared_ptr<Client>& client);
    void armDeadline(const std::shared_ptr<Client>& client);
    void disarmDeadline(const std::shared_ptr<Client>& client);
    void handle(const std::shared_ptr<Client>& client, const control::Request& request);
    void startWait(const std::shared_ptr<Client>& client, std::uint32_t mask, bool drain);
    void startTimedBreak(const std::shared_ptr<Client>& client, std::uint32_t ms);
    void stateChanged(std::uint32_t inputsMoved);
    void publish();
    void replyWithPage(const std::shared_ptr<Client>& client);
    void reply(const std::shared_ptr<Client>& client, control::Op op, control::Status status, bool thenClose = false);
    void replyDiagnostics(const std::shared_ptr<Client>& client, control::Op op);
    void forget(const std::shared_ptr<Client>& client);
    void startMonitor(const std::shared_ptr<Client>& client);
    void tapFor(const std::shared_ptr<Client>& client);
    bool fits(const std::shared_ptr<Client>& client, std::size_t size);
    void queueRecord(const std::shared_ptr<Client>& client, std::span<const std::uint8_t> record);
    void queueFitting(const std::shared_ptr<Client>& client, std::span<const std::uint8_t> record);
    void queueLost(const std::shared_ptr<Client>& client);
    void sendQueued(const std::shared_ptr<Client>& client);

    asio::local::stream_protocol::acceptor acceptor_;
    asio::steady_timer acceptPauseTimer_;
    std::string path_;
    ino_t inode_;  // the socket file we made, so only that one is removed
    std::uint64_t terminal_;  // the pseudo-terminal's device number, sent in every reply
    bool closed_ = false;
    std::weak_ptr<PortControl> target_;
    std::vector<std::shared_ptr<Client>> clients_;
    int pageFd_ = -1;  // the line-state page's memory, sealed against other writers
    control::LineStatePage* page_ = nullptr;
};

// The control socket's path for a port's link.
std::string controlSocketPath(const std::string& linkPath);

}  // namespace vsp

// A scripted network peer for the hostile-peer tests: a listening socket on
// 127.0.0.1 and its accepted connections as plain blocking sockets, so a test can
// behave as no well-made adapter would (never read, accept and close at once,
// never accept at all).
#pragma once

#include <chrono>
#include <cstdint>

class LoopbackPeer {
public:
    // backlog: how many finished connections wait unaccepted; past it the kernel
    // drops new connection attempts unanswered. bufferSize: the sockets' kernel
    // buffers (0 leaves the system's).
    explicit LoopbackPeer(int backlog = 16, int bufferSize = 0);
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    std::uint16_t port() const { return port_; }
    // An accepted connection's descriptor (the caller closes it), or -1 when none
    // came in time.
    int accept(std::chrono::milliseconds timeout) const;
    // A connection of our own to the listener, kept until the peer goes away.
    bool connectSelf();

private:
    int listener_ = -1;
    int self_ = -1;
    std::uint16_t port_ = 0;
};

// One bridge under test, seen from both of its ends: the application's side (the
// serial port it opens) and the peer's side (the TCP connection the bridge made to
// us, as an adapter would see it). Both ends are driven from one thread, so a
// bridge's own CPU time is everything it spends between them.
//
// Bytes flow as two endless streams of the benchmark pattern, "up" (application to
// peer) and "down" (peer to application). Every byte received is compared with the
// stream; a wrong, missing or unexpected byte, a closed end or a stall ends the
// benchmark with BridgeFault.
#pragma once

#include "AdapterProtocol.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench {

struct BridgeFault : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What a bridge has used so far: CPU time, and how often its threads went to sleep
// waiting for something (voluntary context switches), each a wake-up to pay for.
struct Usage {
    std::uint64_t cpuNanoseconds = 0;
    std::uint64_t sleeps = 0;
};

class Bridge {
public:
    // telnet: the peer speaks Telnet (answers negotiation, escapes IAC both ways).
    // usage: what the bridge has used so far.
    Bridge(std::string name, int appFd, int peerFd, bool telnet, std::function<Usage()> usage);
    ~Bridge();
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    const std::string& name() const { return name_; }
    Usage usage() const { return usage_(); }
    // Bytes received and found correct so far, both ways.
    std::uint64_t checkedBytes() const { return upChecked_ + downChecked_; }

    // Moves `up` more bytes from the application to the peer and `down` more from
    // the peer to the application, both at once, and returns when every one of
    // them has arrived and matched.
    void transfer(std::uint64_t up, std::uint64_t down);
    // Handles whatever the bridge sends the peer (negotiation) for a while.
    void serviceFor(std::chrono::milliseconds duration);

    // Makes the peer send a wrong byte at this offset of the down stream, to show
    // that the checks catch it.
    void corruptDownAt(std::uint64_t offset) { corruptAt_ = offset; }

private:
    void step(std::uint64_t upEnd, std::uint64_t downEnd, int timeoutMs);
    void stagePeerOutput(std::uint64_t downEnd);
    void readApp();
    void readPeer();
    void check(const char* stream, std::uint64_t& checked, std::uint64_t sent, std::span<const std::uint8_t> got);
    [[noreturn]] void fail(const std::string& what) const;

    std::string name_;
    int appFd_;
    int peerFd_;
    bool telnet_;
    std::function<Usage()> usage_;
    vsp::AdapterProtocol protocol_;
    std::vector<std::uint8_t> peerOut_;
    std::size_t peerOutDone_ = 0;
    std::vector<std::uint8_t> readBuffer_;
    std::vector<std::uint8_t> data_;
    std::vector<std::uint8_t> reply_;
    std::uint64_t upSent_ = 0;
    std::uint64_t upChecked_ = 0;
    std::uint64_t downSent_ = 0;
    std::uint64_t downChecked_ = 0;
    std::uint64_t corruptAt_ = std::numeric_limits<std::uint64_t>::max();
};

}  // namespace bench

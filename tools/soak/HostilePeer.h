// A peer that misbehaves toward the library: it accepts the library's connection
// on a loopback port and, on a thread of its own, sends what its generator makes
// for as long as it is loud, reading (and dropping) what comes back or never
// reading at all.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace soak {

class HostilePeer {
public:
    using Generator = std::function<std::vector<std::uint8_t>()>;

    // An empty generator sends nothing.
    HostilePeer(Generator generator, bool reads);
    ~HostilePeer();
    HostilePeer(const HostilePeer&) = delete;
    HostilePeer& operator=(const HostilePeer&) = delete;

    std::uint16_t port() const { return port_; }
    // How many connections the library made (more than one: it hung up on us).
    int connections() const { return connections_; }
    // Stops sending; the connection stays open (and unread, for a peer that never reads).
    void quiet() { loud_ = false; }
    // CPU time of the peer's thread, in seconds.
    double cpuSeconds() const;

private:
    void run();

    Generator generator_;
    bool reads_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<int> connections_{0};
    std::atomic<bool> loud_{true};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace soak

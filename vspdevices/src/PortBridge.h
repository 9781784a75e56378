// The way between a TcpClient's port (VirtualPort) and its connection to the
// adapter: what the application writes, its settings and flushes, in the order it
// did them, and the back-pressure both ways. All of it bounded:
//  - bytes from the port are gathered until the application pauses for the read
//    timeout (or gatherLimit are gathered) and sent together;
//  - up to preConnectLimit written before the connection is up and negotiated wait
//    for it (so the adapter has the port's settings before its first byte); beyond
//    that bytes are dropped and counted;
//  - settings (speed, stop bits, flow control) and flushes go out as commands in
//    the order they came among the bytes: bytes gathered before a change are sent
//    before its command. A flush of the output discards what is gathered and not
//    sent yet;
//  - the connection's queue full: the port is not read until it has drained;
//  - the application does not read (VirtualPort::highWater waiting): the
//    connection is told to leave the adapter's bytes in the socket.
// It knows the connection only as a Target, so it runs with any sender.
#pragma once

#include "VirtualPort.h"

#include <asio.hpp>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace vsp {

class PortBridge {
public:
    static constexpr std::size_t gatherLimit = 4096;
    static constexpr std::size_t preConnectLimit = 64 * 1024;

    // Where the port's bytes and commands go: the connection to the adapter.
    class Target {
    public:
        virtual ~Target() = default;
        virtual bool stopped() const = 0;     // bytes are discarded
        virtual bool takesData() const = 0;   // up and negotiated: bytes go now, else they wait
        virtual void sendData(std::span<const std::uint8_t> data) = 0;
        // The port's settings as commands, for what differs from before.
        virtual void sendSettings(const PortSettings& now, const PortSettings& before) = 0;
        virtual void sendPurge(bool input, bool output) = 0;
        virtual bool queueFull() const = 0;     // pause the port
        virtual bool queueDrained() const = 0;  // resume it
        // What waits here changed (gathered or waiting for the connection).
        virtual void waitingChanged() = 0;
    };

    // readTimeoutMs <= 0 sends each write at once. The adapter starts with `adapterHas`.
    PortBridge(asio::io_context& io, Target& target, double readTimeoutMs, const PortSettings& adapterHas);

    // Joins the port (or none); the adapter then follows its settings as they stand.
    void attach(const std::shared_ptr<VirtualPort>& port);
    std::shared_ptr<VirtualPort> port() const { return port_.lock(); }
    // An application holds the port, its open confirmed.
    bool portHeld() const;

    // From the port, in its order.
    void data(std::span<const std::uint8_t> bytes);
    void settingsChanged(const PortSettings& now);
    void flushed(bool input, bool output);
    // Sends what is gathered now (before a command that must follow it).
    void flushGathered();

    // The connection is up and negotiated: what waited for it goes.
    void releaseWaiting();
    // No connection is wanted any more: what waited for one is dropped and counted.
    void dropWaiting();
    // Emulation stops: nothing gathered or waiting goes any more.
    void stop();
    // Pauses or resumes reading the port as the connection's queue stands.
    void updatePortPause();

    // Bytes for the application from the adapter; while only the adapter's close is
    // awaited (lastReads), what it has no room for is discarded.
    void deliver(std::span<const std::uint8_t> bytes, bool lastReads);
    // The application does not read what comes from the adapter.
    bool applicationBehind() const;

    bool waiting() const { return !preConnect_.empty(); }
    bool holdsOutput() const { return !gathered_.empty() || !preConnect_.empty(); }
    std::uint64_t held() const { return gathered_.size() + preConnect_.size(); }
    std::uint64_t dropped() const { return dropped_; }

private:
    void send(std::span<const std::uint8_t> bytes);
    void followPortSettings(const PortSettings& now);

    Target& target_;
    double readTimeoutMs_;
    asio::steady_timer gatherTimer_;
    std::weak_ptr<VirtualPort> port_;
    PortSettings adapterHas_;  // the port's settings as the adapter has them (or gets them on connecting)
    std::vector<std::uint8_t> gathered_;
    std::vector<std::uint8_t> preConnect_;
    std::uint64_t dropped_ = 0;  // bytes from the port lost while not connected
    bool portPaused_ = false;    // the port is not read: the connection is behind
    std::shared_ptr<char> alive_ = std::make_shared<char>();  // expires with the bridge, for its timer
};

}  // namespace vsp

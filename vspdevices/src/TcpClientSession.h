// A TcpClient while emulation runs: the parts that make it, each with one job, and
// what passes between them.
//  - AdapterConnection: finds the adapter, connects, retries, keeps the connection
//    alive and carries the Telnet and RFC 2217 port control (its states are there);
//  - PortBridge: between the port and the connection, the application's bytes,
//    settings and flushes in their order, and the back-pressure both ways;
//  - LineControl: the port's control channel (PortControl): modem lines, break
//    and framing of programs started through the launcher.
// The session joins them (it is the connection's Owner and the bridge's Target),
// takes the port's events (PortListener), stops and drains the whole, and gives
// the library its diagnostics and events.
#pragma once

#include "AdapterConnection.h"
#include "InitString.h"
#include "LineControl.h"
#include "PortBridge.h"
#include "PortControl.h"
#include "TrafficTap.h"
#include "VirtualPort.h"
#include "vspdevices.h"

#include <asio.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace vsp {

class TcpClientSession : public PortListener,
                         private AdapterConnection::Owner,
                         private PortBridge::Target,
                         public std::enable_shared_from_this<TcpClientSession> {
public:
    using State = AdapterConnection::State;
    using FailureKind = AdapterConnection::FailureKind;
    using Event = AdapterConnection::Event;

    TcpClientSession(asio::io_context& io, const TcpClientSettings& settings);
    // Called on the I/O thread with each event from now on.
    void setEventReport(std::function<void(const Event&)> report) { report_ = std::move(report); }

    void start() { connection_.start(); }
    // Ends the connection at once; what it could not send is reported (DataLost) with its count.
    void stop();
    // Before the library stops: takes the port's last bytes (VirtualPort::takeLastInput)
    // and sends them and what waits to a connected adapter, then ends
    // our side of the connection and calls `done` once the adapter has closed its
    // end too (so it has read every byte), or at once when nothing was sent or no
    // adapter is connected. stop() follows, whether done came or not.
    void drain(std::function<void()> done);
    // Drops the connection and connects again at once, sending the settings again.
    void reinitialize() { connection_.reinitialize(); }
    // Joins the port; the adapter then follows the port's settings as they stand.
    void attachPort(std::shared_ptr<VirtualPort> port);
    // What the port's control channel talks to; it shares this session's life.
    std::shared_ptr<PortControl> portControl() { return {shared_from_this(), &lines_}; }

    State state() const { return connection_.state(); }
    bool ready() const { return state() != State::Stopped; }
    bool ok() const { return state() == State::Up || state() == State::Closing; }
    // Everything vsp_getDeviceDiagnostics tells of the connection (SessionDiagnostics.cpp).
    vsp_diagnostics diagnostics() const;
    static int errorCode(FailureKind kind);

    void portOpened() override;
    void portClosed() override;
    void portData(std::span<const std::uint8_t> data) override
    {
        tap_.data(monitor::Direction::ToDevice, data);
        bridge_.data(data);
    }
    void portSettingsChanged(const PortSettings& now, const PortSettings&) override
    {
        bridge_.settingsChanged(now);
        lines_.changed(0);  // monitors see the new settings
    }
    void portFlushed(bool input, bool output) override { bridge_.flushed(input, output); }
    void portDrained() override { connection_.startReading(); }

private:
    void takeLastInput();

    // AdapterConnection::Owner
    std::shared_ptr<void> keepAlive() override { return shared_from_this(); }
    bool portHeld() const override { return bridge_.portHeld(); }
    bool dataWaiting() const override { return bridge_.waiting(); }
    bool applicationBehind() const override { return bridge_.applicationBehind(); }
    void connectionOpened(std::vector<std::uint8_t>& offer) override { lines_.addToOffer(offer); }
    void connectionReady() override { bridge_.releaseWaiting(); }
    void connectionReceived(std::span<const std::uint8_t> data, bool lastReads) override
    {
        tap_.data(monitor::Direction::FromDevice, data);
        bridge_.deliver(data, lastReads);
    }
    void connectionNotified() override { lines_.noteModemState(); }
    void connectionQueueChanged() override { bridge_.updatePortPause(); }
    void connectionLinesChanged() override { lines_.updateInputLines(); }
    void connectionStatusChanged() override { lines_.changed(0); }
    void connectionAbandoned() override { bridge_.dropWaiting(); }
    void connectionEvent(const Event& event) override;

    // PortBridge::Target
    bool stopped() const override { return state() == State::Stopped; }
    bool takesData() const override { return ok(); }
    void sendData(std::span<const std::uint8_t> data) override { connection_.sendData(data); }
    void sendSettings(const PortSettings& now, const PortSettings& before) override { connection_.sendSettings(now, before); }
    void sendPurge(bool input, bool output) override { connection_.sendPurge(input, output); }
    bool queueFull() const override { return connection_.queueFull(); }
    bool queueDrained() const override { return connection_.queueDrained(); }
    void waitingChanged() override { lines_.changed(0); }

    asio::io_context& io_;
    TrafficTap tap_;  // before the parts that report to it
    AdapterConnection connection_;
    PortBridge bridge_;
    LineControl lines_;
    std::function<void(const Event&)> report_;
    bool drainStarted_ = false;
    std::uint64_t droppedBeforeDrain_ = 0;  // the bridge's count when the drain started
};

}  // namespace vsp

// A TcpClient while emulation runs: the TCP connection to the adapter that carries
// its port's bytes, with Telnet and RFC 2217 port control (ClientProtocol) when
// asked for.
//
// The connection is in exactly one of these states:
//
//   Stopped      emulation is off. start() -> Resolving, or Idle on demand.
//   Idle         on demand and no application holds the port. An application
//                opens it -> Resolving.
//   Resolving    looking the host up (an IP address skips the look-up; a name has
//                at most NameLookup::timeLimit). Found -> Connecting.
//   Connecting   TCP connect, at most connectTimeout. Connected -> Negotiating
//                (Telnet) or Up (raw TCP).
//   Negotiating  connected; waiting for the adapter to answer the COM-PORT-OPTION
//                offer, at most negotiationWait. Data already flows. -> Up.
//   Up           connected and negotiated.
//   Closing      on demand, the application closed the port: the last bytes go
//                out, then -> Idle (the application opens it again -> Up).
//   RetryWait    an attempt or connection failed; the next attempt starts
//                after the pause -> Resolving.
//
// Every failure (look-up, connect, read, write, time limits) goes through fail(),
// which records its kind, text and time, closes the socket and moves to RetryWait
// (or Idle/Stopped when no connection is wanted any more). stop() moves to Stopped
// from anywhere; reinitialize() closes and starts a fresh attempt at once.
//
// Retry pause: 0.25 s, doubling to 5 s. It counts from the start of the failed
// attempt, so an attempt that used its whole connect timeout is followed by the
// next at once; after a drop it counts from the drop. The pause goes back to
// 0.25 s only when a connection has stayed up for stableAfter, so an adapter that
// accepts and closes at once is tried every 5 s, not four times a second.
//
// Keep-alive: first probe after keepAliveIdle of silence, then every
// keepAliveInterval; keepAliveCount unanswered probes, or data unacknowledged for
// as long (TCP_USER_TIMEOUT), end the connection: a dead adapter is noticed within
// about 25 s, idle line or not.
//
// Flow, kept apart from the state (all queues bounded):
//  - bytes from the port are gathered until the application pauses for the read
//    timeout (or 4 KiB are gathered) and sent together;
//  - more than socketHighWater waiting for the socket: the port is not read, and
//    neither is the socket (so a peer that floods negotiations and never reads
//    cannot make answers pile up), until it drains below socketLowWater;
//  - the application does not read (VirtualPort::highWater waiting): the socket
//    is not read and TCP slows the adapter down;
//  - up to preConnectLimit written before the connection is up and negotiated wait
//    for it (so the adapter has the port's settings before its first byte); beyond
//    that bytes are dropped and counted.
//
// The application's settings (speed, stop bits, flow control) and flushes go out
// as commands in the order they came among its bytes: bytes gathered before a change
// are sent before its command. A flush of the output discards what is gathered and
// not sent yet.
#pragma once

#include "ClientProtocol.h"
#include "ControlChannel.h"
#include "InitString.h"
#include "NameLookup.h"
#include "VirtualPort.h"
#include "WriteQueue.h"

#include <asio.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vsp {

class TcpClientSession : public PortListener,
                         public PortControl,
                         public std::enable_shared_from_this<TcpClientSession> {
public:
    static constexpr std::size_t gatherLimit = 4096;
    static constexpr std::size_t preConnectLimit = 64 * 1024;
    static constexpr std::size_t socketHighWater = 64 * 1024;
    static constexpr std::size_t socketLowWater = 16 * 1024;
    static constexpr auto firstRetry = std::chrono::milliseconds(250);
    static constexpr auto lastRetry = std::chrono::milliseconds(5000);
    static constexpr auto connectTimeout = std::chrono::milliseconds(5000);
    static constexpr auto stableAfter = std::chrono::seconds(10);
    static constexpr auto negotiationWait = std::chrono::milliseconds(2000);
    static constexpr int keepAliveIdleSeconds = 10;
    static constexpr int keepAliveIntervalSeconds = 5;
    static constexpr int keepAliveCount = 3;

    enum class State { Stopped, Idle, Resolving, Connecting, Negotiating, Up, Closing, RetryWait };
    enum class FailureKind { None, Refused, TimedOut, NameNotFound, Reset, ClosedByPeer, Unreachable, Other };
    struct Failure {
        FailureKind kind = FailureKind::None;
        std::string text;
        std::chrono::system_clock::time_point when;
    };
    struct Counters {
        std::uint64_t toAdapter = 0;    // serial data bytes handed to the socket
        std::uint64_t fromAdapter = 0;  // serial data bytes received
        std::uint64_t dropped = 0;      // bytes from the port lost while not connected
        std::uint32_t reconnects = 0;   // connections made after the first
    };

    // What happens to the connection, for the library's event hook.
    struct Event {
        enum class Kind { Connected, Dropped, ConnectFailed, SettingsSent, Closed, DataLost };
        Kind kind;
        FailureKind failure = FailureKind::None;
        std::string text;
    };

    TcpClientSession(asio::io_context& io, TcpClientSettings settings);
    // Called on the I/O thread with each event from now on.
    void setEventReport(std::function<void(const Event&)> report) { report_ = std::move(report); }

    void start();
    // Ends the connection at once; what it could not send is reported (Closed) with its count.
    void stop();
    // Before the library stops: takes the port's last bytes (VirtualPort::takeLastInput)
    // and sends them and what waits to a connected adapter, then ends
    // our side of the connection and calls `done` once the adapter has closed its
    // end too (so it has read every byte), or at once when nothing was sent or no
    // adapter is connected. stop() follows, whether done came or not.
    void drain(std::function<void()> done);
    // Drops the connection and connects again at once, sending the settings again.
    void reinitialize();
    // Joins the port; the adapter then follows the port's settings as they stand.
    void attachPort(std::shared_ptr<VirtualPort> port);

    State state() const { return state_; }
    bool ready() const { return state_ != State::Stopped; }
    bool ok() const { return state_ == State::Up || state_ == State::Closing; }
    const Failure& lastFailure() const { return lastFailure_; }
    const Counters& counters() const { return counters_; }
    // How long the current connection has been up; zero when not connected.
    std::chrono::steady_clock::duration upTime() const;
    const rfc2217::ServerState& serverState() const { return protocol_.server(); }
    bool portHeld() const;
    // Everything vsp_getDeviceDiagnostics tells of the connection (SessionDiagnostics.cpp).
    vsp_diagnostics diagnostics() const;
    static int errorCode(FailureKind kind);

    void portOpened() override;
    void portClosed() override;
    void portData(std::span<const std::uint8_t> data) override;
    void portSettingsChanged(const PortSettings& now, const PortSettings& before) override;
    void portFlushed(bool input, bool output) override;
    void portDrained() override;

    // The port's control channel (TcpClientSessionControl.cpp): the modem lines, break
    // and framing a program sets through the launcher, and the input lines it reads.
    Status controlStatus() const override;
    bool controlOutputLeft() const override;
    void controlSetLines(std::uint32_t mask, std::uint32_t levels) override;
    void controlSetBreak(bool on) override;
    void controlSetFraming(std::uint8_t dataBits, std::uint8_t parity) override;
    void controlObserve(std::function<void(std::uint32_t changed)> changed) override;
    vsp_diagnostics controlDiagnostics() const override { return diagnostics(); }

private:
    void report(Event::Kind kind, std::string text, FailureKind failure = FailureKind::None);
    // After commands went out: reports the serial settings when some were among them.
    void reportSettingsSent(bool sent);
    std::string adapterAddress() const;

    // Control channel helpers (TcpClientSessionControl.cpp).
    void askForModemState();
    std::uint32_t inputLinesNow() const;
    void updateInputLines();
    void noteModemState();
    void raiseLinesForEarlyControl();
    void checkEarlyOpen();
    bool openRaisesLines();

    bool connected() const;
    bool wantsConnection() const;
    void beginAttempt();
    void connectTo(const NameLookup::Endpoints& endpoints);
    void onConnected();
    void fail(FailureKind kind, std::string text);
    void fail(const std::error_code& error, const std::string& during);
    void hangUp();
    void leaveConnection();
    void settleIdle();
    void setKeepAlive();
    void startReading();
    void onReceived(std::size_t size);
    void flushGathered();
    void sendData(std::span<const std::uint8_t> data);
    void becomeUp();
    void sendRaw(std::span<const std::uint8_t> bytes);
    void startWriting();
    void updatePortPause();
    // Sends what differs between the port's settings and those the adapter has.
    void followPortSettings(const PortSettings& port);
    void takeLastInput();
    void checkDrained();
    // Tells the port's control channel that its state may have changed (inputsMoved:
    // the input lines that did), so it publishes it and ends the waits it settles.
    void controlChanged(std::uint32_t inputsMoved);
    // Bytes handed to the socket that the adapter has not acknowledged yet.
    std::size_t unacknowledged();
    template <class Handler>
    auto guarded(Handler handler);

    asio::io_context& io_;
    TcpClientSettings settings_;
    NameLookup lookup_;
    asio::ip::tcp::socket socket_;
    asio::steady_timer retryTimer_;
    asio::steady_timer connectTimer_;
    asio::steady_timer gatherTimer_;
    asio::steady_timer negotiationTimer_;
    std::weak_ptr<VirtualPort> port_;
    PortSettings adapterHas_;  // the port's settings as the adapter has them (or gets them on connecting)

    State state_ = State::Stopped;
    std::uint64_t generation_ = 0;  // tells handlers of an old attempt from the current one
    std::chrono::milliseconds retryDelay_ = firstRetry;
    std::chrono::steady_clock::time_point attemptStarted_;
    std::chrono::steady_clock::time_point connectedAt_;
    bool everConnected_ = false;
    bool hangUpWhenUp_ = false;  // on demand, the application left during negotiation
    Failure lastFailure_;
    Counters counters_;
    std::function<void(const Event&)> report_;

    struct Drain {
        bool started = false;
        std::function<void()> done;  // set while draining
        bool inputTaken = false;     // the port's last bytes are here
        std::uint64_t droppedBefore = 0;  // counters_.dropped when it started
        bool confirm = false;        // bytes went out: wait for the adapter to close after us
        bool endSent = false;        // our side of the connection is shut
        std::uint64_t lost = 0;      // bytes a failure during the drain took with it
    } drain_;

    struct Flow {
        bool reading = false;     // a socket read is in flight
        bool portPaused = false;  // the port is not read: the socket is behind
    } flow_;

    ClientProtocol protocol_;
    std::vector<std::uint8_t> answer_;  // answers to one read's Telnet commands
    std::array<std::uint8_t, 65536> readBuffer_{};
    std::vector<std::uint8_t> gathered_;
    std::vector<std::uint8_t> preConnect_;
    WriteQueue outgoing_;

    struct ControlLines {
        std::uint32_t inputs = 0;  // CTS, DSR, DCD, RI as the program reads them
        control::Counters counters;
        bool raisedEarly = false;  // a program's control came before the port's open was confirmed
        bool linesSetByProgram = false;  // DTR/RTS as a program set them, until it closes the port
        std::function<void(std::uint32_t)> observer;
    } control_;
    asio::steady_timer earlyOpenCheck_;
};

}  // namespace vsp

// A TcpClient's TCP connection to the adapter: it finds the adapter, connects,
// retries, keeps the connection alive, and carries the Telnet and RFC 2217 port
// control (ClientProtocol) when asked for. It owns the socket and its queue; what
// the port needs of it (data, modem lines, flow) goes through its Owner, so the
// connection knows no port and no control channel.
//
// The connection is in exactly one of these states:
//
//   Stopped      emulation is off. start() -> Resolving, or Idle on demand.
//   Idle         on demand and no application holds the port. An application
//                opens it -> Resolving.
//   Resolving    looking the host up (an IP address skips the look-up; a name has
//                at most NameLookup::timeLimit). Found -> Connecting.
//   Connecting   TCP connect and, over TLS, the handshake and the adapter's
//                certificate's check (TlsSession), at most connectTimeout together;
//                over TLS 1.3 then, when the adapter asked for our certificate, its
//                verdict (certificateVerdictWait at most), so a refusal is a failed
//                attempt, not a connection. -> Negotiating (Telnet) or Up (raw TCP).
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
// The socket is not read while more than socketHighWater waits to be sent (until
// it drains below socketLowWater), so a peer that floods negotiations and never
// reads cannot make answers pile up; nor while the application does not read.
//
// Over TLS every read and write goes through the session; the monitors see the
// bytes in the clear. A certificate refused is retried at the usual pause (it may
// be pinned meanwhile).
//
// Finishing (before the library stops): what waits is sent, then only our side
// of the connection ends (over TLS, the TCP end, no close_notify), and the adapter closing its end after that (so it has
// read every byte) completes it; a failure meanwhile is not retried.
#pragma once

#include "ClientProtocol.h"
#include "InitString.h"
#include "NameLookup.h"
#include "TlsSession.h"
#include "TrafficTap.h"
#include "WriteQueue.h"

#include <asio.hpp>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vsp {

struct PortSettings;

class AdapterConnection {
public:
    static constexpr std::size_t socketHighWater = 64 * 1024;
    static constexpr std::size_t socketLowWater = 16 * 1024;
    static constexpr auto firstRetry = std::chrono::milliseconds(250);
    static constexpr auto lastRetry = std::chrono::milliseconds(5000);
    static constexpr auto connectTimeout = std::chrono::milliseconds(5000);
    static constexpr auto stableAfter = std::chrono::seconds(10);
    static constexpr auto negotiationWait = std::chrono::milliseconds(2000);
    // Over TLS 1.3 an adapter that asked for our certificate judges it after the
    // handshake: the connection counts as made once it sends something, or after this.
    static constexpr auto certificateVerdictWait = std::chrono::milliseconds(500);
    static constexpr int keepAliveIdleSeconds = 10;
    static constexpr int keepAliveIntervalSeconds = 5;
    static constexpr int keepAliveCount = 3;

    enum class State { Stopped, Idle, Resolving, Connecting, Negotiating, Up, Closing, RetryWait };
    enum class FailureKind {
        None, Refused, TimedOut, NameNotFound, Reset, ClosedByPeer, Unreachable, Other,
        CertificateUnknown, CertificateChanged, Tls
    };
    struct Failure {
        FailureKind kind = FailureKind::None;
        std::string text;
        std::chrono::system_clock::time_point when;
    };
    struct Counters {
        std::uint64_t toAdapter = 0;    // serial data bytes handed to the socket
        std::uint64_t fromAdapter = 0;  // serial data bytes received
        std::uint32_t reconnects = 0;   // connections made after the first
    };
    // What happens to the connection, for the library's event hook.
    struct Event {
        enum class Kind { Connected, Dropped, ConnectFailed, SettingsSent, Closed, DataLost };
        Kind kind;
        FailureKind failure = FailureKind::None;
        std::string text;
    };

    // What the connection asks of, and tells, the side of the port. Called on the
    // I/O thread, never from within the call that caused it unless noted.
    class Owner {
    public:
        virtual ~Owner() = default;
        // Kept alive by every operation in flight.
        virtual std::shared_ptr<void> keepAlive() = 0;
        virtual bool portHeld() const = 0;
        // Bytes from the port wait for the connection to be up and negotiated.
        virtual bool dataWaiting() const = 0;
        // The application does not read what comes from the adapter.
        virtual bool applicationBehind() const = 0;
        // Connected: the owner adds what goes out with the offer (the modem lines).
        virtual void connectionOpened(std::vector<std::uint8_t>& offer) = 0;
        // Up and negotiated: the bytes that waited may go.
        virtual void connectionReady() = 0;
        // Serial data from the adapter; lastReads while only the adapter's close is awaited.
        virtual void connectionReceived(std::span<const std::uint8_t> data, bool lastReads) = 0;
        // The adapter notified its modem state (ClientProtocol::messages()).
        virtual void connectionNotified() = 0;
        // The socket's queue grew or shrank (queueFull(), queueDrained()).
        virtual void connectionQueueChanged() = 0;
        // The input lines may have changed: connected or not any more.
        virtual void connectionLinesChanged() = 0;
        // What the control channel shows may have changed (lines, framing, output left).
        virtual void connectionStatusChanged() = 0;
        // No connection is wanted any more: bytes that waited for one are dropped.
        virtual void connectionAbandoned() = 0;
        virtual void connectionEvent(const Event& event) = 0;
    };

    // `tap` sees the bytes on the connection and its events, for the port's monitors.
    AdapterConnection(asio::io_context& io, const TcpClientSettings& settings, Owner& owner, TrafficTap& tap);

    void start();
    void stop();
    // Drops the connection and connects again at once, sending the settings again.
    void reinitialize();
    // An application opened the port: connect now on demand, or keep the closing connection.
    void applicationArrived();
    // On demand, the application closed the port: the last bytes go, then the connection ends.
    void applicationLeft();

    // Serial data from the port, once up (the owner keeps it before).
    void sendData(std::span<const std::uint8_t> data);
    // Telnet commands, sent only while connected.
    void sendRaw(std::span<const std::uint8_t> bytes);
    // The port's settings as commands (what differs from before).
    void sendSettings(const PortSettings& now, const PortSettings& before);
    void sendPurge(bool input, bool output);
    // After commands went out: reports the serial settings when some were among them.
    void reportSettingsSent(bool sent);
    // Reads on, when the reasons it stopped for are gone.
    void startReading();

    // Finishing, in two steps: from finishing() on no failure is retried; once the
    // port's last bytes are here, finishWhenSent() sends them and ends our side,
    // and done is called once the adapter has closed its end (or at once when
    // nothing is to be confirmed).
    void startFinishing(std::function<void()> done);
    bool finishing() const { return static_cast<bool>(finish_.done); }
    void finishWhenSent();
    // Bytes that will not reach the adapter if the connection stops now.
    std::uint64_t unsent();
    void cancelFinishing() { finish_ = Finish(); }

    State state() const { return state_; }
    bool connected() const;
    // Connected, and the socket is still open (input lines are valid).
    bool linked() const { return connected() && socket_.is_open(); }
    bool queueFull() const { return outgoing_.size() > socketHighWater; }
    bool queueDrained() const { return outgoing_.size() < socketLowWater; }
    bool queueEmpty() const { return outgoing_.empty(); }
    const Failure& lastFailure() const { return lastFailure_; }
    const Counters& counters() const { return counters_; }
    // How long the current connection has been up; zero when not connected.
    std::chrono::steady_clock::duration upTime() const;
    ClientProtocol& protocol() { return protocol_; }
    // Over TLS: the version while connected ("" otherwise), and the certificate the
    // adapter presented last (kept after a refusal, so it can be shown and pinned).
    bool tls() const { return settings_.tls.enabled; }
    std::string tlsVersion() const { return connected() && tls_ ? tls_->version() : std::string(); }
    const TlsSession::Peer& peerCertificate() const { return peer_; }
    const ClientProtocol& protocol() const { return protocol_; }

private:
    void report(Event::Kind kind, std::string text, FailureKind failure = FailureKind::None);
    void tapConnected();
    std::string adapterAddress() const;
    bool wantsConnection() const;
    void beginAttempt();
    void connectTo(const NameLookup::Endpoints& endpoints);
    void startHandshake();
    void onConnected();
    void fail(FailureKind kind, std::string text);
    void fail(const std::error_code& error, const std::string& during);
    void hangUp();
    void leaveConnection();
    void settleIdle();
    void setKeepAlive();
    void read();
    void onReceived(std::size_t size);
    void becomeUp();
    void startWriting();
    void checkFinished();
    void endTls();
    // Bytes handed to the socket that the adapter has not acknowledged yet.
    std::size_t unacknowledged();
    template <class Handler>
    auto guarded(Handler handler);

    TcpClientSettings settings_;
    Owner& owner_;
    TrafficTap& tap_;
    NameLookup lookup_;
    asio::ip::tcp::socket socket_;
    std::shared_ptr<TlsSession> tls_;  // over TLS, the current connection's session
    TlsSession::Peer peer_;
    asio::steady_timer retryTimer_;
    asio::steady_timer connectTimer_;
    asio::steady_timer negotiationTimer_;

    State state_ = State::Stopped;
    std::uint64_t generation_ = 0;  // tells handlers of an old attempt from the current one
    std::chrono::milliseconds retryDelay_ = firstRetry;
    std::chrono::steady_clock::time_point attemptStarted_;
    std::chrono::steady_clock::time_point connectedAt_;
    bool everConnected_ = false;
    bool hangUpWhenUp_ = false;  // on demand, the application left during negotiation
    bool reading_ = false;       // a socket read is in flight
    // Finishing over TLS: our read is being cancelled, then the close_notify's shutdown runs.
    enum class TlsEnd { None, WaitingForRead, ShuttingDown } tlsEnd_ = TlsEnd::None;
    Failure lastFailure_;
    Counters counters_;

    struct Finish {
        std::function<void()> done;  // set while finishing
        bool inputTaken = false;     // the port's last bytes are here
        bool confirm = false;        // bytes went out: wait for the adapter to close after us
        bool endSent = false;        // our side of the connection is shut
        std::uint64_t lost = 0;      // bytes a failure while finishing took with it
    } finish_;

    ClientProtocol protocol_;
    std::vector<std::uint8_t> answer_;  // answers to one read's Telnet commands
    std::array<std::uint8_t, 65536> readBuffer_{};
    WriteQueue outgoing_;
};

}  // namespace vsp

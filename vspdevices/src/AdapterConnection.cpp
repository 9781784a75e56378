#include "AdapterConnection.h"

#include "VirtualPort.h"

#include <netinet/in.h>
#include <linux/sockios.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <concepts>
#include <string>
#include <utility>

namespace vsp {
namespace {
AdapterConnection::FailureKind kindOf(const std::error_code& error)
{
    using Kind = AdapterConnection::FailureKind;
    if (error == asio::error::connection_refused)
        return Kind::Refused;
    if (error == asio::error::timed_out)
        return Kind::TimedOut;
    if (error == asio::error::eof || error == asio::ssl::error::stream_truncated)
        return Kind::ClosedByPeer;
    if (error == asio::error::connection_reset || error == asio::error::broken_pipe ||
        error == asio::error::connection_aborted)
        return Kind::Reset;
    if (error == asio::error::host_unreachable || error == asio::error::network_unreachable)
        return Kind::Unreachable;
    if (error == asio::error::host_not_found || error == asio::error::host_not_found_try_again ||
        error == asio::error::no_data || error == asio::error::no_recovery)
        return Kind::NameNotFound;
    if (error.category() == asio::error::get_ssl_category())
        return Kind::Tls;
    return Kind::Other;
}

std::uint8_t outboundFlowCode(PortSettings::Flow flow)
{
    using Flow = PortSettings::Flow;
    return flow == Flow::Hardware ? rfc2217::flowHardware : flow == Flow::XonXoff ? rfc2217::flowXonXoff : rfc2217::flowNone;
}

std::uint8_t inboundFlowCode(PortSettings::Flow flow)
{
    using Flow = PortSettings::Flow;
    return flow == Flow::Hardware ? rfc2217::inboundFlowHardware
           : flow == Flow::XonXoff ? rfc2217::inboundFlowXonXoff
                                   : rfc2217::inboundFlowNone;
}
}  // namespace

AdapterConnection::AdapterConnection(asio::io_context& io, const TcpClientSettings& settings, Owner& owner,
                                     TrafficTap& tap)
    : settings_(settings),
      owner_(owner),
      tap_(tap),
      lookup_(io),
      socket_(io),
      retryTimer_(io),
      connectTimer_(io),
      negotiationTimer_(io),
      protocol_(settings_.telnet, settings_.serial)
{
}

template <class Handler>
auto AdapterConnection::guarded(Handler handler)
{
    return [keep = owner_.keepAlive(), this, generation = generation_, handler = std::move(handler)](auto&&... args)
               requires std::invocable<const Handler&, decltype(args)...>
    {
        if (generation == generation_)
            handler(std::forward<decltype(args)>(args)...);
    };
}

void AdapterConnection::start()
{
    if (state_ != State::Stopped)
        return;
    state_ = State::Idle;
    everConnected_ = false;
    if (wantsConnection())
        beginAttempt();
}

void AdapterConnection::stop()
{
    leaveConnection();
    state_ = State::Stopped;
}

std::uint64_t AdapterConnection::unsent()
{
    return (connected() ? outgoing_.size() : 0) + finish_.lost +
           (finish_.endSent && connected() ? unacknowledged() : 0);
}

void AdapterConnection::startFinishing(std::function<void()> done)
{
    finish_.done = std::move(done);
}

void AdapterConnection::finishWhenSent()
{
    finish_.inputTaken = true;
    finish_.confirm = !outgoing_.empty() || owner_.dataWaiting() || (connected() && unacknowledged() > 0);
    checkFinished();
}

void AdapterConnection::checkFinished()
{
    if (!finish_.done || !finish_.inputTaken)
        return;
    if ((state_ == State::Negotiating && owner_.dataWaiting()) || (connected() && !outgoing_.empty()))
        return;  // the settings, then the bytes, are on their way
    if (connected() && finish_.confirm && !finish_.endSent) {
        // Closing now could reset the connection with bytes still on their way (an
        // adapter's own bytes arriving after the close do), so only our side ends:
        // the adapter reads everything, then closes its end, which fail() sees.
        finish_.endSent = true;
        if (tls_) {
            endTls();
            return;
        }
        asio::error_code ignored;
        socket_.shutdown(asio::socket_base::shutdown_send, ignored);
        startReading();
        return;
    }
    if (connected() && finish_.endSent)
        return;
    std::exchange(finish_.done, nullptr)();
}

// Over TLS our side ends with a close_notify: an adapter that meets a bare TCP end
// takes it for a broken connection and may drop what it has not yet written to its
// device (ser2net does, now and then), while after a close_notify it writes
// everything, then closes. The shutdown reads the adapter's answer itself, so our
// own read is cancelled first (its bytes, when it got some, still go to the port)
// and nothing is read or written beside the shutdown.
void AdapterConnection::endTls()
{
    if (reading_) {
        tlsEnd_ = TlsEnd::WaitingForRead;
        asio::error_code ignored;
        socket_.cancel(ignored);
        return;
    }
    tlsEnd_ = TlsEnd::ShuttingDown;
    tls_->stream().async_shutdown(guarded([this, session = tls_](const asio::error_code& error) {
        if (!error || error == asio::error::eof || error == asio::ssl::error::stream_truncated)
            fail(FailureKind::ClosedByPeer, "connection: " + asio::error_code(asio::error::eof).message());
        else
            fail(error, "connection");
    }));
}

std::size_t AdapterConnection::unacknowledged()
{
    int bytes = 0;
    if (!socket_.is_open() || ::ioctl(socket_.native_handle(), SIOCOUTQ, &bytes) != 0)
        return 0;
    return static_cast<std::size_t>(std::max(bytes, 0));
}

void AdapterConnection::reinitialize()
{
    if (state_ == State::Stopped)
        return;
    if (connected())
        report(Event::Kind::Closed, "reinitialized");
    leaveConnection();
    retryDelay_ = firstRetry;
    settleIdle();
}

bool AdapterConnection::connected() const
{
    return state_ == State::Negotiating || state_ == State::Up || state_ == State::Closing;
}

bool AdapterConnection::wantsConnection() const
{
    return state_ != State::Stopped && (!settings_.onDemand || owner_.portHeld());
}

std::chrono::steady_clock::duration AdapterConnection::upTime() const
{
    return connected() ? std::chrono::steady_clock::now() - connectedAt_ : std::chrono::steady_clock::duration::zero();
}

void AdapterConnection::beginAttempt()
{
    state_ = State::Resolving;
    attemptStarted_ = std::chrono::steady_clock::now();
    if (tap_.active())
        tap_.event(monitor::Kind::Connecting, adapterAddress());
    lookup_.start(settings_.host, settings_.port,
                  guarded([this](const std::error_code& error, const NameLookup::Endpoints& endpoints) {
                      if (error == asio::error::timed_out)
                          fail(FailureKind::TimedOut, "no answer to the name look-up of " + settings_.host + " within " +
                                                          std::to_string(NameLookup::timeLimit.count()) + " s");
                      else if (error)
                          fail(error, "name look-up of " + settings_.host);
                      else
                          connectTo(endpoints);
                  }));
}

void AdapterConnection::connectTo(const NameLookup::Endpoints& endpoints)
{
    state_ = State::Connecting;
    connectTimer_.expires_after(connectTimeout);
    connectTimer_.async_wait(guarded([this](const asio::error_code& error) {
        if (!error)
            fail(FailureKind::TimedOut, std::string(tls_ ? "no TLS handshake" : "no answer to the connection") +
                                            " within " + std::to_string(connectTimeout.count() / 1000) + " s");
    }));
    asio::async_connect(socket_, endpoints,
                        guarded([this](const asio::error_code& error, const asio::ip::tcp::endpoint&) {
                            if (error) {
                                connectTimer_.cancel();
                                fail(error, "connection");
                            } else if (settings_.tls.enabled) {
                                startHandshake();
                            } else {
                                connectTimer_.cancel();
                                onConnected();
                            }
                        }));
}

// Still Connecting, within the connect time limit: the handshake, then the
// adapter's certificate is judged; its subject and fingerprint stay for the
// diagnostics whatever the verdict.
void AdapterConnection::startHandshake()
{
    std::string refusal;
    tls_ = TlsSession::create(socket_, settings_.tls, settings_.host, refusal);
    if (!tls_) {
        fail(FailureKind::Tls, std::move(refusal));
        return;
    }
    tls_->stream().async_handshake(
        asio::ssl::stream_base::client, guarded([this, session = tls_](const asio::error_code& error) {
            connectTimer_.cancel();
            if (TlsSession::Peer peer = session->peer(); !peer.fingerprint.empty())
                peer_ = std::move(peer);
            if (error && kindOf(error) == FailureKind::ClosedByPeer) {
                // No TLS, or a refusal it does not explain (an adapter wanting a
                // client certificate under TLS 1.2, say).
                const std::string refused = session->closeText();
                fail(FailureKind::Tls, refused.empty() ? "TLS: the adapter closed during the handshake" : refused);
                return;
            }
            if (error) {
                fail(error, "TLS handshake");
                return;
            }
            switch (session->trust()) {
            case TlsSession::Trust::Trusted:
                if (!session->verdictAfterHandshake()) {
                    onConnected();
                    return;
                }
                read();  // still connecting: the adapter's first bytes or its refusal
                negotiationTimer_.expires_after(certificateVerdictWait);
                negotiationTimer_.async_wait(guarded([this](const asio::error_code& error) {
                    if (!error && state_ == State::Connecting)
                        onConnected();  // a quiet adapter: the read in flight goes on as the connection's
                }));
                return;
            case TlsSession::Trust::Unknown:
                fail(FailureKind::CertificateUnknown, "untrusted certificate sha256:" + peer_.fingerprint);
                return;
            case TlsSession::Trust::Changed:
                fail(FailureKind::CertificateChanged, "changed certificate sha256:" + peer_.fingerprint);
                return;
            }
        }));
}

void AdapterConnection::setKeepAlive()
{
    asio::error_code ignored;
    socket_.set_option(asio::socket_base::keep_alive(true), ignored);
    socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
    const int fd = socket_.native_handle();
    const int idle = keepAliveIdleSeconds;
    const int interval = keepAliveIntervalSeconds;
    const int count = keepAliveCount;
    const unsigned userTimeoutMs = (keepAliveIdleSeconds + keepAliveIntervalSeconds * keepAliveCount) * 1000;
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
}

void AdapterConnection::onConnected()
{
    state_ = settings_.telnet ? State::Negotiating : State::Up;
    connectedAt_ = std::chrono::steady_clock::now();
    if (everConnected_)
        ++counters_.reconnects;
    everConnected_ = true;
    setKeepAlive();
    report(Event::Kind::Connected, adapterAddress());
    tapConnected();  // once per connection, watched or not: a monitor may begin later

    std::vector<std::uint8_t> offer;
    protocol_.connected(offer);
    owner_.connectionOpened(offer);
    sendRaw(offer);
    owner_.connectionLinesChanged();
    if (state_ == State::Negotiating) {
        // An adapter that never answers port control still carries data; after a
        // while the connection counts as negotiated anyway.
        negotiationTimer_.expires_after(negotiationWait);
        negotiationTimer_.async_wait(guarded([this](const asio::error_code& error) {
            if (!error && state_ == State::Negotiating)
                becomeUp();
        }));
    } else {
        becomeUp();
    }
    startReading();
    if (!wantsConnection())
        hangUp();  // on demand, the application left while connecting: send what it wrote, then close
}

// Negotiated: the port's settings went out first, now the bytes that waited for them.
void AdapterConnection::becomeUp()
{
    state_ = State::Up;
    negotiationTimer_.cancel();
    owner_.connectionReady();
    if (std::exchange(hangUpWhenUp_, false) && !wantsConnection())
        hangUp();
    checkFinished();
}

void AdapterConnection::fail(const std::error_code& error, const std::string& during)
{
    const FailureKind kind = kindOf(error);
    if (const std::string refused = kind == FailureKind::ClosedByPeer && tls_ ? tls_->closeText() : ""; !refused.empty())
        fail(FailureKind::Tls, refused);
    else if (kind == FailureKind::Tls)
        fail(kind, TlsSession::describe(error));
    else if (error == asio::ssl::error::stream_truncated)  // the adapter closed without ending TLS: as over TCP
        fail(kind, during + ": " + asio::error_code(asio::error::eof).message());
    else
        fail(kind, during + ": " + error.message());
}

void AdapterConnection::fail(FailureKind kind, std::string text)
{
    if (finish_.done) {
        // The adapter closing its end after ours has read every byte; anything else
        // is a failure that takes what was not acknowledged with it. No retry: the
        // library is stopping.
        if (connected() && !(finish_.endSent && kind == FailureKind::ClosedByPeer)) {
            lastFailure_ = {kind, std::move(text), std::chrono::system_clock::now()};
            report(Event::Kind::Dropped, lastFailure_.text, kind);
            finish_.lost += outgoing_.size() + unacknowledged();
        }
        leaveConnection();
        state_ = State::Idle;
        checkFinished();
        return;
    }
    const bool wasConnected = connected();
    const auto now = std::chrono::steady_clock::now();
    lastFailure_ = {kind, std::move(text), std::chrono::system_clock::now()};
    report(wasConnected ? Event::Kind::Dropped : Event::Kind::ConnectFailed, lastFailure_.text, kind);
    if (wasConnected && now - connectedAt_ >= stableAfter)
        retryDelay_ = firstRetry;
    leaveConnection();
    if (!wantsConnection()) {
        settleIdle();
        return;
    }
    state_ = State::RetryWait;
    retryTimer_.expires_at((wasConnected ? now : attemptStarted_) + retryDelay_);
    retryDelay_ = std::min(retryDelay_ * 2, lastRetry);
    retryTimer_.async_wait(guarded([this](const asio::error_code& error) {
        if (!error)
            beginAttempt();
    }));
}

void AdapterConnection::hangUp()
{
    if (state_ == State::Negotiating && owner_.dataWaiting()) {
        hangUpWhenUp_ = true;  // the bytes wait for the settings, then the connection ends
        return;
    }
    if (!outgoing_.empty()) {
        state_ = State::Closing;
        return;
    }
    if (connected())
        report(Event::Kind::Closed, "no application holds the port");
    leaveConnection();
    settleIdle();
}

void AdapterConnection::settleIdle()
{
    state_ = State::Idle;
    if (wantsConnection()) {
        beginAttempt();
        return;
    }
    owner_.connectionAbandoned();
}

void AdapterConnection::leaveConnection()
{
    ++generation_;
    lookup_.cancel();
    asio::error_code ignored;
    socket_.close(ignored);
    tls_.reset();  // its operations in flight hold it until they end
    tlsEnd_ = TlsEnd::None;
    retryTimer_.cancel();
    connectTimer_.cancel();
    negotiationTimer_.cancel();
    reading_ = false;
    hangUpWhenUp_ = false;
    outgoing_ = WriteQueue();  // the closed socket's write in flight keeps its own buffer
    owner_.connectionQueueChanged();
    owner_.connectionLinesChanged();
    owner_.connectionStatusChanged();
}

void AdapterConnection::applicationArrived()
{
    hangUpWhenUp_ = false;
    if (state_ == State::Closing)
        state_ = State::Up;
    else if (state_ == State::Idle && wantsConnection())
        beginAttempt();
}

void AdapterConnection::applicationLeft()
{
    if (!settings_.onDemand || state_ == State::Stopped)
        return;
    if (connected())
        hangUp();
    else if (state_ == State::RetryWait || (!owner_.dataWaiting() && state_ != State::Idle)) {
        // Nothing waits to be sent: stop trying until an application comes back.
        leaveConnection();
        settleIdle();
    }
}

void AdapterConnection::startReading()
{
    if (reading_ || !connected() || tlsEnd_ != TlsEnd::None)
        return;
    if (queueFull())
        return;  // the peer is not taking what we send: read no more of it until it does
    if (owner_.applicationBehind() && !finish_.endSent)
        return;  // the application is not reading: leave the bytes in the socket (until the last read for the adapter's close)
    read();
}

void AdapterConnection::read()
{
    reading_ = true;
    auto received = guarded([this, session = tls_](const asio::error_code& error, std::size_t size) {
        reading_ = false;
        if (tlsEnd_ == TlsEnd::WaitingForRead) {
            if (!error)
                onReceived(size);  // reads no further while TLS ends
            endTls();
            return;
        }
        if (!error && state_ == State::Connecting) {
            // The adapter's first bytes after judging our certificate: connected.
            negotiationTimer_.cancel();
            const auto generation = generation_;
            reading_ = true;  // these bytes are read first
            onConnected();
            reading_ = false;
            if (generation != generation_)
                return;
        }
        if (error)
            fail(error, "connection");
        else
            onReceived(size);
    });
    if (tls_)
        tls_->stream().async_read_some(asio::buffer(readBuffer_), std::move(received));
    else
        socket_.async_read_some(asio::buffer(readBuffer_), std::move(received));
}

void AdapterConnection::onReceived(std::size_t size)
{
    const std::span<std::uint8_t> bytes(readBuffer_.data(), size);
    if (tls_)
        tls_->dataArrived();
    tap_.wire(monitor::Direction::FromDevice, bytes);  // before decoding moves the data
    std::size_t dataSize = size;
    if (!protocol_.plainData(bytes)) {
        // Decoded in the read buffer itself: the serial data ends up at its front.
        answer_.clear();
        const unsigned events = protocol_.receiveInPlace(bytes, dataSize, answer_);
        if (events & ClientProtocol::Notified)
            owner_.connectionNotified();
        sendRaw(answer_);  // the settings, once the adapter agrees to port control
        reportSettingsSent((events & ClientProtocol::PortControlSettled) && protocol_.portControl());
        if ((events & ClientProtocol::PortControlSettled) && state_ == State::Negotiating)
            becomeUp();
    }
    counters_.fromAdapter += dataSize;
    if (dataSize > 0)
        owner_.connectionReceived(bytes.first(dataSize), finish_.endSent);
    startReading();
}

void AdapterConnection::sendData(std::span<const std::uint8_t> data)
{
    counters_.toAdapter += data.size();
    protocol_.encodeData(data, outgoing_.waiting());
    owner_.connectionQueueChanged();
    startWriting();
    owner_.connectionStatusChanged();
}

void AdapterConnection::sendRaw(std::span<const std::uint8_t> bytes)
{
    if (connected() && !bytes.empty() && tlsEnd_ == TlsEnd::None) {
        outgoing_.append(bytes);
        owner_.connectionQueueChanged();
        startWriting();
    }
    owner_.connectionStatusChanged();  // a command may have changed the lines or the framing
}

void AdapterConnection::sendSettings(const PortSettings& now, const PortSettings& before)
{
    std::vector<std::uint8_t> commands;
    if (now.baud != before.baud)
        protocol_.setBaudRate(now.baud, commands);
    if (now.stopBits != before.stopBits)
        protocol_.setStopSize(now.stopBits, commands);
    if (now.outbound != before.outbound)
        protocol_.setFlowControl(outboundFlowCode(now.outbound), commands);
    if (now.inbound != before.inbound)
        protocol_.setFlowControl(inboundFlowCode(now.inbound), commands);
    sendRaw(commands);
    reportSettingsSent(!commands.empty() && connected());
}

void AdapterConnection::sendPurge(bool input, bool output)
{
    std::vector<std::uint8_t> command;
    protocol_.purge(input && output ? rfc2217::purgeBoth : input ? rfc2217::purgeReceive : rfc2217::purgeTransmit, command);
    sendRaw(command);
}

void AdapterConnection::startWriting()
{
    if (!connected())
        return;
    const WriteQueue::Buffer buffer = outgoing_.takeNext();
    if (!buffer)
        return;
    tap_.wire(monitor::Direction::ToDevice, *buffer);
    auto written = guarded([this, buffer, session = tls_](const asio::error_code& error, std::size_t) {
        outgoing_.written();
        if (error) {
            fail(error, "connection");
            return;
        }
        owner_.connectionQueueChanged();
        if (queueDrained())
            startReading();
        if (outgoing_.empty() && state_ == State::Closing)
            hangUp();
        else
            startWriting();
        checkFinished();
        owner_.connectionStatusChanged();  // the output may have left now
    });
    if (tls_)
        asio::async_write(tls_->stream(), asio::buffer(*buffer), std::move(written));
    else
        asio::async_write(socket_, asio::buffer(*buffer), std::move(written));
}

void AdapterConnection::report(Event::Kind kind, std::string text, FailureKind failure)
{
    using Kind = Event::Kind;
    if (kind == Kind::Dropped || kind == Kind::ConnectFailed || kind == Kind::Closed)
        tap_.event(monitor::Kind::Dropped, text);
    owner_.connectionEvent(Event{kind, failure, std::move(text)});
}

// The connection's two ends, so a monitor's capture shows them as they are.
void AdapterConnection::tapConnected()
{
    asio::error_code error;
    const auto local = socket_.local_endpoint(error);
    const auto remote = error ? asio::ip::tcp::endpoint() : socket_.remote_endpoint(error);
    monitor::Endpoints ends;
    ends.telnet = settings_.telnet;
    const auto put = [&](const asio::ip::address& address, std::uint8_t* to) {
        if (address.is_v4()) {
            const auto bytes = address.to_v4().to_bytes();
            std::copy(bytes.begin(), bytes.end(), to);
        } else {
            const auto bytes = address.to_v6().to_bytes();
            std::copy(bytes.begin(), bytes.end(), to);
        }
    };
    if (!error) {
        ends.family = remote.address().is_v4() && local.address().is_v4() ? 4 : 6;
        if (ends.family == 6) {
            // One family for both ends: an IPv4 end shown as IPv4-mapped.
            const auto v6 = [](const asio::ip::address& a) {
                return a.is_v6() ? a : asio::ip::address(asio::ip::make_address_v6(asio::ip::v4_mapped, a.to_v4()));
            };
            put(v6(local.address()), ends.local);
            put(v6(remote.address()), ends.remote);
        } else {
            put(local.address(), ends.local);
            put(remote.address(), ends.remote);
        }
        ends.localPort = local.port();
        ends.remotePort = remote.port();
    }
    tap_.connected(ends, adapterAddress());
}

std::string AdapterConnection::adapterAddress() const
{
    const bool ipv6 = settings_.host.find(':') != std::string::npos;
    return (ipv6 ? "[" + settings_.host + "]" : settings_.host) + ":" + std::to_string(settings_.port);
}

void AdapterConnection::reportSettingsSent(bool sent)
{
    if (!sent)
        return;
    static constexpr char parityLetters[] = {'N', 'O', 'E', 'M', 'S'};
    const SerialSettings& serial = protocol_.serial();
    const auto parity = static_cast<std::size_t>(serial.parity);
    std::string text = std::to_string(serial.baud) + " baud, " + std::to_string(serial.dataBits) +
                       (parity < sizeof parityLetters ? parityLetters[parity] : '?') +
                       (serial.stopBits == 3 ? "1.5" : std::to_string(serial.stopBits));
    report(Event::Kind::SettingsSent, std::move(text));
}

}  // namespace vsp

#include "TcpClientSession.h"

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
TcpClientSession::FailureKind kindOf(const std::error_code& error)
{
    using Kind = TcpClientSession::FailureKind;
    if (error == asio::error::connection_refused)
        return Kind::Refused;
    if (error == asio::error::timed_out)
        return Kind::TimedOut;
    if (error == asio::error::eof)
        return Kind::ClosedByPeer;
    if (error == asio::error::connection_reset || error == asio::error::broken_pipe ||
        error == asio::error::connection_aborted)
        return Kind::Reset;
    if (error == asio::error::host_unreachable || error == asio::error::network_unreachable)
        return Kind::Unreachable;
    if (error == asio::error::host_not_found || error == asio::error::host_not_found_try_again ||
        error == asio::error::no_data || error == asio::error::no_recovery)
        return Kind::NameNotFound;
    return Kind::Other;
}
}  // namespace

TcpClientSession::TcpClientSession(asio::io_context& io, TcpClientSettings settings)
    : io_(io),
      settings_(std::move(settings)),
      lookup_(io),
      socket_(io),
      retryTimer_(io),
      connectTimer_(io),
      gatherTimer_(io),
      negotiationTimer_(io),
      protocol_(settings_.telnet, settings_.serial),
      earlyOpenCheck_(io)
{
    // As the port shows the redirect's settings: 1.5 stop bits as one.
    adapterHas_.baud = settings_.serial.baud;
    adapterHas_.stopBits = settings_.serial.stopBits == 2 ? 2 : 1;
    askForModemState();
}

template <class Handler>
auto TcpClientSession::guarded(Handler handler)
{
    return [self = shared_from_this(), generation = generation_, handler = std::move(handler)](auto&&... args)
               requires std::invocable<const Handler&, decltype(args)...>
    {
        if (generation == self->generation_)
            handler(std::forward<decltype(args)>(args)...);
    };
}

void TcpClientSession::start()
{
    if (state_ != State::Stopped)
        return;
    state_ = State::Idle;
    everConnected_ = false;
    if (wantsConnection())
        beginAttempt();
}

void TcpClientSession::stop()
{
    const std::uint64_t unsent = gathered_.size() + preConnect_.size() + (connected() ? outgoing_.size() : 0) +
                                 drain_.lost + (drain_.endSent && connected() ? unacknowledged() : 0) +
                                 (drain_.started ? counters_.dropped - drain_.droppedBefore : 0);
    drain_ = Drain();
    leaveConnection();
    state_ = State::Stopped;
    gatherTimer_.cancel();
    gathered_.clear();
    counters_.dropped += preConnect_.size();
    preConnect_.clear();
    if (unsent > 0)
        report(Event::Kind::DataLost, "stopped with " + std::to_string(unsent) + " bytes from the port not sent");
}

void TcpClientSession::drain(std::function<void()> done)
{
    drain_.started = true;
    drain_.droppedBefore = counters_.dropped;
    drain_.done = std::move(done);
    const auto port = port_.lock();
    if (!port) {
        takeLastInput();
        return;
    }
    port->stopInput();
    asio::post(io_, [self = shared_from_this()] { self->takeLastInput(); });
}

void TcpClientSession::takeLastInput()
{
    if (!drain_.done)
        return;  // stopped meanwhile
    if (const auto port = port_.lock())
        port->takeLastInput();  // its bytes come here as portData
    flushGathered();
    drain_.inputTaken = true;
    drain_.confirm = !outgoing_.empty() || !preConnect_.empty() || (connected() && unacknowledged() > 0);
    checkDrained();
}

void TcpClientSession::checkDrained()
{
    if (!drain_.done || !drain_.inputTaken)
        return;
    if ((state_ == State::Negotiating && !preConnect_.empty()) || (connected() && !outgoing_.empty()))
        return;  // the settings, then the bytes, are on their way
    if (connected() && drain_.confirm && !drain_.endSent) {
        // Closing now could reset the connection with bytes still on their way (an
        // adapter's own bytes arriving after the close do), so only our side ends:
        // the adapter reads everything, then closes its end, which fail() sees.
        asio::error_code ignored;
        socket_.shutdown(asio::socket_base::shutdown_send, ignored);
        drain_.endSent = true;
        startReading();
        return;
    }
    if (connected() && drain_.endSent)
        return;
    std::exchange(drain_.done, nullptr)();
}

std::size_t TcpClientSession::unacknowledged()
{
    int bytes = 0;
    if (!socket_.is_open() || ::ioctl(socket_.native_handle(), SIOCOUTQ, &bytes) != 0)
        return 0;
    return static_cast<std::size_t>(std::max(bytes, 0));
}

void TcpClientSession::reinitialize()
{
    if (state_ == State::Stopped)
        return;
    if (connected())
        report(Event::Kind::Closed, "reinitialized");
    leaveConnection();
    retryDelay_ = firstRetry;
    settleIdle();
}

void TcpClientSession::attachPort(std::shared_ptr<VirtualPort> port)
{
    port_ = port;
    if (port)
        followPortSettings(port->settings());
    if (port && port->isOpen())
        portOpened();
}

bool TcpClientSession::portHeld() const
{
    const auto port = port_.lock();
    return port && port->isOpen();
}

bool TcpClientSession::connected() const
{
    return state_ == State::Negotiating || state_ == State::Up || state_ == State::Closing;
}

bool TcpClientSession::wantsConnection() const
{
    return state_ != State::Stopped && (!settings_.onDemand || portHeld());
}

std::chrono::steady_clock::duration TcpClientSession::upTime() const
{
    return connected() ? std::chrono::steady_clock::now() - connectedAt_ : std::chrono::steady_clock::duration::zero();
}

void TcpClientSession::beginAttempt()
{
    state_ = State::Resolving;
    attemptStarted_ = std::chrono::steady_clock::now();
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

void TcpClientSession::connectTo(const NameLookup::Endpoints& endpoints)
{
    state_ = State::Connecting;
    connectTimer_.expires_after(connectTimeout);
    connectTimer_.async_wait(guarded([this](const asio::error_code& error) {
        if (!error)
            fail(FailureKind::TimedOut, "no answer to the connection within " +
                                            std::to_string(connectTimeout.count() / 1000) + " s");
    }));
    asio::async_connect(socket_, endpoints,
                        guarded([this](const asio::error_code& error, const asio::ip::tcp::endpoint&) {
                            connectTimer_.cancel();
                            if (error)
                                fail(error, "connection");
                            else
                                onConnected();
                        }));
}

void TcpClientSession::setKeepAlive()
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

void TcpClientSession::onConnected()
{
    state_ = settings_.telnet ? State::Negotiating : State::Up;
    connectedAt_ = std::chrono::steady_clock::now();
    if (everConnected_)
        ++counters_.reconnects;
    everConnected_ = true;
    setKeepAlive();
    report(Event::Kind::Connected, adapterAddress());

    std::vector<std::uint8_t> offer;
    protocol_.connected(offer);
    if (!control_.linesSetByProgram)  // otherwise they stay as the program set them
        protocol_.setModemLines(portHeld() || control_.raisedEarly, offer);
    sendRaw(offer);
    updateInputLines();
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
void TcpClientSession::becomeUp()
{
    state_ = State::Up;
    negotiationTimer_.cancel();
    if (!preConnect_.empty()) {
        std::vector<std::uint8_t> waiting;
        waiting.swap(preConnect_);
        sendData(waiting);
    }
    if (std::exchange(hangUpWhenUp_, false) && !wantsConnection())
        hangUp();
    checkDrained();
}

void TcpClientSession::fail(const std::error_code& error, const std::string& during)
{
    fail(kindOf(error), during + ": " + error.message());
}

void TcpClientSession::fail(FailureKind kind, std::string text)
{
    if (drain_.done) {
        // The adapter closing its end after ours has read every byte; anything else
        // is a failure that takes what was not acknowledged with it. No retry: the
        // library is stopping.
        if (connected() && !(drain_.endSent && kind == FailureKind::ClosedByPeer)) {
            lastFailure_ = {kind, std::move(text), std::chrono::system_clock::now()};
            report(Event::Kind::Dropped, lastFailure_.text, kind);
            drain_.lost += outgoing_.size() + unacknowledged();
        }
        leaveConnection();
        state_ = State::Idle;
        checkDrained();
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

void TcpClientSession::hangUp()
{
    if (state_ == State::Negotiating && !preConnect_.empty()) {
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

void TcpClientSession::settleIdle()
{
    state_ = State::Idle;
    if (wantsConnection()) {
        beginAttempt();
        return;
    }
    counters_.dropped += preConnect_.size();
    preConnect_.clear();
}

void TcpClientSession::leaveConnection()
{
    ++generation_;
    lookup_.cancel();
    asio::error_code ignored;
    socket_.close(ignored);
    retryTimer_.cancel();
    connectTimer_.cancel();
    negotiationTimer_.cancel();
    flow_.reading = false;
    hangUpWhenUp_ = false;
    outgoing_ = WriteQueue();  // the closed socket's write in flight keeps its own buffer
    updatePortPause();
    updateInputLines();
    controlChanged(0);
}

void TcpClientSession::startReading()
{
    if (flow_.reading || !connected())
        return;
    if (outgoing_.size() > socketHighWater)
        return;  // the peer is not taking what we send: read no more of it until it does
    if (const auto port = port_.lock();
        port && port->isOpen() && port->pendingOutput() > VirtualPort::highWater && !drain_.endSent)
        return;  // the application is not reading: leave the bytes in the socket (until the last read for the adapter's close)
    flow_.reading = true;
    socket_.async_read_some(asio::buffer(readBuffer_), guarded([this](const asio::error_code& error, std::size_t size) {
                                flow_.reading = false;
                                if (error)
                                    fail(error, "connection");
                                else
                                    onReceived(size);
                            }));
}

void TcpClientSession::onReceived(std::size_t size)
{
    const std::span<std::uint8_t> bytes(readBuffer_.data(), size);
    const auto port = port_.lock();
    std::size_t dataSize = size;
    if (!protocol_.plainData(bytes)) {
        // Decoded in the read buffer itself: the serial data ends up at its front.
        answer_.clear();
        const unsigned events = protocol_.receiveInPlace(bytes, dataSize, answer_);
        if (events & ClientProtocol::Notified)
            noteModemState();
        sendRaw(answer_);  // the settings, once the adapter agrees to port control
        reportSettingsSent((events & ClientProtocol::PortControlSettled) && protocol_.portControl());
        if ((events & ClientProtocol::PortControlSettled) && state_ == State::Negotiating)
            becomeUp();
    }
    counters_.fromAdapter += dataSize;
    // Discarded while no application holds the port, and while stopping what it has no room for.
    if (port && dataSize > 0 && !(drain_.endSent && port->pendingOutput() > VirtualPort::highWater))
        port->write(bytes.first(dataSize));
    startReading();
}

void TcpClientSession::portOpened()
{
    hangUpWhenUp_ = false;
    if (state_ == State::Closing)
        state_ = State::Up;
    else if (state_ == State::Idle && wantsConnection())
        beginAttempt();
    if (!openRaisesLines())
        return;
    std::vector<std::uint8_t> lines;
    protocol_.setModemLines(true, lines);
    sendRaw(lines);
}

void TcpClientSession::portClosed()
{
    flushGathered();
    control_.raisedEarly = control_.linesSetByProgram = false;
    std::vector<std::uint8_t> lines;
    protocol_.setModemLines(false, lines);
    sendRaw(lines);
    startReading();  // bytes from the adapter are discarded now, so keep taking them
    if (!settings_.onDemand || state_ == State::Stopped)
        return;
    if (connected())
        hangUp();
    else if (state_ == State::RetryWait || (preConnect_.empty() && state_ != State::Idle)) {
        // Nothing waits to be sent: stop trying until an application comes back.
        leaveConnection();
        settleIdle();
    }
}

void TcpClientSession::portData(std::span<const std::uint8_t> data)
{
    if (settings_.serial.readTimeoutMs <= 0) {
        sendData(data);
        return;
    }
    gathered_.insert(gathered_.end(), data.begin(), data.end());
    controlChanged(0);
    if (gathered_.size() >= gatherLimit) {
        flushGathered();
        return;
    }
    gatherTimer_.expires_after(std::chrono::microseconds(static_cast<std::int64_t>(settings_.serial.readTimeoutMs * 1000)));
    gatherTimer_.async_wait([weak = weak_from_this()](const asio::error_code& error) {
        if (auto self = weak.lock(); self && !error)
            self->flushGathered();
    });
}

void TcpClientSession::flushGathered()
{
    gatherTimer_.cancel();
    if (gathered_.empty())
        return;
    sendData(gathered_);  // encoded into the socket's queue, so the buffer is free again
    gathered_.clear();
}

namespace {
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

void TcpClientSession::portSettingsChanged(const PortSettings& now, const PortSettings&)
{
    flushGathered();  // bytes written before the change go at the old settings
    followPortSettings(now);
}

void TcpClientSession::followPortSettings(const PortSettings& now)
{
    const PortSettings before = std::exchange(adapterHas_, now);
    std::vector<std::uint8_t> commands;
    if (now.baud != before.baud) {
        settings_.serial.baud = now.baud;
        protocol_.setBaudRate(now.baud, commands);
    }
    if (now.stopBits != before.stopBits) {
        settings_.serial.stopBits = now.stopBits;
        protocol_.setStopSize(now.stopBits, commands);
    }
    if (now.outbound != before.outbound)
        protocol_.setFlowControl(outboundFlowCode(now.outbound), commands);
    if (now.inbound != before.inbound)
        protocol_.setFlowControl(inboundFlowCode(now.inbound), commands);
    sendRaw(commands);
    reportSettingsSent(!commands.empty() && connected());
}

void TcpClientSession::portFlushed(bool input, bool output)
{
    if (output) {
        // Not sent yet, so not sent at all; what the socket already took is on its way.
        gatherTimer_.cancel();
        gathered_.clear();
        preConnect_.clear();
        controlChanged(0);
    }
    std::vector<std::uint8_t> command;
    protocol_.purge(input && output ? rfc2217::purgeBoth : input ? rfc2217::purgeReceive : rfc2217::purgeTransmit, command);
    sendRaw(command);
}

void TcpClientSession::portDrained()
{
    startReading();
}

void TcpClientSession::sendData(std::span<const std::uint8_t> data)
{
    if (state_ == State::Stopped)
        return;
    if (state_ != State::Up && state_ != State::Closing) {
        // Not connected, or the adapter has not had the port's settings yet.
        const std::size_t room = preConnectLimit - std::min(preConnectLimit, preConnect_.size());
        const std::size_t kept = std::min(room, data.size());
        preConnect_.insert(preConnect_.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(kept));
        counters_.dropped += data.size() - kept;
        return;
    }
    counters_.toAdapter += data.size();
    protocol_.encodeData(data, outgoing_.waiting());
    updatePortPause();
    startWriting();
    controlChanged(0);
}

void TcpClientSession::sendRaw(std::span<const std::uint8_t> bytes)
{
    if (connected() && !bytes.empty()) {
        outgoing_.append(bytes);
        updatePortPause();
        startWriting();
    }
    controlChanged(0);  // a command may have changed the lines or the framing
}

void TcpClientSession::startWriting()
{
    if (!connected())
        return;
    const WriteQueue::Buffer buffer = outgoing_.takeNext();
    if (!buffer)
        return;
    asio::async_write(socket_, asio::buffer(*buffer), guarded([this, buffer](const asio::error_code& error, std::size_t) {
                          outgoing_.written();
                          if (error) {
                              fail(error, "connection");
                              return;
                          }
                          updatePortPause();
                          if (outgoing_.size() < socketLowWater)
                              startReading();
                          if (outgoing_.empty() && state_ == State::Closing)
                              hangUp();
                          else
                              startWriting();
                          checkDrained();
                          controlChanged(0);  // the output may have left now
                      }));
}

void TcpClientSession::updatePortPause()
{
    const auto port = port_.lock();
    if (!port)
        return;
    if (!flow_.portPaused && outgoing_.size() > socketHighWater) {
        flow_.portPaused = true;
        port->setReadPaused(true);
    } else if (flow_.portPaused && outgoing_.size() < socketLowWater) {
        flow_.portPaused = false;
        port->setReadPaused(false);
    }
}

void TcpClientSession::report(Event::Kind kind, std::string text, FailureKind failure)
{
    if (report_)
        report_(Event{kind, failure, std::move(text)});
}

std::string TcpClientSession::adapterAddress() const
{
    const bool ipv6 = settings_.host.find(':') != std::string::npos;
    return (ipv6 ? "[" + settings_.host + "]" : settings_.host) + ":" + std::to_string(settings_.port);
}

void TcpClientSession::reportSettingsSent(bool sent)
{
    if (!sent || !report_)
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

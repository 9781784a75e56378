#include "TcpClientSession.h"

#include <algorithm>
#include <string>

namespace vsp {
namespace {
telnet::Negotiator clientNegotiator()
{
    return telnet::Negotiator({telnet::optBinary, telnet::optSuppressGoAhead, telnet::optComPort},
                              {telnet::optBinary, telnet::optSuppressGoAhead});
}
}  // namespace

TcpClientSession::TcpClientSession(asio::io_context& io, TcpClientSettings settings)
    : io_(io),
      settings_(std::move(settings)),
      resolver_(io),
      socket_(io),
      retryTimer_(io),
      gatherTimer_(io),
      negotiationTimer_(io),
      negotiator_(clientNegotiator())
{
}

void TcpClientSession::start()
{
    running_ = true;
    connect();
}

void TcpClientSession::stop()
{
    running_ = false;
    disconnect();
    retryTimer_.cancel();
    gatherTimer_.cancel();
    gathered_.clear();
    preConnect_.clear();
}

void TcpClientSession::reinitialize()
{
    if (!running_)
        return;
    disconnect();
    retryTimer_.cancel();
    retryDelay_ = firstRetry;
    connect();
}

void TcpClientSession::attachPort(std::shared_ptr<VirtualPort> port)
{
    port_ = port;
    if (port && port->isOpen())
        portOpened();
}

bool TcpClientSession::portHeld() const
{
    const auto port = port_.lock();
    return port && port->isOpen();
}

bool TcpClientSession::wantsConnection() const
{
    return running_ && (!settings_.onDemand || portHeld());
}

bool TcpClientSession::portControl() const
{
    return connected_ && settings_.telnet && negotiator_.local(telnet::optComPort) == telnet::Negotiator::State::Yes;
}

void TcpClientSession::connect()
{
    if (connecting_ || connected_ || !wantsConnection())
        return;
    connecting_ = true;
    closeAfterFlush_ = false;
    const std::uint64_t generation = ++generation_;
    resolver_.async_resolve(
        settings_.host, std::to_string(settings_.port),
        [self = shared_from_this(), generation](const asio::error_code& error,
                                                 asio::ip::tcp::resolver::results_type results) {
            if (generation != self->generation_)
                return;
            if (error) {
                self->connecting_ = false;
                self->scheduleRetry();
                return;
            }
            asio::async_connect(self->socket_, results,
                                [self, generation](const asio::error_code& error, const asio::ip::tcp::endpoint&) {
                                    if (generation != self->generation_)
                                        return;
                                    self->connecting_ = false;
                                    if (error) {
                                        asio::error_code ignored;
                                        self->socket_.close(ignored);
                                        self->scheduleRetry();
                                        return;
                                    }
                                    self->onConnected();
                                });
        });
}

void TcpClientSession::onConnected()
{
    connected_ = true;
    retryDelay_ = firstRetry;
    asio::error_code ignored;
    socket_.set_option(asio::socket_base::keep_alive(true), ignored);
    socket_.set_option(asio::ip::tcp::no_delay(true), ignored);

    decoder_ = telnet::Decoder();
    negotiator_ = clientNegotiator();
    server_ = rfc2217::ServerState();
    settingsSent_ = false;
    negotiated_ = !settings_.telnet;
    if (settings_.telnet) {
        std::vector<std::uint8_t> offer;
        negotiator_.requestLocal(telnet::optBinary, offer);
        negotiator_.requestRemote(telnet::optBinary, offer);
        negotiator_.requestLocal(telnet::optSuppressGoAhead, offer);
        negotiator_.requestRemote(telnet::optSuppressGoAhead, offer);
        negotiator_.requestLocal(telnet::optComPort, offer);
        sendRaw(offer);
        // An adapter that never answers port control still carries data; after a
        // while the connection counts as negotiated anyway.
        negotiationTimer_.expires_after(negotiationWait);
        negotiationTimer_.async_wait([self = shared_from_this(), generation = generation_](const asio::error_code& error) {
            if (!error && generation == self->generation_)
                self->negotiated_ = true;
        });
    }
    if (!preConnect_.empty()) {
        std::vector<std::uint8_t> waiting;
        waiting.swap(preConnect_);
        sendData(waiting);
    }
    startReading();
}

void TcpClientSession::disconnect()
{
    ++generation_;
    connected_ = connecting_ = negotiated_ = reading_ = false;
    closeAfterFlush_ = false;
    resolver_.cancel();
    asio::error_code ignored;
    socket_.close(ignored);
    negotiationTimer_.cancel();
    outgoing_ = WriteQueue();  // the closed socket's write in flight keeps its own buffer
    updatePortPause();
}

void TcpClientSession::scheduleRetry()
{
    if (!wantsConnection())
        return;
    retryTimer_.expires_after(retryDelay_);
    retryDelay_ = std::min(retryDelay_ * 2, lastRetry);
    retryTimer_.async_wait([self = shared_from_this(), generation = generation_](const asio::error_code& error) {
        if (!error && generation == self->generation_)
            self->connect();
    });
}

void TcpClientSession::startReading()
{
    if (reading_ || !connected_)
        return;
    if (const auto port = port_.lock(); port && port->isOpen() && port->pendingOutput() > VirtualPort::highWater)
        return;  // the application is not reading: leave the bytes in the socket
    reading_ = true;
    socket_.async_read_some(asio::buffer(readBuffer_), [self = shared_from_this(), generation = generation_](
                                                           const asio::error_code& error, std::size_t size) {
        if (generation != self->generation_)
            return;
        self->reading_ = false;
        if (error) {
            self->disconnect();
            self->scheduleRetry();
            return;
        }
        self->onReceived(size);
    });
}

void TcpClientSession::onReceived(std::size_t size)
{
    const std::span<const std::uint8_t> bytes(readBuffer_.data(), size);
    received_.clear();
    if (settings_.telnet) {
        events_.clear();
        decoder_.decode(bytes, received_, events_);
        handleEvents();
    } else {
        received_.assign(bytes.begin(), bytes.end());
    }
    if (const auto port = port_.lock(); port && !received_.empty())
        port->write(received_);  // discarded while no application holds the port
    startReading();
}

void TcpClientSession::handleEvents()
{
    std::vector<std::uint8_t> reply;
    for (const telnet::Event& event : events_) {
        if (event.kind == telnet::Event::Kind::Negotiation)
            negotiator_.receive(event.command, event.option, reply);
        else if (event.kind == telnet::Event::Kind::Subnegotiation && event.option == telnet::optComPort)
            server_.apply(event.payload);
    }
    if (!settingsSent_ && portControl()) {
        settingsSent_ = true;
        rfc2217::appendSerialSettings(settings_.serial, reply);
        if (settings_.serial.dtrRts)
            rfc2217::appendModemLines(portHeld(), reply);
    }
    if (!negotiated_ && negotiator_.local(telnet::optComPort) != telnet::Negotiator::State::WantYes) {
        negotiated_ = true;
        negotiationTimer_.cancel();
    }
    if (!reply.empty())
        sendRaw(reply);
}

void TcpClientSession::sendModemLines(bool raised)
{
    if (!portControl() || !settings_.serial.dtrRts)
        return;
    std::vector<std::uint8_t> bytes;
    rfc2217::appendModemLines(raised, bytes);
    sendRaw(bytes);
}

void TcpClientSession::portOpened()
{
    closeAfterFlush_ = false;
    if (settings_.onDemand)
        connect();
    sendModemLines(true);
}

void TcpClientSession::portClosed()
{
    flushGathered();
    sendModemLines(false);
    startReading();  // bytes from the adapter are discarded now, so keep taking them
    if (settings_.onDemand) {
        if (outgoing_.empty())
            disconnect();
        else
            closeAfterFlush_ = true;
    }
}

void TcpClientSession::portData(std::span<const std::uint8_t> data)
{
    if (settings_.serial.readTimeoutMs <= 0) {
        sendData(data);
        return;
    }
    gathered_.insert(gathered_.end(), data.begin(), data.end());
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
    std::vector<std::uint8_t> bytes;
    bytes.swap(gathered_);
    sendData(bytes);
}

void TcpClientSession::portSpeedChanged(std::uint32_t baud)
{
    settings_.serial.baud = baud;
    if (!portControl())
        return;
    std::vector<std::uint8_t> bytes;
    rfc2217::appendBaudRate(baud, bytes);
    sendRaw(bytes);
}

void TcpClientSession::portDrained()
{
    startReading();
}

void TcpClientSession::sendData(std::span<const std::uint8_t> data)
{
    if (!running_)
        return;
    if (!connected_) {
        const std::size_t room = preConnectLimit - std::min(preConnectLimit, preConnect_.size());
        const std::size_t kept = std::min(room, data.size());
        preConnect_.insert(preConnect_.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(kept));
        dropped_ += data.size() - kept;
        return;
    }
    if (settings_.telnet)
        telnet::escape(data, outgoing_.waiting());
    else
        outgoing_.append(data);
    updatePortPause();
    startWriting();
}

void TcpClientSession::sendRaw(std::span<const std::uint8_t> bytes)
{
    if (!connected_ || bytes.empty())
        return;
    outgoing_.append(bytes);
    updatePortPause();
    startWriting();
}

void TcpClientSession::startWriting()
{
    if (!connected_)
        return;
    const WriteQueue::Buffer buffer = outgoing_.takeNext();
    if (!buffer)
        return;
    asio::async_write(socket_, asio::buffer(*buffer),
                      [self = shared_from_this(), buffer, generation = generation_](const asio::error_code& error,
                                                                                     std::size_t) {
                          if (generation != self->generation_)
                              return;
                          self->outgoing_.written();
                          if (error) {
                              self->disconnect();
                              self->scheduleRetry();
                              return;
                          }
                          self->updatePortPause();
                          if (self->outgoing_.empty() && self->closeAfterFlush_)
                              self->disconnect();
                          else
                              self->startWriting();
                      });
}

void TcpClientSession::updatePortPause()
{
    const auto port = port_.lock();
    if (!port)
        return;
    if (!portPaused_ && outgoing_.size() > socketHighWater) {
        portPaused_ = true;
        port->setReadPaused(true);
    } else if (portPaused_ && outgoing_.size() < socketLowWater) {
        portPaused_ = false;
        port->setReadPaused(false);
    }
}

}  // namespace vsp

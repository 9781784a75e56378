#include "TcpClientSession.h"

#include <string>
#include <utility>

namespace vsp {
namespace {
// As the port shows the redirect's settings: 1.5 stop bits as one.
PortSettings redirectSettings(const SerialSettings& serial)
{
    PortSettings settings;
    settings.baud = serial.baud;
    settings.stopBits = serial.stopBits == 2 ? 2 : 1;
    return settings;
}
}  // namespace

TcpClientSession::TcpClientSession(asio::io_context& io, const TcpClientSettings& settings)
    : io_(io),
      connection_(io, settings, *this, tap_),
      bridge_(io, *this, settings.serial.readTimeoutMs, redirectSettings(settings.serial)),
      lines_(io, connection_, bridge_, tap_, [this] { return diagnostics(); })
{
}

void TcpClientSession::stop()
{
    const std::uint64_t unsent = bridge_.held() + connection_.unsent() +
                                 (drainStarted_ ? bridge_.dropped() - droppedBeforeDrain_ : 0);
    drainStarted_ = false;
    connection_.cancelFinishing();
    connection_.stop();
    bridge_.stop();
    if (unsent > 0)
        connectionEvent({Event::Kind::DataLost, FailureKind::None,
                         "stopped with " + std::to_string(unsent) + " bytes from the port not sent"});
}

void TcpClientSession::drain(std::function<void()> done)
{
    drainStarted_ = true;
    droppedBeforeDrain_ = bridge_.dropped();
    connection_.startFinishing(std::move(done));
    const auto port = bridge_.port();
    if (!port) {
        takeLastInput();
        return;
    }
    port->stopInput();
    asio::post(io_, [self = shared_from_this()] { self->takeLastInput(); });
}

void TcpClientSession::takeLastInput()
{
    if (!connection_.finishing())
        return;  // stopped meanwhile
    if (const auto port = bridge_.port())
        port->takeLastInput();  // its bytes come here as portData
    bridge_.flushGathered();
    connection_.finishWhenSent();
}

void TcpClientSession::attachPort(std::shared_ptr<VirtualPort> port)
{
    bridge_.attach(port);
    if (port && port->isOpen())
        portOpened();
}

void TcpClientSession::portOpened()
{
    tap_.event(monitor::Kind::PortOpened);
    connection_.applicationArrived();
    lines_.portOpened();
}

void TcpClientSession::portClosed()
{
    tap_.event(monitor::Kind::PortClosed);
    bridge_.flushGathered();
    lines_.portClosed();
    connection_.startReading();  // bytes from the adapter are discarded now, so keep taking them
    connection_.applicationLeft();
}

void TcpClientSession::connectionEvent(const Event& event)
{
    if (report_)
        report_(event);
}

}  // namespace vsp

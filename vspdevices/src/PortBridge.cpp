#include "PortBridge.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace vsp {

PortBridge::PortBridge(asio::io_context& io, Target& target, double readTimeoutMs, const PortSettings& adapterHas)
    : target_(target), readTimeoutMs_(readTimeoutMs), gatherTimer_(io), adapterHas_(adapterHas)
{
}

void PortBridge::attach(const std::shared_ptr<VirtualPort>& port)
{
    port_ = port;
    if (port)
        followPortSettings(port->settings());
}

bool PortBridge::portHeld() const
{
    const auto port = port_.lock();
    return port && port->isOpen();
}

void PortBridge::data(std::span<const std::uint8_t> bytes)
{
    if (readTimeoutMs_ <= 0) {
        send(bytes);
        return;
    }
    gathered_.insert(gathered_.end(), bytes.begin(), bytes.end());
    target_.waitingChanged();
    if (gathered_.size() >= gatherLimit) {
        flushGathered();
        return;
    }
    gatherTimer_.expires_after(std::chrono::microseconds(static_cast<std::int64_t>(readTimeoutMs_ * 1000)));
    gatherTimer_.async_wait([this, alive = std::weak_ptr<char>(alive_)](const asio::error_code& error) {
        if (!alive.expired() && !error)
            flushGathered();
    });
}

void PortBridge::flushGathered()
{
    gatherTimer_.cancel();
    if (gathered_.empty())
        return;
    send(gathered_);  // encoded into the connection's queue, so the buffer is free again
    gathered_.clear();
}

void PortBridge::send(std::span<const std::uint8_t> bytes)
{
    if (target_.stopped())
        return;
    if (!target_.takesData()) {
        // Not connected, or the adapter has not had the port's settings yet.
        const std::size_t room = preConnectLimit - std::min(preConnectLimit, preConnect_.size());
        const std::size_t kept = std::min(room, bytes.size());
        preConnect_.insert(preConnect_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(kept));
        dropped_ += bytes.size() - kept;
        return;
    }
    target_.sendData(bytes);
}

void PortBridge::settingsChanged(const PortSettings& now)
{
    flushGathered();  // bytes written before the change go at the old settings
    followPortSettings(now);
}

void PortBridge::followPortSettings(const PortSettings& now)
{
    const PortSettings before = std::exchange(adapterHas_, now);
    target_.sendSettings(now, before);
}

void PortBridge::flushed(bool input, bool output)
{
    if (output) {
        // Not sent yet, so not sent at all; what the socket already took is on its way.
        gatherTimer_.cancel();
        gathered_.clear();
        preConnect_.clear();
        target_.waitingChanged();
    }
    target_.sendPurge(input, output);
}

void PortBridge::releaseWaiting()
{
    if (preConnect_.empty())
        return;
    std::vector<std::uint8_t> waiting;
    waiting.swap(preConnect_);
    send(waiting);
}

void PortBridge::dropWaiting()
{
    dropped_ += preConnect_.size();
    preConnect_.clear();
}

void PortBridge::stop()
{
    gatherTimer_.cancel();
    gathered_.clear();
    dropWaiting();
}

void PortBridge::updatePortPause()
{
    const auto port = port_.lock();
    if (!port)
        return;
    if (!portPaused_ && target_.queueFull()) {
        portPaused_ = true;
        port->setReadPaused(true);
    } else if (portPaused_ && target_.queueDrained()) {
        portPaused_ = false;
        port->setReadPaused(false);
    }
}

void PortBridge::deliver(std::span<const std::uint8_t> bytes, bool lastReads)
{
    // Discarded while no application holds the port, and while stopping what it has no room for.
    const auto port = port_.lock();
    if (port && !(lastReads && port->pendingOutput() > VirtualPort::highWater))
        port->write(bytes);
}

bool PortBridge::applicationBehind() const
{
    const auto port = port_.lock();
    return port && port->isOpen() && port->pendingOutput() > VirtualPort::highWater;
}

}  // namespace vsp

#include "VirtualPort.h"

#include "PortDirectory.h"
#include "PtyTermios.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace vsp {

std::shared_ptr<VirtualPort> VirtualPort::create(asio::io_context& io, const std::string& linkPath, std::uint32_t baud)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master < 0)
        return nullptr;
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        return nullptr;
    }
    // Opening and closing the slave once sets the settings and puts the master in
    // its hang-up state, which is how the port tells that no application holds it.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    const bool configured = slave >= 0 && makeRawWithSpeed(slave, baud);
    if (slave >= 0)
        ::close(slave);
    if (!configured || !createPortLink(linkPath, name)) {
        ::close(master);
        return nullptr;
    }
    std::shared_ptr<VirtualPort> port(new VirtualPort(io, master, linkPath, name));
    port->lastSpeed_ = baud;
    port->watch();
    return port;
}

VirtualPort::VirtualPort(asio::io_context& io, int master, std::string linkPath, std::string terminal)
    : master_(io, master), masterFd_(master), timer_(io), linkPath_(std::move(linkPath)), terminal_(std::move(terminal))
{
}

VirtualPort::~VirtualPort()
{
    close();
}

void VirtualPort::close()
{
    if (closed_)
        return;
    closed_ = true;
    removePortLink(linkPath_, terminal_);
    timer_.cancel();
    asio::error_code ignored;
    master_.close(ignored);  // the application's side hangs up
    output_.dropWaiting();
}

void VirtualPort::setListener(std::weak_ptr<PortListener> listener)
{
    listener_ = std::move(listener);
}

short VirtualPort::masterEvents() const
{
    pollfd p{masterFd_, POLLIN, 0};
    return ::poll(&p, 1, 0) >= 0 ? p.revents : POLLHUP;
}

bool VirtualPort::heldOpen() const
{
    return !closed_ && (masterEvents() & POLLHUP) == 0;
}

void VirtualPort::watch()
{
    timer_.expires_after(watchInterval);
    timer_.async_wait([weak = weak_from_this()](const asio::error_code& error) {
        if (auto self = weak.lock(); self && !error && !self->closed_)
            self->onWatchTick();
    });
}

void VirtualPort::onWatchTick()
{
    if (state_ != State::Open) {
        const short events = masterEvents();
        if (events & POLLHUP) {
            if (events & POLLIN)
                drainBriefWrites();  // only when an application left bytes behind
            state_ = State::Closed;
        } else if (state_ == State::Closed) {
            state_ = State::Opening;
        } else {
            state_ = State::Open;
            if (auto l = listener())
                l->portOpened();
            if (closed_)
                return;
            startReading();
        }
    } else if (const auto speed = terminalSpeed(master_.native_handle()); speed && *speed != lastSpeed_) {
        lastSpeed_ = *speed;
        if (auto l = listener())
            l->portSpeedChanged(*speed);
    }
    if (!closed_)
        watch();
}

void VirtualPort::drainBriefWrites()
{
    // Bytes left by an application that opened, wrote and closed between two checks.
    for (;;) {
        const ssize_t n = ::read(master_.native_handle(), readBuffer_.data(), readBuffer_.size());
        if (n <= 0)
            break;
        if (auto l = listener())
            l->portData({readBuffer_.data(), static_cast<std::size_t>(n)});
        if (closed_)
            return;
    }
    ::tcflush(master_.native_handle(), TCOFLUSH);
}

void VirtualPort::startReading()
{
    if (reading_ || readPaused_ || closed_ || state_ != State::Open)
        return;
    reading_ = true;
    master_.async_read_some(asio::buffer(readBuffer_),
                            [self = shared_from_this()](const asio::error_code& error, std::size_t size) {
                                self->onRead(error, size);
                            });
}

void VirtualPort::onRead(const asio::error_code& error, std::size_t size)
{
    reading_ = false;
    if (closed_)
        return;
    if (error) {
        becomeClosed();  // EIO: the last application closed the port
        return;
    }
    if (auto l = listener())
        l->portData({readBuffer_.data(), size});
    startReading();
}

void VirtualPort::becomeClosed()
{
    state_ = State::Closed;
    // A write still in flight would keep retrying against the hung-up terminal and
    // refill its input queue: stop it first, then drop everything on its way.
    asio::error_code ignored;
    master_.cancel(ignored);
    output_.dropWaiting();
    discardTerminalInput();
    ::tcflush(master_.native_handle(), TCIFLUSH);
    if (auto l = listener())
        l->portClosed();
}

void VirtualPort::discardTerminalInput()
{
    // What the master wrote waits in the slave's input queue, which only a flush on
    // the slave side empties; the slave is opened for that alone. Nothing else runs
    // on this thread meanwhile, so the port's watch never sees this open.
    const int slave = ::open(terminal_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slave < 0)
        return;
    ::tcflush(slave, TCIFLUSH);
    ::close(slave);
}

void VirtualPort::write(std::span<const std::uint8_t> data)
{
    if (closed_ || state_ != State::Open || data.empty())
        return;
    // Bytes already queued go first; otherwise the terminal takes what it has room
    // for at once, without a copy, and only the rest waits.
    if (output_.empty() && !writeNow(data))
        return;
    if (data.empty())
        return;
    output_.append(data);
    startWriting();
}

// Writes what the terminal has room for now and drops that from data; false when
// the application can no longer take bytes (the caller drops the rest).
bool VirtualPort::writeNow(std::span<const std::uint8_t>& data)
{
    const ssize_t n = ::write(masterFd_, data.data(), data.size());
    if (n > 0) {
        data = data.subspan(static_cast<std::size_t>(n));
        return true;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR)
        return false;
    // No room: a terminal nobody holds open never makes room again.
    return (masterEvents() & POLLHUP) == 0;
}

void VirtualPort::startWriting()
{
    if (waitingToWrite_ || closed_ || output_.empty())
        return;
    waitingToWrite_ = true;
    master_.async_wait(asio::posix::descriptor_base::wait_write,
                       [self = shared_from_this()](const asio::error_code& error) { self->onWritable(error); });
}

void VirtualPort::onWritable(const asio::error_code& error)
{
    waitingToWrite_ = false;
    if (closed_ || error || state_ != State::Open) {
        output_.dropWaiting();  // the application went away
        if (!closed_ && state_ != State::Open)
            discardTerminalInput();  // what the last write still put there
        return;
    }
    if (output_.empty())
        return;
    const bool wasHigh = output_.size() >= lowWater;
    std::span<const std::uint8_t> pending = output_.pending();
    const std::size_t before = pending.size();
    if (!writeNow(pending)) {
        output_.dropWaiting();
        return;
    }
    output_.consume(before - pending.size());
    if (wasHigh && output_.size() < lowWater)
        if (auto l = listener())
            l->portDrained();
    startWriting();
}

void VirtualPort::setReadPaused(bool paused)
{
    readPaused_ = paused;
    if (!paused)
        startReading();
}

void VirtualPort::discardBuffered()
{
    if (closed_)
        return;
    ::tcflush(master_.native_handle(), TCIOFLUSH);
    output_.dropWaiting();
}

}  // namespace vsp

#include "VirtualPort.h"

#include "PortDirectory.h"
#include "PtyTermios.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace vsp {
namespace {

PortSettings portSettings(const TerminalSettings& t)
{
    using Flow = PortSettings::Flow;
    return {.baud = t.baud,
            .stopBits = static_cast<std::uint8_t>(t.twoStopBits ? 2 : 1),
            .outbound = t.rtsCts ? Flow::Hardware : t.xonOutput ? Flow::XonXoff : Flow::None,
            .inbound = t.rtsCts ? Flow::Hardware : t.xonInput ? Flow::XonXoff : Flow::None};
}

}  // namespace

std::shared_ptr<VirtualPort> VirtualPort::create(asio::io_context& io, std::shared_ptr<PortOpenWatch> watch,
                                                 const std::string& linkPath, std::uint32_t baud, std::uint8_t stopBits)
{
    if (!watch)
        return nullptr;
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
    const bool configured = slave >= 0 && makeRawWithSpeed(slave, baud, stopBits == 2);
    if (slave >= 0)
        ::close(slave);
    if (!configured || !reportSettingChanges(master)) {
        ::close(master);
        return nullptr;
    }
    std::shared_ptr<VirtualPort> port(new VirtualPort(io, std::move(watch), master, linkPath, name));
    port->drainBriefUse();  // the status of our own EXTPROC setting
    if (const auto settings = terminalSettings(master)) {
        port->settings_ = portSettings(*settings);
        port->settingsSetByApplication_ = false;  // the status of our own setting read above
        port->noteOutputFlow(settings->xonOutput, settings->startChar, settings->stopChar);
    }
    // Watched before the link exists, so no open through it goes unseen.
    port->watchId_ = port->watch_->add(name, [weak = port->weak_from_this()] {
        if (const auto self = weak.lock())
            self->onOpenOrClose();
    });
    if (port->watchId_ < 0 || !createPortLink(linkPath, name)) {
        port->closed_ = true;  // the link is not ours to remove
        port->watch_->remove(port->watchId_);
        return nullptr;
    }
    return port;
}

VirtualPort::VirtualPort(asio::io_context& io, std::shared_ptr<PortOpenWatch> watch, int master, std::string linkPath,
                         std::string terminal)
    : master_(io, master),
      masterFd_(master),
      watch_(std::move(watch)),
      confirmTimer_(io),
      linkPath_(std::move(linkPath)),
      terminal_(std::move(terminal))
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
    watch_->remove(watchId_);
    removePortLink(linkPath_, terminal_);
    confirmTimer_.cancel();
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

// Someone opened or closed the slave. A port in use learns of the last close from
// its read (EIO, once every byte before it was read), so only a closed port looks.
void VirtualPort::onOpenOrClose()
{
    if (closed_ || state_ != State::Closed)
        return;
    const short events = masterEvents();
    if (events & POLLHUP) {
        if (events & POLLIN)
            drainBriefUse();  // an application came and went, leaving bytes or settings
        return;
    }
    state_ = State::Opening;
    confirmTimer_.expires_after(openConfirmDelay);
    confirmTimer_.async_wait([weak = weak_from_this()](const asio::error_code& error) {
        // Still held: a probe that has left is not confirmed, however late its
        // close is read.
        if (auto self = weak.lock(); self && !error && self->heldOpen())
            self->confirmOpen();
    });
    startReading();
}

void VirtualPort::confirmOpen()
{
    if (closed_ || state_ != State::Opening)
        return;
    state_ = State::Open;
    confirmTimer_.cancel();
    if (auto l = listener())
        l->portOpened();
}

void VirtualPort::startReading()
{
    if (reading_ || readPaused_ || closed_ || state_ == State::Closed || outputFlow_.closing)
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
    if (closed_ || error == asio::error::operation_aborted)
        return;
    if (error) {
        becomeClosed();  // EIO: the last application closed the port
        return;
    }
    if (onPacket({readBuffer_.data(), size}, true))
        startReading();
}

// One read of the master: a data packet (a 0 byte, then the bytes) or one status
// byte. held: an application holds the port (rather than having come and gone).
// False when the port was closed meanwhile.
bool VirtualPort::onPacket(std::span<const std::uint8_t> packet, bool held)
{
    if (packet.empty())
        return true;
    if (packet[0] != TIOCPKT_DATA) {
        onStatus(packet[0], held);
        return !closed_;
    }
    const auto data = packet.subspan(1);
    if (data.empty())
        return true;
    // The kernel reports a change of settings ahead of the bytes written after it,
    // except when a program reopens the port just after another closed it: then
    // the report can lag behind its bytes. So every read of data also looks at the
    // settings (one ioctl a read), and a change goes out before the bytes.
    readSettings(held, false);
    if (closed_)
        return false;
    if (held)
        confirmOpen();
    if (auto l = listener(); l && !closed_)
        l->portData(data);
    return !closed_;
}

void VirtualPort::onStatus(std::uint8_t status, bool held)
{
    const bool input = status & TIOCPKT_FLUSHREAD;
    const bool output = status & TIOCPKT_FLUSHWRITE;
    // Flushes of an application that is gone no longer matter (and the port's own
    // flush of the terminal's input, after a close, comes this way).
    if (held && (input || output)) {
        confirmOpen();
        if (input)
            output_.dropWaiting();  // the kernel already emptied the terminal's input
        if (auto l = listener(); l && !closed_)
            l->portFlushed(input, output);
        if (closed_)
            return;
    }
    if (status & TIOCPKT_IOCTL)
        readSettings(held, true);
}

void VirtualPort::readSettings(bool held, bool reported)
{
    const auto terminal = terminalSettings(masterFd_);
    if (!terminal)
        return;
    // An application that set c_lflag wholesale cleared EXTPROC: this change was
    // still reported, the next would not be.
    if (reported && !terminal->reported)
        reportSettingChanges(masterFd_);
    noteOutputFlow(terminal->xonOutput, terminal->startChar, terminal->stopChar);
    const PortSettings now = portSettings(*terminal);
    if (now == settings_)
        return;  // a tcsetattr that changed nothing the adapter needs to know
    if (held)
        confirmOpen();
    const PortSettings before = settings_;
    settings_ = now;
    settingsSetByApplication_ = true;
    if (auto l = listener(); l && !closed_)
        l->portSettingsChanged(now, before);
}

bool VirtualPort::takeRedirectSettings(std::uint32_t baud, std::uint8_t stopBits)
{
    if (closed_ || settingsSetByApplication_)
        return false;
    // A change the kernel has not reported yet is the application's too.
    const auto terminal = terminalSettings(masterFd_);
    if (!terminal || portSettings(*terminal) != settings_)
        return false;
    PortSettings wanted = settings_;
    wanted.baud = baud;
    wanted.stopBits = stopBits == 2 ? 2 : 1;  // 1.5 shows as one, as the port was made
    if (wanted == settings_)
        return true;
    if (!setSpeed(masterFd_, baud, stopBits == 2))
        return false;
    settings_ = wanted;  // so the kernel's report of this change is no application's
    return true;
}

// Reads what an application that has left the port put there: its bytes and its
// settings go on; then the master is empty again, so it cannot wake anyone.
void VirtualPort::drainBriefUse()
{
    for (;;) {
        const ssize_t n = ::read(masterFd_, readBuffer_.data(), readBuffer_.size());
        if (n <= 0)
            break;  // EIO: nobody holds the port; EAGAIN: somebody does, its open is on its way
        if (!onPacket({readBuffer_.data(), static_cast<std::size_t>(n)}, false))
            return;
    }
    ::tcflush(masterFd_, TCOFLUSH);
}

void VirtualPort::becomeClosed()
{
    const bool wasOpen = state_ == State::Open;
    state_ = State::Closed;
    confirmTimer_.cancel();
    // A write still in flight would keep retrying against the hung-up terminal and
    // refill its input queue: stop it first, then drop everything on its way.
    asio::error_code ignored;
    master_.cancel(ignored);
    output_.dropWaiting();
    if (wasOpen)
        if (auto l = listener())
            l->portClosed();
    if (closed_)
        return;
    holdApplicationOutput(false);  // the next application starts with its output running
    discardTerminalInput();
}

void VirtualPort::discardTerminalInput()
{
    // What the master wrote waits in the slave's input queue, which only a flush on
    // the slave side empties; the slave is opened for that alone. Its open and close
    // reach onOpenOrClose later, which then finds nobody holding the port, and the
    // flush's own status is read here.
    const int slave = ::open(terminal_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slave < 0)
        return;
    ::tcflush(slave, TCIFLUSH);
    ::close(slave);
    drainBriefUse();
}

void VirtualPort::write(std::span<const std::uint8_t> data)
{
    if (state_ == State::Closed && !closed_ && !data.empty())
        onOpenOrClose();  // an application that just opened the port, its notice still on its way, gets these
    if (closed_ || state_ == State::Closed || data.empty())
        return;
    const auto flowChar = [this](std::uint8_t b) {
        return b != _POSIX_VDISABLE && (b == outputFlow_.start || b == outputFlow_.stop);
    };
    auto next = std::find_if(data.begin(), data.end(), flowChar);
    if (next == data.end()) {
        deliver(data);
        return;
    }
    // The application may have just turned IXON on or off, its report still on the way.
    if (const auto terminal = terminalSettings(masterFd_))
        noteOutputFlow(terminal->xonOutput, terminal->startChar, terminal->stopChar);
    next = std::find_if(data.begin(), data.end(), flowChar);
    while (outputFlow_.on && next != data.end()) {
        const auto at = static_cast<std::size_t>(next - data.begin());
        deliver(data.first(at));
        holdApplicationOutput(*next == outputFlow_.stop);
        data = data.subspan(at + 1);
        if (closed_ || state_ == State::Closed)
            return;
        next = std::find_if(data.begin(), data.end(), flowChar);
    }
    deliver(data);
}

void VirtualPort::noteOutputFlow(bool on, std::uint8_t start, std::uint8_t stop)
{
    outputFlow_.on = on;
    outputFlow_.start = start;
    outputFlow_.stop = stop;
    if (!on)
        holdApplicationOutput(false);  // as the line discipline resumes output when IXON is cleared
}

// A pty's master has no call that stops the slave's output (its tcflow acts on its
// own), so the slave is opened for the moment it takes; the open watch then finds
// the port held, or nobody there, and leaves it.
void VirtualPort::holdApplicationOutput(bool hold)
{
    if (hold == outputFlow_.held || closed_ || outputFlow_.closing)
        return;
    const int slave = ::open(terminal_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slave < 0)
        return;
    if (::tcflow(slave, hold ? TCOOFF : TCOON) == 0)
        outputFlow_.held = hold;
    ::close(slave);
}

void VirtualPort::deliver(std::span<const std::uint8_t> data)
{
    if (data.empty())
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
    if (closed_ || error || state_ == State::Closed) {
        output_.dropWaiting();  // the application went away
        if (!closed_ && state_ == State::Closed)
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

bool VirtualPort::unreadFromApplication() const
{
    // Not FIONREAD: bytes the application wrote may still wait in the terminal's
    // buffers for the kernel to hand them on, which FIONREAD does not count; a poll
    // of the master first lets the kernel finish handing them on.
    pollfd p{masterFd_, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

void VirtualPort::setReadPaused(bool paused)
{
    readPaused_ = paused;
    if (!paused)
        startReading();
}

void VirtualPort::stopInput()
{
    if (closed_)
        return;
    if (heldOpen())
        holdApplicationOutput(true);  // from here on its write() takes nothing more
    outputFlow_.closing = true;
    // A read not done yet is cancelled; one done, its handler queued, still delivers.
    asio::error_code ignored;
    master_.cancel(ignored);
}

void VirtualPort::takeLastInput()
{
    if (closed_ || reading_)
        return;
    // Bounded all the same, for an application whose output could not be stopped.
    // "Nothing to read" is believed only once a poll agrees: the kernel may still be
    // handing the application's last bytes on to the master (a busy machine delays
    // it), and the poll lets it finish first (unreadFromApplication).
    std::size_t taken = 0;
    int retries = 0;
    while (taken < 1024 * 1024) {
        const ssize_t n = ::read(masterFd_, readBuffer_.data(), readBuffer_.size());
        if (n < 0 && errno == EAGAIN && ++retries <= 100 && unreadFromApplication())
            continue;
        if (n <= 0)
            break;
        taken += static_cast<std::size_t>(n);
        if (!onPacket({readBuffer_.data(), static_cast<std::size_t>(n)}, false))
            return;
    }
}

void VirtualPort::discardBuffered()
{
    if (closed_)
        return;
    ::tcflush(master_.native_handle(), TCIOFLUSH);
    output_.dropWaiting();
}

}  // namespace vsp

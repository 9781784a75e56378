// A Connector's port while emulation runs: a pseudo-terminal in raw mode whose slave
// side is reached through the link COM<N>. Nothing here polls; an idle port, held
// open or not, makes no system call:
//  - Opens and closes: PortOpenWatch (inotify on the slave's device node) says when
//    to look; the master's hang-up state says whether an application still holds
//    the slave, and a read of EIO says the last one closed it.
//  - The master runs in packet mode with EXTPROC set on the slave, so the kernel
//    reports every tcsetattr and every tcflush of the application as a status byte
//    among the data, ahead of bytes still queued. Data packets start with a 0 byte,
//    skipped in place. A change of speed, stop bits or flow control goes to the
//    listener as it happens, so every byte written after it comes after it (bytes
//    written before it and still queued come after it too, as on a UART). An
//    application that clears EXTPROC (setting c_lflag wholesale) is still seen that
//    once; the port then sets EXTPROC again from the master so later changes keep
//    being reported.
//  - Bytes pass both ways as soon as the application opens the port. The
//    open itself (portOpened, which raises DTR/RTS) is confirmed only when the
//    application writes, changes a setting or flushes, or once it has held the port
//    for openConfirmDelay, whichever comes first: a probe that opens and closes the
//    port at once never reaches the adapter as a DTR pulse.
//  - An application that opens, writes or sets and closes before the port looks
//    (echo hi > COM5, stty -F COM5 4800) still has its bytes and settings passed on.
//  - With EXTPROC the kernel leaves XON/XOFF from the device alone, so the port does
//    what the line discipline of a real port does while the application has IXON
//    on: XOFF and XON (its VSTOP and VSTART) are taken out of the bytes for it, and
//    XOFF stops its output until XON (tcflow on the slave, so its writes block as on
//    a stopped tty).
#pragma once

#include "PortOpenWatch.h"
#include "WriteQueue.h"

#include <asio.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vsp {

// The line settings an application's termios carries by itself on a pty.
struct PortSettings {
    enum class Flow : std::uint8_t { None, XonXoff, Hardware };
    std::uint32_t baud = 0;
    std::uint8_t stopBits = 1;       // 1 or 2
    Flow outbound = Flow::None;      // what stops our sending: XON/XOFF (IXON) or CTS (CRTSCTS)
    Flow inbound = Flow::None;       // how the adapter is stopped: XON/XOFF (IXOFF) or RTS (CRTSCTS)
    bool operator==(const PortSettings&) const = default;
};

// Where a port's events go: the TcpClient on the same COM number.
class PortListener {
public:
    virtual ~PortListener() = default;
    virtual void portOpened() = 0;
    virtual void portClosed() = 0;
    virtual void portData(std::span<const std::uint8_t> data) = 0;
    // The application changed the settings; every byte it wrote after the change
    // comes after this call.
    virtual void portSettingsChanged(const PortSettings& now, const PortSettings& before) = 0;
    // The application flushed: input, what it had not read yet (already discarded by
    // the port); output, what it wrote and was not sent yet.
    virtual void portFlushed(bool input, bool output) = 0;
    // The bytes waiting to go to the application fell below the low-water mark.
    virtual void portDrained() = 0;
};

class VirtualPort : public std::enable_shared_from_this<VirtualPort> {
public:
    static constexpr std::size_t highWater = 64 * 1024;
    static constexpr std::size_t lowWater = 16 * 1024;
    static constexpr auto openConfirmDelay = std::chrono::milliseconds(50);

    // nullptr when the terminal or its link cannot be made. The terminal starts at
    // the speed and stop bits given.
    static std::shared_ptr<VirtualPort> create(asio::io_context& io, std::shared_ptr<PortOpenWatch> watch,
                                               const std::string& linkPath, std::uint32_t baud,
                                               std::uint8_t stopBits = 1);
    ~VirtualPort();

    // Hangs up any application and removes the link.
    void close();
    void setListener(std::weak_ptr<PortListener> listener);

    // True at once when an application holds the slave open.
    bool heldOpen() const;
    // True while an open has been confirmed and not yet closed.
    bool isOpen() const { return state_ == State::Open; }
    // The settings the application last set (or the initial ones).
    const PortSettings& settings() const { return settings_; }
    // Puts the terminal at a redirect's speed and stop bits, unless an application
    // has changed the settings since the port was made (then they stay its own);
    // true when they are the redirect's now.
    bool takeRedirectSettings(std::uint32_t baud, std::uint8_t stopBits);

    // Passes bytes to the application: straight into the terminal while it has room,
    // queued (in order) for when it has room again otherwise. Discarded while no
    // application holds the port. XON/XOFF act on its output instead while it has IXON.
    void write(std::span<const std::uint8_t> data);
    std::size_t pendingOutput() const { return output_.size(); }
    // Whether bytes the application wrote wait in the terminal, not read by the port yet.
    bool unreadFromApplication() const;
    // Stops or resumes taking bytes from the application (back-pressure).
    void setReadPaused(bool paused);
    // Drops what is buffered in both directions.
    void discardBuffered();
    // Before the port closes, in two steps: stopInput() stops the application's
    // output where it stands and the port's reading; takeLastInput(), posted after
    // it so that a read already done is handled first, passes every byte the
    // terminal still holds on to the listener, in order.
    void stopInput();
    void takeLastInput();

    const std::string& terminal() const { return terminal_; }

private:
    enum class State { Closed, Opening, Open };
    VirtualPort(asio::io_context& io, std::shared_ptr<PortOpenWatch> watch, int master, std::string linkPath,
                std::string terminal);
    short masterEvents() const;  // poll() events of the master, now
    void onOpenOrClose();
    void confirmOpen();
    void startReading();
    void onRead(const asio::error_code& error, std::size_t size);
    bool onPacket(std::span<const std::uint8_t> packet, bool held);
    void onStatus(std::uint8_t status, bool held);
    // reported: the kernel reported a change (rather than a read of data looking).
    void readSettings(bool held, bool reported);
    void becomeClosed();
    void discardTerminalInput();
    void drainBriefUse();
    void deliver(std::span<const std::uint8_t> data);
    void noteOutputFlow(bool on, std::uint8_t start, std::uint8_t stop);
    // Stops (XOFF) or resumes (XON) the application's output.
    void holdApplicationOutput(bool hold);
    bool writeNow(std::span<const std::uint8_t>& data);
    void startWriting();
    void onWritable(const asio::error_code& error);
    std::shared_ptr<PortListener> listener() const { return listener_.lock(); }

    asio::posix::stream_descriptor master_;
    int masterFd_;
    std::shared_ptr<PortOpenWatch> watch_;
    int watchId_ = -1;
    asio::steady_timer confirmTimer_;
    std::string linkPath_;
    std::string terminal_;
    std::weak_ptr<PortListener> listener_;
    State state_ = State::Closed;
    bool closed_ = false;
    bool reading_ = false;
    bool readPaused_ = false;
    bool waitingToWrite_ = false;
    PortSettings settings_;
    bool settingsSetByApplication_ = false;
    struct OutputFlow {
        bool on = false;  // IXON
        std::uint8_t start = 0x11;
        std::uint8_t stop = 0x13;
        bool held = false;  // stopped by an XOFF
        bool closing = false;  // stopped for good: the port is about to close
    } outputFlow_;
    std::array<std::uint8_t, 65536> readBuffer_{};
    WriteQueue output_;
};

}  // namespace vsp

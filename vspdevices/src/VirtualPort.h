// A Connector's port while emulation runs: a pseudo-terminal in raw mode whose slave
// side is reached through the link COM<N>. The port watches whether an application
// holds the slave open (the master reports a hang-up while nobody does): an open is
// taken as real only when it lasts over two checks, so a probe that opens and
// closes the port at once never reaches the adapter as a DTR pulse. Bytes an
// application writes and closes at once (echo > COM5) are still passed on.
#pragma once

#include "WriteQueue.h"

#include <asio.hpp>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vsp {

// Where a port's events go: the TcpClient on the same COM number.
class PortListener {
public:
    virtual ~PortListener() = default;
    virtual void portOpened() = 0;
    virtual void portClosed() = 0;
    virtual void portData(std::span<const std::uint8_t> data) = 0;
    virtual void portSpeedChanged(std::uint32_t baud) = 0;
    // The bytes waiting to go to the application fell below the low-water mark.
    virtual void portDrained() = 0;
};

class VirtualPort : public std::enable_shared_from_this<VirtualPort> {
public:
    static constexpr std::size_t highWater = 64 * 1024;
    static constexpr std::size_t lowWater = 16 * 1024;
    static constexpr auto watchInterval = std::chrono::milliseconds(20);

    // nullptr when the terminal or its link cannot be made.
    static std::shared_ptr<VirtualPort> create(asio::io_context& io, const std::string& linkPath,
                                               std::uint32_t baud);
    ~VirtualPort();

    // Hangs up any application and removes the link.
    void close();
    void setListener(std::weak_ptr<PortListener> listener);

    // True at once when an application holds the slave open (no debounce).
    bool heldOpen() const;
    // True while an open has been confirmed and not yet closed.
    bool isOpen() const { return state_ == State::Open; }

    // Passes bytes to the application: straight into the terminal while it has room,
    // queued (in order) for when it has room again otherwise. Discarded while no
    // application holds the port.
    void write(std::span<const std::uint8_t> data);
    std::size_t pendingOutput() const { return output_.size(); }
    // Stops or resumes taking bytes from the application (back-pressure).
    void setReadPaused(bool paused);
    // Drops what is buffered in both directions.
    void discardBuffered();

    const std::string& terminal() const { return terminal_; }

private:
    enum class State { Closed, Opening, Open };
    VirtualPort(asio::io_context& io, int master, std::string linkPath, std::string terminal);
    short masterEvents() const;  // poll() events of the master, now
    void watch();
    void onWatchTick();
    void startReading();
    void onRead(const asio::error_code& error, std::size_t size);
    void becomeClosed();
    void discardTerminalInput();
    void drainBriefWrites();
    bool writeNow(std::span<const std::uint8_t>& data);
    void startWriting();
    void onWritable(const asio::error_code& error);
    std::shared_ptr<PortListener> listener() const { return listener_.lock(); }

    asio::posix::stream_descriptor master_;
    int masterFd_;
    asio::steady_timer timer_;
    std::string linkPath_;
    std::string terminal_;
    std::weak_ptr<PortListener> listener_;
    State state_ = State::Closed;
    bool closed_ = false;
    bool reading_ = false;
    bool readPaused_ = false;
    bool waitingToWrite_ = false;
    std::uint32_t lastSpeed_ = 0;
    std::array<std::uint8_t, 65536> readBuffer_{};
    WriteQueue output_;
};

}  // namespace vsp

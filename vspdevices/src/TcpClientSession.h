// A TcpClient while emulation runs: the TCP connection to the adapter that carries
// its port's bytes, with Telnet and RFC 2217 port control when asked for.
//  - Connects to host:port (names and IPv6 too), keepalive and no-delay on; when the
//    connection fails or drops it retries after 0.25 s, doubling to 5 s, for as long
//    as emulation runs (or, on demand, as long as an application holds the port).
//  - After each connect it offers BINARY, SUPPRESS-GO-AHEAD and COM-PORT-OPTION and,
//    once the adapter agrees to COM-PORT-OPTION, sends the baud rate, data size,
//    parity and stop size, and the modem lines when DTR/RTS is on. Data never waits
//    for the adapter's answers; an adapter that refuses port control still carries data.
//  - Bytes from the port are gathered until the application pauses for the read
//    timeout (or 4 KiB are gathered) and sent together.
//  - Memory is bounded: while the adapter is slower than the application the port is
//    no longer read; while the application does not read, the socket is not read.
//    Up to 64 KiB written before the connection is up wait for it; beyond that bytes
//    are dropped and counted.
#pragma once

#include "InitString.h"
#include "Rfc2217.h"
#include "Telnet.h"
#include "VirtualPort.h"
#include "WriteQueue.h"

#include <asio.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace vsp {

class TcpClientSession : public PortListener, public std::enable_shared_from_this<TcpClientSession> {
public:
    static constexpr std::size_t gatherLimit = 4096;
    static constexpr std::size_t preConnectLimit = 64 * 1024;
    static constexpr std::size_t socketHighWater = 64 * 1024;
    static constexpr std::size_t socketLowWater = 16 * 1024;
    static constexpr auto firstRetry = std::chrono::milliseconds(250);
    static constexpr auto lastRetry = std::chrono::milliseconds(5000);
    static constexpr auto negotiationWait = std::chrono::milliseconds(2000);

    TcpClientSession(asio::io_context& io, TcpClientSettings settings);

    void start();
    void stop();
    // Drops the connection and connects again at once, sending the settings again.
    void reinitialize();
    void attachPort(std::shared_ptr<VirtualPort> port);

    bool ready() const { return running_; }
    bool ok() const { return connected_ && negotiated_; }
    std::uint64_t droppedBytes() const { return dropped_; }
    const rfc2217::ServerState& serverState() const { return server_; }

    void portOpened() override;
    void portClosed() override;
    void portData(std::span<const std::uint8_t> data) override;
    void portSpeedChanged(std::uint32_t baud) override;
    void portDrained() override;

private:
    bool wantsConnection() const;
    void connect();
    void onConnected();
    void disconnect();
    void scheduleRetry();
    void startReading();
    void onReceived(std::size_t size);
    void handleEvents();
    void sendModemLines(bool raised);
    void flushGathered();
    void sendData(std::span<const std::uint8_t> data);
    void sendRaw(std::span<const std::uint8_t> bytes);
    void startWriting();
    void updatePortPause();
    bool portControl() const;
    bool portHeld() const;

    asio::io_context& io_;
    TcpClientSettings settings_;
    asio::ip::tcp::resolver resolver_;
    asio::ip::tcp::socket socket_;
    asio::steady_timer retryTimer_;
    asio::steady_timer gatherTimer_;
    asio::steady_timer negotiationTimer_;
    std::weak_ptr<VirtualPort> port_;

    bool running_ = false;
    bool connecting_ = false;
    bool connected_ = false;
    bool negotiated_ = false;
    bool settingsSent_ = false;
    bool reading_ = false;
    bool closeAfterFlush_ = false;  // on demand: hang up once the last bytes are out
    bool portPaused_ = false;
    std::uint64_t generation_ = 0;  // tells handlers of an old connection from the current one
    std::chrono::milliseconds retryDelay_ = firstRetry;

    telnet::Decoder decoder_;
    telnet::Negotiator negotiator_;
    rfc2217::ServerState server_;
    std::vector<telnet::Event> events_;
    std::vector<std::uint8_t> received_;
    std::array<std::uint8_t, 65536> readBuffer_{};

    std::vector<std::uint8_t> gathered_;
    std::vector<std::uint8_t> preConnect_;
    WriteQueue outgoing_;
    std::uint64_t dropped_ = 0;
};

}  // namespace vsp

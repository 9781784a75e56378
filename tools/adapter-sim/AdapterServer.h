// A simulated Telnet-to-serial adapter: an RFC 2217 server on a loopback port, one
// client at a time, running on its own thread. It records the port settings and the
// serial data it receives and can echo the data back, like a loop-back plug.
#pragma once

#include "AdapterProtocol.h"

#include <asio.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vsp {

class AdapterServer {
public:
    struct Options {
        std::uint16_t port = 0;  // 0: any free port
        bool telnet = true;      // false: plain TCP
        bool echo = false;
        bool refuseComPort = false;
        // Called on the server's thread for every setting, e.g. to print it.
        std::function<void(const AdapterProtocol::Settings&)> onSettings;
        std::function<void(const std::string&)> onEvent;
    };

    explicit AdapterServer(Options options);
    ~AdapterServer();

    std::uint16_t port() const { return port_; }

    // Sends serial data to the connected client (escaped for Telnet).
    void send(std::vector<std::uint8_t> data);
    // Closes the listening socket and any connection; start() opens them again on
    // the same port.
    void stop();
    void start();
    void dropClient();

    std::vector<std::uint8_t> received() const;
    std::size_t receivedCount() const;
    AdapterProtocol::Settings settings() const;
    int connections() const;
    bool comPortEnabled() const;

    // Waits until pred() holds (checked whenever something arrives) or the time is up.
    bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

private:
    struct Connection;
    void listen();
    void accept();
    void runOnThread(std::function<void()> f);

    Options options_;
    asio::io_context io_;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_;
    std::optional<asio::ip::tcp::acceptor> acceptor_;
    std::shared_ptr<Connection> client_;
    std::thread thread_;
    std::uint16_t port_ = 0;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::uint8_t> received_;
    AdapterProtocol::Settings settings_;
    int connections_ = 0;
    bool comPortEnabled_ = false;
};

}  // namespace vsp

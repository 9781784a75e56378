// A simulated Telnet-to-serial adapter: an RFC 2217 server on a loopback port,
// running on its own thread. Each client it serves is a serial line of its own,
// numbered from 1 in the order the clients connected, so one server can stand for a
// multi-port adapter. It records the port settings and the serial data of each line
// and can echo the data back, like a loop-back plug on every line. Each line holds
// its modem lines (looped back or fixed) and notifies the client of their changes,
// takes break on/off, and holds the data for its client while the client suspends
// the flow, which PURGE-DATA discards.
#pragma once

#include "AdapterProtocol.h"

#include <asio.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
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
        // Clients served at once; a client beyond them takes the oldest one's place
        // (with 1, like a single-port adapter that serves the latest client).
        std::size_t lines = 1;
        // Modem lines held at a fixed level on every line; the others loop back.
        AdapterProtocol::ModemLines modemLines;
        // Called on the server's thread for every setting of a line, e.g. to print it.
        std::function<void(int line, const AdapterProtocol::Settings&)> onSettings;
        std::function<void(int line, const std::string&)> onEvent;
        // Called on the server's thread for every COM-PORT-OPTION command a line receives.
        std::function<void(int line, const rfc2217::Message&)> onCommand;
    };

    // Throws std::system_error when the port cannot be listened on (e.g. it is taken).
    explicit AdapterServer(Options options);
    ~AdapterServer();

    std::uint16_t port() const { return port_; }

    // Sends serial data to the newest client, or to one line (escaped for Telnet).
    void send(std::vector<std::uint8_t> data);
    void send(int line, std::vector<std::uint8_t> data);
    // Closes the listening socket and every connection; start() opens them again on
    // the same port.
    void stop();
    void start();
    // Closes every connection.
    void dropClient();

    // What every line received, in arrival order, and the settings last received.
    std::vector<std::uint8_t> received() const;
    std::size_t receivedCount() const;
    AdapterProtocol::Settings settings() const;
    // The same for one line.
    std::vector<std::uint8_t> received(int line) const;
    AdapterProtocol::Settings settings(int line) const;
    // Clients accepted so far, and clients connected now.
    int connections() const;
    int clients() const;
    bool comPortEnabled() const;

    // Every COM-PORT-OPTION command a line received, in order.
    std::vector<rfc2217::Message> commands(int line) const;
    // For each of those commands, how many data bytes the line had received before it.
    std::vector<std::size_t> dataBeforeCommands(int line) const;

    // Waits until pred() holds (checked whenever something arrives) or the time is up.
    bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

private:
    struct Connection;
    void listen();
    void accept();
    void runOnThread(std::function<void()> f);
    void forget(const Connection* connection);
    void closeAll();
    void countClients();

    Options options_;
    asio::io_context io_;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_;
    std::optional<asio::ip::tcp::acceptor> acceptor_;
    std::vector<std::shared_ptr<Connection>> clients_;  // oldest first
    std::thread thread_;
    std::uint16_t port_ = 0;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    struct Line {
        std::vector<std::uint8_t> received;
        AdapterProtocol::Settings settings;
        std::vector<rfc2217::Message> commands;
        std::vector<std::size_t> dataBeforeCommands;
    };
    std::vector<std::uint8_t> received_;
    AdapterProtocol::Settings settings_;
    std::map<int, Line> lines_;
    int connections_ = 0;
    int clientsNow_ = 0;
    bool comPortEnabled_ = false;
};

}  // namespace vsp

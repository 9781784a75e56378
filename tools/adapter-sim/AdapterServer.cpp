#include "AdapterServer.h"

#include <algorithm>
#include <future>

namespace vsp {

struct AdapterServer::Connection : std::enable_shared_from_this<Connection> {
    Connection(AdapterServer& server, asio::ip::tcp::socket socket, int line)
        : server(server), socket(std::move(socket)), protocol(server.options_.refuseComPort, server.options_.modemLines), line(line)
    {
    }

    void read()
    {
        socket.async_read_some(asio::buffer(buffer), [self = shared_from_this()](const asio::error_code& error, std::size_t n) {
            if (error) {
                self->close();
                self->server.forget(self.get());
                return;
            }
            self->onBytes(n);
            self->read();
        });
    }

    void onBytes(std::size_t n)
    {
        std::vector<std::uint8_t> data;
        std::vector<std::uint8_t> reply;
        std::vector<rfc2217::Message> commands;
        std::vector<std::size_t> dataBefore;  // each command's place among the data
        if (server.options_.telnet) {
            // Decoded in pieces that end after each IAC SE, so that every command
            // of a piece follows its data. (An IAC SE inside data only makes one
            // more piece.)
            std::span<const std::uint8_t> input(buffer.data(), n);
            while (!input.empty()) {
                std::size_t cut = input.size();
                for (std::size_t i = 0; i + 1 < input.size(); ++i)
                    if (input[i] == telnet::IAC && input[i + 1] == telnet::SE) {
                        cut = i + 2;
                        break;
                    }
                protocol.receive(input.first(cut), data, reply);
                commands.insert(commands.end(), protocol.commands().begin(), protocol.commands().end());
                dataBefore.resize(commands.size(), data.size());
                input = input.subspan(cut);
            }
        } else {
            data.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
        }
        {
            std::lock_guard lock(server.mutex_);
            server.received_.insert(server.received_.end(), data.begin(), data.end());
            server.settings_ = protocol.settings();
            Line& record = server.lines_[line];
            for (const std::size_t before : dataBefore)
                record.dataBeforeCommands.push_back(record.received.size() + before);
            record.received.insert(record.received.end(), data.begin(), data.end());
            record.settings = protocol.settings();
            record.commands.insert(record.commands.end(), commands.begin(), commands.end());
            server.comPortEnabled_ = protocol.comPortEnabled();
        }
        server.changed_.notify_all();
        if (!reply.empty())
            write(std::move(reply));
        for (const rfc2217::Message& command : commands) {
            if (server.options_.onCommand)
                server.options_.onCommand(line, command);
            if (command.code == rfc2217::PurgeData &&
                (command.value == rfc2217::purgeReceive || command.value == rfc2217::purgeBoth))
                held.clear();  // what the line received and the client has not got yet
        }
        if (!protocol.flowSuspended() && !held.empty()) {
            const std::vector<std::uint8_t> released = std::move(held);
            held.clear();
            sendData(released);
        }
        if (protocol.settingsCount() != settingsSeen) {
            settingsSeen = protocol.settingsCount();
            if (server.options_.onSettings)
                server.options_.onSettings(line, protocol.settings());
        }
        if (server.options_.echo && !data.empty())
            sendData(data);
    }

    void sendData(const std::vector<std::uint8_t>& data)
    {
        if (protocol.flowSuspended()) {
            // Held for the client, up to a bound; beyond it the line loses data as
            // an overflowing adapter buffer would.
            const std::size_t take = std::min(maxHeld - std::min(maxHeld, held.size()), data.size());
            held.insert(held.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(take));
            return;
        }
        std::vector<std::uint8_t> bytes;
        if (server.options_.telnet)
            telnet::escape(data, bytes);
        else
            bytes = data;
        write(std::move(bytes));
    }

    void write(std::vector<std::uint8_t> bytes)
    {
        auto shared = std::make_shared<std::vector<std::uint8_t>>(std::move(bytes));
        asio::async_write(socket, asio::buffer(*shared), [self = shared_from_this(), shared](const asio::error_code& error, std::size_t) {
            if (error)
                self->close();
        });
    }

    void close()
    {
        asio::error_code ignored;
        socket.close(ignored);
    }

    AdapterServer& server;
    asio::ip::tcp::socket socket;
    AdapterProtocol protocol;
    int line;
    std::uint64_t settingsSeen = 0;
    static constexpr std::size_t maxHeld = 1 << 20;
    std::vector<std::uint8_t> held;  // serial data for the client while it suspends the flow
    std::array<std::uint8_t, 16384> buffer{};
};

AdapterServer::AdapterServer(Options options) : options_(std::move(options))
{
    options_.lines = std::max<std::size_t>(options_.lines, 1);
    work_.emplace(io_.get_executor());
    thread_ = std::thread([this] { io_.run(); });
    try {
        start();
    } catch (...) {
        work_.reset();  // no destructor runs for a server that failed to start
        io_.stop();
        thread_.join();
        throw;
    }
}

AdapterServer::~AdapterServer()
{
    stop();
    work_.reset();
    io_.stop();
    thread_.join();
}

void AdapterServer::runOnThread(std::function<void()> f)
{
    std::packaged_task<void()> task(std::move(f));
    auto done = task.get_future();
    asio::post(io_, [&task] { task(); });
    done.get();
}

void AdapterServer::start()
{
    runOnThread([this] { listen(); });
}

void AdapterServer::listen()
{
    const asio::ip::tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), port_ ? port_ : options_.port);
    acceptor_.emplace(io_);
    acceptor_->open(endpoint.protocol());
    acceptor_->set_option(asio::socket_base::reuse_address(true));
    acceptor_->bind(endpoint);
    acceptor_->listen();
    port_ = acceptor_->local_endpoint().port();
    accept();
}

void AdapterServer::accept()
{
    acceptor_->async_accept([this](const asio::error_code& error, asio::ip::tcp::socket socket) {
        if (error)
            return;
        if (clients_.size() >= options_.lines) {
            clients_.front()->close();  // all lines busy: the oldest client makes room
            if (options_.onEvent)
                options_.onEvent(clients_.front()->line, "client replaced");
            clients_.erase(clients_.begin());
        }
        int line = 0;
        {
            std::lock_guard lock(mutex_);
            line = ++connections_;
        }
        clients_.push_back(std::make_shared<Connection>(*this, std::move(socket), line));
        countClients();
        if (options_.onEvent)
            options_.onEvent(line, "client connected");
        clients_.back()->read();
        accept();
    });
}

void AdapterServer::stop()
{
    runOnThread([this] {
        if (acceptor_) {
            asio::error_code ignored;
            acceptor_->close(ignored);
            acceptor_.reset();
        }
        closeAll();
    });
}

void AdapterServer::closeAll()
{
    for (const auto& client : clients_)
        client->close();
    clients_.clear();
    countClients();
}

void AdapterServer::forget(const Connection* connection)
{
    const auto it = std::find_if(clients_.begin(), clients_.end(), [connection](const auto& c) { return c.get() == connection; });
    if (it == clients_.end())
        return;
    if (options_.onEvent)
        options_.onEvent(connection->line, "client gone");
    clients_.erase(it);
    countClients();
}

void AdapterServer::dropClient()
{
    runOnThread([this] { closeAll(); });
}

void AdapterServer::send(std::vector<std::uint8_t> data)
{
    runOnThread([this, &data] {
        if (!clients_.empty())
            clients_.back()->sendData(data);
    });
}

void AdapterServer::send(int line, std::vector<std::uint8_t> data)
{
    runOnThread([this, line, &data] {
        for (const auto& client : clients_)
            if (client->line == line)
                client->sendData(data);
    });
}

std::vector<std::uint8_t> AdapterServer::received() const
{
    std::lock_guard lock(mutex_);
    return received_;
}

std::size_t AdapterServer::receivedCount() const
{
    std::lock_guard lock(mutex_);
    return received_.size();
}

AdapterProtocol::Settings AdapterServer::settings() const
{
    std::lock_guard lock(mutex_);
    return settings_;
}

std::vector<std::uint8_t> AdapterServer::received(int line) const
{
    std::lock_guard lock(mutex_);
    const auto it = lines_.find(line);
    return it == lines_.end() ? std::vector<std::uint8_t>() : it->second.received;
}

AdapterProtocol::Settings AdapterServer::settings(int line) const
{
    std::lock_guard lock(mutex_);
    const auto it = lines_.find(line);
    return it == lines_.end() ? AdapterProtocol::Settings() : it->second.settings;
}

std::vector<rfc2217::Message> AdapterServer::commands(int line) const
{
    std::lock_guard lock(mutex_);
    const auto it = lines_.find(line);
    return it == lines_.end() ? std::vector<rfc2217::Message>() : it->second.commands;
}

std::vector<std::size_t> AdapterServer::dataBeforeCommands(int line) const
{
    std::lock_guard lock(mutex_);
    const auto it = lines_.find(line);
    return it == lines_.end() ? std::vector<std::size_t>() : it->second.dataBeforeCommands;
}

int AdapterServer::clients() const
{
    std::lock_guard lock(mutex_);
    return clientsNow_;
}

void AdapterServer::countClients()
{
    {
        std::lock_guard lock(mutex_);
        clientsNow_ = static_cast<int>(clients_.size());
    }
    changed_.notify_all();
}

int AdapterServer::connections() const
{
    std::lock_guard lock(mutex_);
    return connections_;
}

bool AdapterServer::comPortEnabled() const
{
    std::lock_guard lock(mutex_);
    return comPortEnabled_;
}

bool AdapterServer::waitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return pred();  // without the lock: pred() takes it through the accessors
        std::unique_lock lock(mutex_);
        changed_.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(20)));
    }
    return true;
}

}  // namespace vsp

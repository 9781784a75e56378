#include "AdapterServer.h"

#include <future>

namespace vsp {

struct AdapterServer::Connection : std::enable_shared_from_this<Connection> {
    Connection(AdapterServer& server, asio::ip::tcp::socket socket)
        : server(server), socket(std::move(socket)), protocol(server.options_.refuseComPort)
    {
    }

    void read()
    {
        socket.async_read_some(asio::buffer(buffer), [self = shared_from_this()](const asio::error_code& error, std::size_t n) {
            if (error) {
                self->close();
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
        if (server.options_.telnet)
            protocol.receive({buffer.data(), n}, data, reply);
        else
            data.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
        {
            std::lock_guard lock(server.mutex_);
            server.received_.insert(server.received_.end(), data.begin(), data.end());
            server.settings_ = protocol.settings();
            server.comPortEnabled_ = protocol.comPortEnabled();
        }
        server.changed_.notify_all();
        if (!reply.empty())
            write(std::move(reply));
        if (protocol.settingsCount() != settingsSeen) {
            settingsSeen = protocol.settingsCount();
            if (server.options_.onSettings)
                server.options_.onSettings(protocol.settings());
        }
        if (server.options_.echo && !data.empty())
            sendData(data);
    }

    void sendData(const std::vector<std::uint8_t>& data)
    {
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
    std::uint64_t settingsSeen = 0;
    std::array<std::uint8_t, 16384> buffer{};
};

AdapterServer::AdapterServer(Options options) : options_(std::move(options))
{
    work_.emplace(io_.get_executor());
    thread_ = std::thread([this] { io_.run(); });
    start();
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
        if (client_)
            client_->close();  // one client at a time, like a single-port adapter
        client_ = std::make_shared<Connection>(*this, std::move(socket));
        {
            std::lock_guard lock(mutex_);
            ++connections_;
        }
        changed_.notify_all();
        if (options_.onEvent)
            options_.onEvent("client connected");
        client_->read();
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
        if (client_)
            client_->close();
        client_.reset();
    });
}

void AdapterServer::dropClient()
{
    runOnThread([this] {
        if (client_)
            client_->close();
        client_.reset();
    });
}

void AdapterServer::send(std::vector<std::uint8_t> data)
{
    runOnThread([this, &data] {
        if (client_)
            client_->sendData(data);
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
        std::unique_lock lock(mutex_);
        if (changed_.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(20))) ==
                std::cv_status::timeout &&
            std::chrono::steady_clock::now() >= deadline)
            return pred();
    }
    return true;
}

}  // namespace vsp

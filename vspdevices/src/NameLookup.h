// Host name look-ups for the connections, none of which may hold up another or
// the library's thread:
//  - an IP address (v4 or v6) is taken as it is, never looked up;
//  - a name is looked up on a thread of its own (the system's look-up blocks), and
//    the answer comes back on the I/O thread;
//  - a look-up has a time limit; past it the caller gets timed_out. The thread
//    keeps waiting for the system, and a later start() for the same name waits for
//    that thread rather than starting another, so a name behind a dead DNS server
//    costs one thread, not one per retry;
//  - cancel() and destruction are immediate: a look-up still running afterwards
//    finds its owner gone and touches nothing of it.
#pragma once

#include <asio.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace vsp {

class NameLookup {
public:
    using Endpoints = std::vector<asio::ip::tcp::endpoint>;
    using Handler = std::function<void(const std::error_code&, const Endpoints&)>;
    // Looks host:port up and waits for the answer, as getaddrinfo does.
    using Blocking = std::function<std::error_code(const std::string& host, std::uint16_t port, Endpoints& out)>;
    static constexpr auto timeLimit = std::chrono::seconds(10);

    explicit NameLookup(asio::io_context& io, Blocking blocking = systemLookup);
    ~NameLookup();
    NameLookup(const NameLookup&) = delete;
    NameLookup& operator=(const NameLookup&) = delete;

    // Calls handler once on the I/O thread (never from within start()), unless
    // cancelled or started again first.
    void start(const std::string& host, std::uint16_t port, Handler handler,
               std::chrono::milliseconds limit = timeLimit);
    void cancel();

    static std::error_code systemLookup(const std::string& host, std::uint16_t port, Endpoints& out);

private:
    struct Job;
    struct State;
    static void deliver(const std::weak_ptr<State>& weak, std::uint64_t request, const std::error_code& error,
                        const Endpoints& endpoints);

    asio::io_context& io_;
    Blocking blocking_;
    std::shared_ptr<State> state_;
    std::shared_ptr<Job> job_;
};

}  // namespace vsp

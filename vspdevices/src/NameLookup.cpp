#include "NameLookup.h"

#include <netdb.h>

#include <cstring>
#include <mutex>
#include <thread>

namespace vsp {

// One look-up thread's shared record. The thread posts its answer only while
// `wanted` holds; the owner clears it (under the mutex) before it goes away, so the
// thread never posts to an I/O context that is being torn down.
struct NameLookup::Job {
    std::mutex mutex;
    std::string host;
    std::uint16_t port = 0;
    bool running = true;
    bool wanted = false;
    std::uint64_t request = 0;
    std::weak_ptr<State> state;
};

// What the I/O thread knows of the current request.
struct NameLookup::State {
    explicit State(asio::io_context& io) : timer(io) {}
    asio::steady_timer timer;
    Handler handler;
    std::uint64_t request = 0;
};

NameLookup::NameLookup(asio::io_context& io, Blocking blocking)
    : io_(io), blocking_(std::move(blocking)), state_(std::make_shared<State>(io))
{
}

NameLookup::~NameLookup()
{
    cancel();
}

void NameLookup::deliver(const std::weak_ptr<State>& weak, std::uint64_t request, const std::error_code& error,
                         const Endpoints& endpoints)
{
    const auto state = weak.lock();
    if (!state || state->request != request || !state->handler)
        return;
    Handler handler = std::move(state->handler);
    state->handler = nullptr;
    state->timer.cancel();
    handler(error, endpoints);
}

void NameLookup::cancel()
{
    ++state_->request;
    state_->handler = nullptr;
    state_->timer.cancel();
    if (job_) {
        std::lock_guard lock(job_->mutex);
        job_->wanted = false;
    }
}

void NameLookup::start(const std::string& host, std::uint16_t port, Handler handler, std::chrono::milliseconds limit)
{
    cancel();
    state_->handler = std::move(handler);
    const std::uint64_t request = state_->request;
    const std::weak_ptr<State> weak = state_;

    asio::error_code notAddress;
    const asio::ip::address address = asio::ip::make_address(host, notAddress);
    if (!notAddress) {
        asio::post(io_, [weak, request, endpoint = asio::ip::tcp::endpoint(address, port)] {
            deliver(weak, request, {}, {endpoint});
        });
        return;
    }

    state_->timer.expires_after(limit);
    state_->timer.async_wait([weak, request](const asio::error_code& error) {
        if (!error)
            deliver(weak, request, asio::error::timed_out, {});
    });

    if (job_) {
        std::lock_guard lock(job_->mutex);
        if (job_->running && job_->host == host && job_->port == port) {
            job_->wanted = true;  // the thread still at it answers this request too
            job_->request = request;
            return;
        }
    }
    auto job = std::make_shared<Job>();
    job->host = host;
    job->port = port;
    job->wanted = true;
    job->request = request;
    job->state = weak;
    try {
        std::thread([job, blocking = blocking_, executor = io_.get_executor()] {
            Endpoints endpoints;
            const std::error_code error = blocking(job->host, job->port, endpoints);
            std::lock_guard lock(job->mutex);
            job->running = false;
            if (!job->wanted)
                return;
            job->wanted = false;
            asio::post(executor, [weak = job->state, request = job->request, error, endpoints = std::move(endpoints)] {
                deliver(weak, request, error, endpoints);
            });
        }).detach();
    } catch (const std::system_error& error) {
        asio::post(io_, [weak, request, code = error.code()] { deliver(weak, request, code, {}); });
        return;
    }
    job_ = std::move(job);
}

std::error_code NameLookup::systemLookup(const std::string& host, std::uint16_t port, Endpoints& out)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    addrinfo* list = nullptr;
    const int result = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
    if (result != 0) {
        switch (result) {
        case EAI_AGAIN: return asio::error::host_not_found_try_again;
        case EAI_NONAME:
#ifdef EAI_NODATA
        case EAI_NODATA:
#endif
            return asio::error::host_not_found;
        case EAI_MEMORY: return std::make_error_code(std::errc::not_enough_memory);
        default: return asio::error::no_recovery;
        }
    }
    for (const addrinfo* entry = list; entry; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET && entry->ai_family != AF_INET6)
            continue;
        asio::ip::tcp::endpoint endpoint;
        std::memcpy(endpoint.data(), entry->ai_addr, entry->ai_addrlen);
        out.push_back(endpoint);
    }
    ::freeaddrinfo(list);
    return out.empty() ? std::error_code(asio::error::host_not_found) : std::error_code();
}

}  // namespace vsp

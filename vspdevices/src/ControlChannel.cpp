#include "ControlChannel.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>

namespace vsp {

using control::Op;
using control::Status;
using Local = asio::local::stream_protocol;

struct ControlChannel::Client {
    explicit Client(Local::socket s) : socket(std::move(s)), breakTimer(socket.get_executor()) {}
    Local::socket socket;
    asio::steady_timer breakTimer;
    std::uint8_t in[control::recordSize] = {};
    std::uint8_t out[control::recordSize] = {};
    std::uint8_t diagnostics[control::diagnosticsRecordSize] = {};
    std::uint32_t waitMask = 0;  // input lines a WaitLines request waits on
    bool breaking = false;       // a timed break is on
};

std::string controlSocketPath(const std::string& linkPath)
{
    return linkPath + ".control";
}

std::shared_ptr<ControlChannel> ControlChannel::create(asio::io_context& io, const std::string& linkPath)
{
    const std::string path = controlSocketPath(linkPath);
    if (path.size() >= sizeof(sockaddr_un::sun_path))
        return nullptr;
    // Only a socket is ours to replace: one left by an earlier run of this directory's
    // library (its lock is ours now). Anything else under the name stays.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode) || ::unlink(path.c_str()) != 0)
            return nullptr;
    }
    Local::acceptor acceptor(io);
    asio::error_code error;
    acceptor.open(Local(), error);
    if (!error)
        acceptor.bind(Local::endpoint(path), error);
    if (!error && ::chmod(path.c_str(), 0600) != 0)
        error = asio::error_code(errno, asio::system_category());
    if (!error)
        acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (!error && ::lstat(path.c_str(), &st) != 0)
        error = asio::error_code(errno, asio::system_category());
    if (error) {
        if (acceptor.is_open())
            ::unlink(path.c_str());
        return nullptr;
    }
    std::shared_ptr<ControlChannel> channel(new ControlChannel(io, path, st.st_ino));
    channel->acceptor_ = std::move(acceptor);
    channel->accept();
    return channel;
}

ControlChannel::ControlChannel(asio::io_context& io, std::string path, ino_t inode)
    : acceptor_(io), path_(std::move(path)), inode_(inode)
{
}

ControlChannel::~ControlChannel()
{
    close();
}

void ControlChannel::close()
{
    if (closed_)
        return;
    closed_ = true;
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_ino == inode_)
        ::unlink(path_.c_str());
    asio::error_code ignored;
    acceptor_.close(ignored);
    for (const auto& client : std::vector(clients_))
        forget(client);
}

void ControlChannel::accept()
{
    acceptor_.async_accept([self = shared_from_this()](const asio::error_code& error, Local::socket socket) {
        if (self->closed_ || error == asio::error::operation_aborted)
            return;
        if (!error) {
            ucred peer{};
            socklen_t size = sizeof peer;
            const bool sameUser = ::getsockopt(socket.native_handle(), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
                                  peer.uid == ::geteuid();
            if (sameUser && self->clients_.size() < maxClients) {
                auto client = std::make_shared<Client>(std::move(socket));
                self->clients_.push_back(client);
                self->readRequest(client);
            }  // otherwise the socket closes here
        }
        self->accept();
    });
}

void ControlChannel::readRequest(const std::shared_ptr<Client>& client)
{
    asio::async_read(client->socket, asio::buffer(client->in),
                     [self = shared_from_this(), client](const asio::error_code& error, std::size_t) {
                         if (self->closed_)
                             return;
                         if (error) {
                             self->forget(client);  // hung up, possibly mid-record
                             return;
                         }
                         const auto request = control::decodeRequest(client->in, sizeof client->in);
                         if (!request) {
                             self->reply(client, Op::Query, Status::Refused, true);
                             return;
                         }
                         self->handle(client, *request);
                     });
}

void ControlChannel::handle(const std::shared_ptr<Client>& client, const control::Request& request)
{
    if (request.op == Op::Diagnose) {
        replyDiagnostics(client);
        return;
    }
    const auto target = target_.lock();
    if (!target) {
        reply(client, request.op, Status::Unavailable);
        return;
    }
    switch (request.op) {
    case Op::Query: break;
    case Op::SetLines: target->controlSetLines(request.a, request.b); break;
    case Op::SetFraming:
        target->controlSetFraming(static_cast<std::uint8_t>(request.a), static_cast<std::uint8_t>(request.b));
        break;
    case Op::Break:
        if (request.a == control::breakTimed) {
            startTimedBreak(client, request.b);
            return;
        }
        target->controlSetBreak(request.a == control::breakOn);
        break;
    case Op::WaitLines: startWait(client, request.a); return;
    case Op::Diagnose: break;  // answered above
    }
    reply(client, request.op, Status::Ok);
}

void ControlChannel::startWait(const std::shared_ptr<Client>& client, std::uint32_t mask)
{
    client->waitMask = mask;
    // Nothing may come from the client while it waits: readable means it hung up
    // (or broke the protocol), and either ends it now rather than at the next change.
    client->socket.async_wait(Local::socket::wait_read, [self = shared_from_this(), client](const asio::error_code& error) {
        if (!self->closed_ && !error && client->waitMask != 0)
            self->forget(client);
    });
}

void ControlChannel::startTimedBreak(const std::shared_ptr<Client>& client, std::uint32_t ms)
{
    if (const auto target = target_.lock())
        target->controlSetBreak(true);
    client->breaking = true;
    client->breakTimer.expires_after(std::chrono::milliseconds(ms));
    // The break ends on time even when the client has gone meanwhile; only closing
    // the port ends it early.
    client->breakTimer.async_wait([self = shared_from_this(), client](const asio::error_code& error) {
        client->breaking = false;
        if (const auto target = self->target_.lock())
            target->controlSetBreak(false);
        if (!error && !self->closed_ && client->socket.is_open())
            self->reply(client, Op::Break, Status::Ok);
    });
}

void ControlChannel::setTarget(const std::shared_ptr<PortControl>& target)
{
    if (target_.lock() == target)
        return;
    target_ = target;
    for (const auto& client : std::vector(clients_))
        if (client->waitMask != 0) {
            client->waitMask = 0;
            reply(client, Op::WaitLines, Status::Gone);
        }
    if (target)
        target->controlObserve([weak = weak_from_this()](std::uint32_t changed) {
            if (const auto self = weak.lock())
                self->linesChanged(changed);
        });
}

void ControlChannel::linesChanged(std::uint32_t changed)
{
    for (const auto& client : std::vector(clients_))
        if (client->waitMask & changed) {
            client->waitMask = 0;
            reply(client, Op::WaitLines, Status::Ok);
        }
}

void ControlChannel::reply(const std::shared_ptr<Client>& client, Op op, Status status, bool thenClose)
{
    if (client->socket.is_open()) {
        asio::error_code ignored;
        client->socket.cancel(ignored);  // a wait's watch for a hang-up
    }
    control::Reply r;
    r.op = op;
    r.status = status;
    if (const auto target = target_.lock(); target && status == Status::Ok) {
        const PortControl::Status s = target->controlStatus();
        r.lines = s.lines & (control::outputLines | control::inputLines);
        r.counters = s.counters;
        r.dataBits = s.dataBits;
        r.parity = s.parity;
    }
    control::encode(r, client->out);
    asio::async_write(client->socket, asio::buffer(client->out),
                      [self = shared_from_this(), client, thenClose](const asio::error_code& error, std::size_t) {
                          if (self->closed_)
                              return;
                          if (error || thenClose)
                              self->forget(client);
                          else
                              self->readRequest(client);
                      });
}

namespace {
control::Diagnostics recordOf(const vsp_diagnostics& d)
{
    control::Diagnostics r;
    r.state = static_cast<std::uint8_t>(std::clamp<std::int32_t>(d.state, 0, control::maxConnectionState));
    r.errorKind = static_cast<std::uint8_t>(std::clamp<std::int32_t>(d.lastErrorKind, 0, control::maxErrorKind));
    r.portHeld = d.portHeld != 0;
    r.reconnects = d.reconnects;
    r.bytesToAdapter = d.bytesToAdapter;
    r.bytesFromAdapter = d.bytesFromAdapter;
    r.bytesDropped = d.bytesDropped;
    if (r.errorKind != 0) {
        r.lastErrorTimeMs = static_cast<std::uint64_t>(std::max<std::int64_t>(d.lastErrorTimeMs, 1));
        control::setText(r, d.lastErrorText, sizeof d.lastErrorText);
    }
    r.upTimeMs = static_cast<std::uint64_t>(std::max<std::int64_t>(d.upTimeMs, 0));
    return r;
}
}  // namespace

void ControlChannel::replyDiagnostics(const std::shared_ptr<Client>& client)
{
    control::Diagnostics record;
    if (const auto target = target_.lock())
        record = recordOf(target->controlDiagnostics());
    else
        record.status = Status::Unavailable;
    control::encode(record, client->diagnostics);
    asio::async_write(client->socket, asio::buffer(client->diagnostics),
                      [self = shared_from_this(), client](const asio::error_code& error, std::size_t) {
                          if (self->closed_)
                              return;
                          if (error)
                              self->forget(client);
                          else
                              self->readRequest(client);
                      });
}

void ControlChannel::forget(const std::shared_ptr<Client>& client)
{
    asio::error_code ignored;
    client->socket.close(ignored);
    client->waitMask = 0;
    if (client->breaking && closed_)
        client->breakTimer.cancel();  // the port goes: its handler ends the break now
    clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
}

}  // namespace vsp

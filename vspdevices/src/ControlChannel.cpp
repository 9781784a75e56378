#include "ControlChannel.h"

#include "vspdevices_control_diagnostics.h"
#include "vspdevices_descriptors.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace vsp {

using control::Op;
using control::Status;
using Local = asio::local::stream_protocol;

struct ControlChannel::Client {
    explicit Client(Local::socket s)
        : socket(std::move(s)), breakTimer(socket.get_executor()), deadline(socket.get_executor()),
          lastActive(std::chrono::steady_clock::now())
    {
    }
    Local::socket socket;
    asio::steady_timer breakTimer;
    asio::steady_timer deadline;  // runs while a request is half read or a reply half written
    std::uint64_t deadlineArming = 0;  // an expiry of an earlier arming is no longer meant
    std::chrono::steady_clock::time_point lastActive;  // the last request's end
    std::size_t got = 0;  // bytes of the current request read so far
    bool writing = false;  // a reply is on its way out
    std::uint8_t in[control::recordSize] = {};
    std::uint8_t out[control::recordSize] = {};
    std::uint8_t diagnostics[control::diagnosticsRecordSize] = {};
    std::uint8_t tls[control::tlsRecordSize] = {};
    std::uint32_t waitMask = 0;  // input lines a WaitLines request waits on
    bool draining = false;       // a Drain request waits for the output to leave
    bool breaking = false;       // a timed break is on
    // A monitor: records wait in `queued` while `sending` is written; together at
    // most monitorBuffer bytes, and what does not fit is counted in `lost`.
    bool monitor = false;
    std::vector<std::uint8_t> queued, sending;
    std::uint64_t lost = 0;

    bool waiting() const { return waitMask != 0 || draining; }
    // Between requests, with nothing half done: its place may go to a newcomer.
    bool idle() const { return got == 0 && !writing && !waiting() && !breaking && !monitor; }
};

namespace {
// One descriptor the process keeps in reserve, given up for a moment when an accept
// finds none left: the client then hears Busy instead of waiting in the queue.
std::mutex spareLock;
int spare = -1;

void keepSpare()
{
    std::lock_guard lock(spareLock);
    if (spare < 0)
        spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

// A last answer to a client about to be closed, written at once: nothing else is
// on its way to it, so the record fits the socket's buffer.
void sendLast(int fd, Op op, Status status, std::uint64_t terminal)
{
    control::Reply last;
    last.op = op;
    last.status = status;
    last.terminal = terminal;
    std::uint8_t record[control::recordSize];
    control::encode(last, record);
    static_cast<void>(::send(fd, record, sizeof record, MSG_NOSIGNAL | MSG_DONTWAIT));
}

// The line-state page: shared memory that only this process may write (later
// mappings are read-only), zero until the first publish.
int makePage(control::LineStatePage*& page)
{
    const int fd = ::memfd_create("vspdevices-lines", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0)
        return -1;
    void* memory = MAP_FAILED;
    if (::ftruncate(fd, control::pageSize) == 0)
        memory = ::mmap(nullptr, control::pageSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (memory == MAP_FAILED ||
        ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_FUTURE_WRITE | F_SEAL_SEAL) != 0) {
        if (memory != MAP_FAILED)
            ::munmap(memory, control::pageSize);
        ::close(fd);
        return -1;
    }
    page = new (memory) control::LineStatePage{};
    return fd;
}

bool outOfDescriptors(const asio::error_code& error)
{
    return error == asio::error::no_descriptors || error.value() == ENFILE || error == asio::error::no_buffer_space ||
           error == asio::error::no_memory;
}
}  // namespace

std::string controlSocketPath(const std::string& linkPath)
{
    return linkPath + ".control";
}

std::shared_ptr<ControlChannel> ControlChannel::create(asio::io_context& io, const std::string& linkPath)
{
    const std::string path = controlSocketPath(linkPath);
    if (path.size() >= sizeof(sockaddr_un::sun_path))
        return nullptr;
    // The terminal the port's link points at, made just before: every reply names it.
    struct stat st {};
    if (::stat(linkPath.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return nullptr;
    const std::uint64_t terminal = st.st_rdev;
    // Only a socket is ours to replace: one left by an earlier run of this directory's
    // library (its lock is ours now). Anything else under the name stays.
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode) || ::unlink(path.c_str()) != 0)
            return nullptr;
    }
    keepSpare();
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
    std::shared_ptr<ControlChannel> channel(new ControlChannel(io, path, st.st_ino, terminal));
    channel->acceptor_ = std::move(acceptor);
    channel->pageFd_ = makePage(channel->page_);  // without it, Watch is answered Unavailable
    channel->publish();
    channel->accept();
    return channel;
}

ControlChannel::ControlChannel(asio::io_context& io, std::string path, ino_t inode, std::uint64_t terminal)
    : acceptor_(io), acceptPauseTimer_(io), path_(std::move(path)), inode_(inode), terminal_(terminal)
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
    acceptPauseTimer_.cancel();
    for (const auto& client : std::vector(clients_))
        forget(client);
    publish();  // Gone: a program that still holds the page sees its port went away
    if (page_) {
        ::munmap(page_, control::pageSize);
        ::close(pageFd_);
        page_ = nullptr;
        pageFd_ = -1;
    }
}

void ControlChannel::accept()
{
    acceptor_.async_accept([self = shared_from_this()](const asio::error_code& error, Local::socket socket) {
        if (self->closed_ || error == asio::error::operation_aborted)
            return;
        if (!error)
            self->accepted(std::move(socket));
        else if (outOfDescriptors(error)) {
            self->acceptWithoutDescriptors();  // goes on accepting from there
            return;
        }
        self->accept();
    });
}

void ControlChannel::accepted(Local::socket socket)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(socket.native_handle(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid())
        return;  // not the port's user: the socket closes here
    if (clients_.size() >= maxClients && !makeRoom()) {
        sendLast(socket.native_handle(), Op::Query, Status::Busy, terminal_);
        return;
    }
    auto client = std::make_shared<Client>(std::move(socket));
    clients_.push_back(client);
    readRequest(client);
}

void ControlChannel::acceptWithoutDescriptors()
{
    // An accept fails at once while the process has no descriptor left, whether a
    // client waits or not: trying again at once would spin. A waiting client is
    // taken with the spare descriptor and told Busy; with none waiting, the channel
    // waits for one to come (then descriptors may have been freed meanwhile).
    // Without a spare (another thread took the freed slot), accepting pauses.
    enum { Refused, NoneWaiting, Failed } outcome = Failed;
    {
        std::lock_guard lock(spareLock);
        if (spare < 0)
            spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (spare >= 0) {
            ::close(spare);
            const int fd = ::accept4(acceptor_.native_handle(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd >= 0) {
                sendLast(fd, Op::Query, Status::Busy, terminal_);
                ::close(fd);
                outcome = Refused;
            } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
                outcome = NoneWaiting;
            }
            spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        }
    }
    if (outcome == Refused) {
        accept();
    } else if (outcome == NoneWaiting) {
        acceptor_.async_wait(Local::acceptor::wait_read, [self = shared_from_this()](const asio::error_code& error) {
            if (!error && !self->closed_)
                self->accept();
        });
    } else {
        acceptPauseTimer_.expires_after(acceptPause);
        acceptPauseTimer_.async_wait([self = shared_from_this()](const asio::error_code& error) {
            if (!error && !self->closed_)
                self->accept();
        });
    }
}

bool ControlChannel::makeRoom()
{
    // The client idle longest goes (a launched program's idle connection is made
    // again on its next request); else the longest wait ends, answered Gone.
    std::shared_ptr<Client> idlest, oldestWait;
    for (const auto& client : clients_) {
        if (client->idle() && (!idlest || client->lastActive < idlest->lastActive))
            idlest = client;
        if (client->waiting() && !client->writing && (!oldestWait || client->lastActive < oldestWait->lastActive))
            oldestWait = client;
    }
    if (idlest) {
        forget(idlest);
        return true;
    }
    if (!oldestWait)
        return false;  // each is in mid-record, mid-reply or a break: all end in bounded time
    sendLast(oldestWait->socket.native_handle(), oldestWait->draining ? Op::Drain : Op::WaitLines, Status::Gone, terminal_);
    forget(oldestWait);
    return true;
}

void ControlChannel::armDeadline(const std::shared_ptr<Client>& client)
{
    const std::uint64_t arming = ++client->deadlineArming;
    client->deadline.expires_after(stallLimit);
    client->deadline.async_wait([self = shared_from_this(), client, arming](const asio::error_code& error) {
        if (!error && !self->closed_ && client->deadlineArming == arming)
            self->forget(client);  // stalled in mid-record or not reading its replies
    });
}

void ControlChannel::disarmDeadline(const std::shared_ptr<Client>& client)
{
    ++client->deadlineArming;
    client->deadline.cancel();
}

void ControlChannel::readRequest(const std::shared_ptr<Client>& client)
{
    client->got = 0;
    client->lastActive = std::chrono::steady_clock::now();
    readMore(client);
}

void ControlChannel::readMore(const std::shared_ptr<Client>& client)
{
    client->socket.async_read_some(
        asio::buffer(client->in + client->got, sizeof client->in - client->got),
        [self = shared_from_this(), client](const asio::error_code& error, std::size_t n) {
            if (self->closed_)
                return;
            if (error) {
                self->forget(client);  // hung up, possibly mid-record
                return;
            }
            if (client->got == 0)
                self->armDeadline(client);  // a record has begun: the rest must follow soon
            client->got += n;
            if (client->got < sizeof client->in) {
                self->readMore(client);
                return;
            }
            self->disarmDeadline(client);
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
    if (request.op == Op::Diagnose || request.op == Op::Tls) {
        replyDiagnostics(client, request.op);
        return;
    }
    if (request.op == Op::Monitor) {
        startMonitor(client);
        return;
    }
    if (request.terminal != terminal_) {
        // The client holds another terminal: a port that went away under this name.
        reply(client, request.op, Status::Gone);
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
    case Op::WaitLines: startWait(client, request.a, false); return;
    case Op::Drain:
        if (!target->controlOutputLeft()) {
            startWait(client, 0, true);
            return;
        }
        break;
    case Op::Watch: replyWithPage(client); return;
    case Op::Diagnose: case Op::Monitor: case Op::Tls: break;  // answered above
    }
    reply(client, request.op, Status::Ok);
}

void ControlChannel::startWait(const std::shared_ptr<Client>& client, std::uint32_t mask, bool drain)
{
    client->waitMask = mask;
    client->draining = drain;
    // Nothing may come from the client while it waits: readable means it hung up
    // (or broke the protocol), and either ends it now rather than at the next change.
    client->socket.async_wait(Local::socket::wait_read, [self = shared_from_this(), client](const asio::error_code& error) {
        if (!self->closed_ && !error && client->waiting())
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
    if (const auto old = target_.lock())
        for (const auto& client : clients_)
            if (client->monitor)
                old->controlTap().detach(client.get());
    target_ = target;
    for (const auto& client : clients_)
        if (client->monitor)
            tapFor(client);
    for (const auto& client : std::vector(clients_))
        if (client->waiting()) {
            const Op op = client->draining ? Op::Drain : Op::WaitLines;
            client->waitMask = 0;
            client->draining = false;
            reply(client, op, Status::Gone);
        }
    if (target)
        target->controlObserve([weak = weak_from_this()](std::uint32_t changed) {
            if (const auto self = weak.lock())
                self->stateChanged(changed);
        });
    publish();
}

void ControlChannel::stateChanged(std::uint32_t inputsMoved)
{
    publish();
    const auto target = target_.lock();
    if (target && target->controlTap().active())
        target->controlTap().state(target->controlPortState());
    bool draining = false;
    for (const auto& client : clients_)
        draining = draining || client->draining;
    const bool pending = draining && target && !target->controlOutputLeft();  // asked only when someone waits
    for (const auto& client : std::vector(clients_)) {
        if (client->waitMask & inputsMoved) {
            client->waitMask = 0;
            reply(client, Op::WaitLines, Status::Ok);
        } else if (client->draining && !pending) {
            client->draining = false;
            reply(client, Op::Drain, Status::Ok);
        }
    }
}

namespace {
control::LineState stateOf(const PortControl::Status& s, std::uint64_t terminal)
{
    control::LineState state;
    state.status = Status::Ok;
    state.lines = s.lines & (control::outputLines | control::inputLines);
    state.counters = s.counters;
    state.dataBits = s.dataBits;
    state.parity = s.parity;
    state.flags = s.outputQueued ? control::replyOutputPending : 0;
    state.terminal = terminal;
    return state;
}
}  // namespace

void ControlChannel::publish()
{
    if (!page_)
        return;
    control::LineState state;
    state.terminal = terminal_;
    if (closed_)
        state.status = Status::Gone;
    else if (const auto target = target_.lock())
        state = stateOf(target->controlStatus(), terminal_);
    control::LineState now;
    if (control::readLineState(*page_, now) && now.status == state.status && now.lines == state.lines &&
        now.counters.cts == state.counters.cts && now.counters.dsr == state.counters.dsr &&
        now.counters.ring == state.counters.ring && now.counters.dcd == state.counters.dcd &&
        now.dataBits == state.dataBits && now.parity == state.parity && now.flags == state.flags)
        return;  // most calls come with each write of data and change nothing here
    control::writeLineState(*page_, state);
}

// The reply to Watch carries the page's descriptor. The client has just sent its
// request and waits for this answer, so the record goes out at once or never.
void ControlChannel::replyWithPage(const std::shared_ptr<Client>& client)
{
    if (pageFd_ < 0) {
        reply(client, Op::Watch, Status::Unavailable);
        return;
    }
    control::Reply r;
    r.op = Op::Watch;
    r.terminal = terminal_;
    control::encode(r, client->out);
    if (sendWithDescriptor(client->socket.native_handle(), client->out, sizeof client->out, pageFd_, MSG_DONTWAIT) !=
        static_cast<ssize_t>(sizeof client->out)) {
        forget(client);
        return;
    }
    readRequest(client);
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
        const control::LineState s = stateOf(target->controlStatus(), terminal_);
        r.lines = s.lines;
        r.counters = s.counters;
        r.dataBits = s.dataBits;
        r.parity = s.parity;
        // A Query's answer counts the terminal too: it is asked when the page cannot know.
        r.flags = op == Op::Query && !target->controlOutputLeft() ? control::replyOutputPending : 0;
    }
    r.terminal = terminal_;
    control::encode(r, client->out);
    client->writing = true;
    armDeadline(client);  // a client that does not read its replies is dropped
    asio::async_write(client->socket, asio::buffer(client->out),
                      [self = shared_from_this(), client, thenClose](const asio::error_code& error, std::size_t) {
                          client->writing = false;
                          if (self->closed_)
                              return;
                          self->disarmDeadline(client);
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

control::Tls tlsRecordOf(const vsp_diagnostics& d)
{
    control::Tls r;
    r.tls = d.tls != 0;
    if (r.tls) {
        control::detail::putText(r.version, sizeof r.version, d.tlsVersion, sizeof d.tlsVersion);
        control::detail::putText(r.subject, sizeof r.subject, d.peerSubject, sizeof d.peerSubject);
        control::detail::putText(r.fingerprint, sizeof r.fingerprint, d.peerFingerprint, sizeof d.peerFingerprint);
    }
    return r;
}
}  // namespace

// A Diagnose or Tls request's answer: its record of the connection's diagnostics.
void ControlChannel::replyDiagnostics(const std::shared_ptr<Client>& client, Op op)
{
    const auto target = target_.lock();
    asio::mutable_buffer record;
    if (op == Op::Tls) {
        control::Tls tls;
        if (target)
            tls = tlsRecordOf(target->controlDiagnostics());
        else
            tls.status = Status::Unavailable;
        control::encode(tls, client->tls);
        record = asio::buffer(client->tls);
    } else {
        control::Diagnostics diagnostics;
        if (target)
            diagnostics = recordOf(target->controlDiagnostics());
        else
            diagnostics.status = Status::Unavailable;
        control::encode(diagnostics, client->diagnostics);
        record = asio::buffer(client->diagnostics);
    }
    client->writing = true;
    armDeadline(client);
    asio::async_write(client->socket, record,
                      [self = shared_from_this(), client](const asio::error_code& error, std::size_t) {
                          client->writing = false;
                          if (self->closed_)
                              return;
                          self->disarmDeadline(client);
                          if (error)
                              self->forget(client);
                          else
                              self->readRequest(client);
                      });
}

void ControlChannel::forget(const std::shared_ptr<Client>& client)
{
    if (client->monitor)
        if (const auto target = target_.lock())
            target->controlTap().detach(client.get());
    asio::error_code ignored;
    client->socket.close(ignored);
    client->deadline.cancel();
    client->waitMask = 0;
    client->draining = false;
    if (client->breaking && closed_)
        client->breakTimer.cancel();  // the port goes: its handler ends the break now
    clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
}

// A monitor is answered Ok in its first record and then only gets records. It is
// never dropped for not reading: its records are, and it hears how many.
void ControlChannel::startMonitor(const std::shared_ptr<Client>& client)
{
    const auto monitors = std::count_if(clients_.begin(), clients_.end(), [](const auto& c) { return c->monitor; });
    if (static_cast<std::size_t>(monitors) >= monitor::maxMonitors) {
        reply(client, Op::Monitor, Status::Busy, true);
        return;
    }
    client->monitor = true;
    control::Reply r;
    r.op = Op::Monitor;
    r.terminal = terminal_;
    control::encode(r, client->out);
    client->queued.assign(std::begin(client->out), std::end(client->out));
    tapFor(client);
    sendQueued(client);
    // Nothing may come from a monitor: readable means it hung up (or broke the protocol).
    client->socket.async_wait(Local::socket::wait_read, [self = shared_from_this(), client](const asio::error_code& error) {
        if (!self->closed_ && !error)
            self->forget(client);
    });
}

void ControlChannel::tapFor(const std::shared_ptr<Client>& client)
{
    const auto target = target_.lock();
    if (!target)
        return;
    const auto monitor = [weak = weak_from_this(), client = std::weak_ptr(client)] {
        auto self = weak.lock();
        auto held = client.lock();
        return std::pair(self, held && self ? held : nullptr);
    };
    target->controlTap().attach(client.get(), {[monitor](std::size_t size) {
                                                   const auto [self, held] = monitor();
                                                   return held && self->fits(held, size);
                                               },
                                               [monitor](std::span<const std::uint8_t> record) {
                                                   const auto [self, held] = monitor();
                                                   if (held)
                                                       self->queueFitting(held, record);
                                               }});
    // It starts from the connection up now (with the time it was made) and the
    // lines and settings as they stand.
    if (const auto& connection = target->controlTap().currentConnection(); !connection.empty())
        queueRecord(client, connection);
    const auto state = TrafficTap::stateRecord(target->controlPortState());
    queueRecord(client, state);
}

// Whether a record fits the monitor's queue; one that does not is counted as lost.
bool ControlChannel::fits(const std::shared_ptr<Client>& client, std::size_t size)
{
    const std::size_t held = client->queued.size() + client->sending.size();
    if (held + size + (client->lost ? lostRecordSize : 0) > monitor::monitorBuffer) {
        ++client->lost;
        return false;
    }
    return true;
}

void ControlChannel::queueRecord(const std::shared_ptr<Client>& client, std::span<const std::uint8_t> record)
{
    if (fits(client, record.size()))
        queueFitting(client, record);
}

void ControlChannel::queueFitting(const std::shared_ptr<Client>& client, std::span<const std::uint8_t> record)
{
    queueLost(client);
    client->queued.insert(client->queued.end(), record.begin(), record.end());
    sendQueued(client);
}

// How many records were dropped, told before the next record or once the queue
// has drained, whichever comes first.
void ControlChannel::queueLost(const std::shared_ptr<Client>& client)
{
    if (!client->lost)
        return;
    std::uint8_t lost[lostRecordSize];
    monitor::encodeHeader({monitor::Kind::Lost, monitor::Direction::ToDevice, TrafficTap::nowUs(), 8}, lost);
    control::detail::put64(lost + monitor::headerSize, client->lost);
    client->queued.insert(client->queued.end(), std::begin(lost), std::end(lost));
    client->lost = 0;
}

void ControlChannel::sendQueued(const std::shared_ptr<Client>& client)
{
    if (client->writing || client->queued.empty())
        return;
    client->sending.swap(client->queued);
    client->queued.clear();
    client->writing = true;
    asio::async_write(client->socket, asio::buffer(client->sending),
                      [self = shared_from_this(), client](const asio::error_code& error, std::size_t) {
                          client->writing = false;
                          client->sending.clear();
                          if (self->closed_)
                              return;
                          if (error) {
                              self->forget(client);
                              return;
                          }
                          // Both buffers keep their capacity (at most about twice the
                          // queue's bound each), so a steady stream copies each record once.
                          self->queueLost(client);
                          self->sendQueued(client);
                      });
}

}  // namespace vsp

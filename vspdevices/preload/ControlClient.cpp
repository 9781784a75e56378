#include "ControlClient.h"

#include "vspdevices_descriptors.h"
#include "PortLookup.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

namespace vsp::preload {
namespace {

struct Connection {
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
    int fd = -1;
};
Connection connections[256];  // by COM number

long long nowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

enum class Ready { Yes, TimedOut, Interrupted, Failed };

// Waits for fd to become ready. A signal does not end a limited wait early (the
// request is short); it ends an unlimited one, as the serial driver's wait would,
// and so does the caller's no longer wanting it.
Ready waitReady(int fd, short events, long long deadline, Wait wait, const StillWanted* stillWanted = nullptr)
{
    for (;;) {
        int timeout = wait == Wait::Unlimited ? -1 : static_cast<int>(deadline - nowMs());
        if (wait == Wait::Limited && timeout <= 0)
            return Ready::TimedOut;
        if (wait == Wait::Unlimited && stillWanted)
            timeout = stillWanted->checkMs;
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, timeout);
        if (n > 0)
            return (p.revents & events) != 0 ? Ready::Yes : Ready::Failed;
        if (n < 0 && errno == EINTR && wait == Wait::Unlimited)
            return Ready::Interrupted;
        if (n < 0 && errno != EINTR)
            return Ready::Failed;
        if (n == 0 && wait == Wait::Unlimited && stillWanted && !stillWanted->wanted(stillWanted->context))
            return Ready::Interrupted;
    }
}

int connectTo(int com)
{
    char dir[256];
    if (!portDirectory(dir, sizeof dir))
        return -1;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const int n = snprintf(address.sun_path, sizeof address.sun_path, "%s/COM%d.control", dir, com);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof address.sun_path)
        return -1;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    // A Unix socket connects at once or not at all (no listener, or its queue full).
    // Only the port's own user may answer for it.
    ucred peer{};
    socklen_t size = sizeof peer;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == geteuid())
        return fd;
    close(fd);
    return -1;
}

// A channel that cannot take this client answers Busy as it takes the connection
// and hangs up, possibly before the request went out: the answer is there to read.
Answer refusal(int fd)
{
    std::uint8_t in[control::recordSize];
    if (recv(fd, in, sizeof in, MSG_DONTWAIT) != static_cast<ssize_t>(sizeof in))
        return {};
    const auto decoded = control::decodeReply(in, sizeof in);
    if (!decoded || decoded->status != control::Status::Busy)
        return {};
    return {Answer::Busy, *decoded};
}

Answer exchange(int fd, const control::Request& request, dev_t terminal, long long deadline, Wait wait,
                const StillWanted* stillWanted = nullptr)
{
    control::Request mine = request;
    mine.terminal = terminal;  // the channel acts only for the terminal it serves
    std::uint8_t out[control::recordSize];
    control::encode(mine, out);
    size_t sent = 0;
    while (sent < sizeof out) {
        const ssize_t n = send(fd, out + sent, sizeof out - sent, MSG_NOSIGNAL);
        if (n > 0)
            sent += static_cast<size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else if (!(n < 0 && errno == EAGAIN && waitReady(fd, POLLOUT, deadline, Wait::Limited) == Ready::Yes))
            return refusal(fd);
    }
    std::uint8_t in[control::recordSize];
    size_t got = 0;
    while (got < sizeof in) {
        const Ready ready = waitReady(fd, POLLIN, deadline, wait, stillWanted);
        if (ready == Ready::Interrupted)
            return {Answer::Interrupted, {}};
        if (ready != Ready::Yes && !(ready == Ready::Failed && wait == Wait::Unlimited))
            return {};
        const ssize_t n = recv(fd, in + got, sizeof in - got, 0);
        if (n > 0)
            got += static_cast<size_t>(n);
        else if (n == 0 || (errno != EINTR && errno != EAGAIN))
            return {wait == Wait::Unlimited ? Answer::HungUp : Answer::None, {}};
    }
    const auto decoded = control::decodeReply(in, sizeof in);
    if (!decoded)
        return {};
    if (decoded->status == control::Status::Busy)
        return {Answer::Busy, *decoded};  // said at once, whatever was asked
    if (decoded->op != request.op)
        return {};
    if (decoded->terminal != static_cast<std::uint64_t>(terminal))
        return {Answer::DeadPort, *decoded};
    return {Answer::Replied, *decoded};
}

}  // namespace

Answer ask(const Port& port, const control::Request& request, int timeLimitMs, Wait wait, const StillWanted* stillWanted)
{
    const int com = port.com;
    if (com <= 0 || com > 255)
        return {};
    const long long deadline = nowMs() + timeLimitMs;
    if (wait == Wait::Unlimited || (request.op == control::Op::Break && request.a == control::breakTimed)) {
        // A connection of its own, closed afterwards: the server ends a wait whose
        // client hangs up, so an interrupted wait leaves nothing behind.
        const int fd = connectTo(com);
        if (fd < 0)
            return {};
        const Answer answer = exchange(fd, request, port.terminal, deadline, wait, stillWanted);
        close(fd);
        return answer;
    }
    Connection& c = connections[com];
    pthread_mutex_lock(&c.lock);
    Answer answer;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool fresh = c.fd < 0;
        if (fresh)
            c.fd = connectTo(com);
        if (c.fd < 0)
            break;
        answer = exchange(c.fd, request, port.terminal, deadline, wait);
        if (answer.kind == Answer::Replied || answer.kind == Answer::DeadPort)
            break;  // a channel that answers: it stays for the next request
        close(c.fd);
        c.fd = -1;
        if (fresh)
            break;  // a new connection failed: the channel is not there, or cannot take us
    }
    pthread_mutex_unlock(&c.lock);
    return answer;
}

namespace {

struct PageSlot {
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
    const control::LineStatePage* page = nullptr;
    int channel = -1;           // the connection that asked for it: its hang-up means the library ended
    long long checkedMs = 0;    // when the channel was last looked at
    long long retryAfterMs = 0;  // after a refusal, the next try
};
PageSlot pages[256];  // by COM number

void dropPage(PageSlot& slot)
{
    if (slot.page)
        munmap(const_cast<control::LineStatePage*>(slot.page), control::pageSize);
    if (slot.channel >= 0)
        close(slot.channel);
    slot.page = nullptr;
    slot.channel = -1;
}

// Asks the port's channel for its page on a connection of its own, kept open.
void watch(PageSlot& slot, const Port& port)
{
    const int fd = connectTo(port.com);
    if (fd < 0)
        return;
    control::Request request{control::Op::Watch, 0, 0, static_cast<std::uint64_t>(port.terminal)};
    std::uint8_t out[control::recordSize];
    control::encode(request, out);
    std::uint8_t in[control::recordSize];
    int memory = -1;
    ssize_t got = -1;
    if (send(fd, out, sizeof out, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof out) &&
        waitReady(fd, POLLIN, nowMs() + 1000, Wait::Limited) == Ready::Yes)
        got = receiveWithDescriptor(fd, in, sizeof in, &memory, MSG_DONTWAIT);
    const auto reply = got == static_cast<ssize_t>(sizeof in) ? control::decodeReply(in, sizeof in) : std::nullopt;
    void* mapped = MAP_FAILED;
    struct stat st {};
    if (memory >= 0 && reply && reply->op == control::Op::Watch && reply->status == control::Status::Ok &&
        reply->terminal == static_cast<std::uint64_t>(port.terminal) && fstat(memory, &st) == 0 && S_ISREG(st.st_mode) &&
        st.st_size >= static_cast<off_t>(control::pageSize))
        mapped = mmap(nullptr, control::pageSize, PROT_READ, MAP_SHARED, memory, 0);
    if (memory >= 0)
        close(memory);
    if (mapped == MAP_FAILED) {
        close(fd);
        return;
    }
    slot.page = static_cast<const control::LineStatePage*>(mapped);
    slot.channel = fd;
    slot.checkedMs = nowMs();
}

// The library that served the page is still there: its connection is open.
bool channelAlive(int fd)
{
    char byte;
    const ssize_t n = recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
}

}  // namespace

bool lineState(const Port& port, control::LineState& state)
{
    static int pagesWanted = -1;  // looked up once; threads that race find the same
    int wanted = __atomic_load_n(&pagesWanted, __ATOMIC_RELAXED);
    if (wanted < 0) {
        const char* setting = getenv("QUORLINVCP_LINE_PAGE");
        wanted = !(setting && !strcmp(setting, "0"));
        __atomic_store_n(&pagesWanted, wanted, __ATOMIC_RELAXED);
    }
    if (port.com <= 0 || port.com > 255 || !wanted)
        return false;
    PageSlot& slot = pages[port.com];
    const int saved = errno;
    pthread_mutex_lock(&slot.lock);
    const long long now = nowMs();
    if (slot.page && now - slot.checkedMs >= pageCheckMs) {
        slot.checkedMs = now;
        if (!channelAlive(slot.channel))
            dropPage(slot);
    }
    if (!slot.page && now >= slot.retryAfterMs) {
        watch(slot, port);
        if (!slot.page)
            slot.retryAfterMs = now + 1000;  // no page to be had now: ask meanwhile
    }
    bool read = slot.page && control::readLineState(*slot.page, state) &&
                state.terminal == static_cast<std::uint64_t>(port.terminal);
    if (slot.page && (!read || state.status == control::Status::Gone)) {
        dropPage(slot);  // another terminal's, or its port went away: asking tells which
        read = false;
    }
    pthread_mutex_unlock(&slot.lock);
    errno = saved;
    return read;
}

void resetConnectionsAfterFork()
{
    for (Connection& c : connections) {
        pthread_mutex_init(&c.lock, nullptr);
        if (c.fd >= 0)
            close(c.fd);  // the parent's; it keeps its own copy
        c.fd = -1;
    }
    // The pages stay mapped and their channels open (both shared with the parent).
    for (PageSlot& slot : pages)
        pthread_mutex_init(&slot.lock, nullptr);
}

}  // namespace vsp::preload

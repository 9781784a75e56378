// The connection against peers no well-made adapter resembles: one that floods
// negotiations and never reads, one that accepts and closes at once, one that never
// answers a connection attempt. Real library, scripted peers on loopback.
#include "support/LibraryFixture.h"
#include "support/LoopbackPeer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <optional>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

class HostilePeer : public LibraryFixture {
protected:
    void startRedirect(std::uint16_t port)
    {
        ASSERT_GE(vsp_createDevice("Connector", "5;0"), 0);
        tcp = vsp_createDevice("TcpClient", client(port, 5).c_str());
        ASSERT_GE(tcp, 0);
        ASSERT_EQ(vsp_startEmulation(), 1);
    }
    int tcp = -1;
};

// Sends `bytes` over and over without ever reading; returns how much went out
// before the peer could send nothing more for `stall`, or 0 when it never stalled
// within `limit`.
std::size_t floodUntilStalled(int fd, const std::vector<std::uint8_t>& bytes, std::chrono::milliseconds stall,
                              std::chrono::seconds limit)
{
    std::size_t sent = 0;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd writable{fd, POLLOUT, 0};
        if (::poll(&writable, 1, static_cast<int>(stall.count())) == 0)
            return sent;
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN)
            return 0;
        if (n > 0)
            sent += static_cast<std::size_t>(n);
    }
    return 0;
}

// The kernel's timer on our end of the connection to remotePort, as /proc/net/tcp
// shows it: {kind (2 is keep-alive), seconds until it fires}.
std::optional<std::pair<int, double>> socketTimer(std::uint16_t remotePort)
{
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // heading
    while (std::getline(table, line)) {
        unsigned local = 0, remote = 0, state = 0, timer = 0;
        unsigned long when = 0;
        if (std::sscanf(line.c_str(), " %*d: %*8X:%4X %*8X:%4X %2X %*8X:%*8X %2X:%8lX", &local, &remote, &state, &timer,
                        &when) == 5 &&
            remote == remotePort && state == 1)
            return std::pair<int, double>(static_cast<int>(timer), static_cast<double>(when) / ::sysconf(_SC_CLK_TCK));
    }
    return std::nullopt;
}

TEST_F(HostilePeer, ASilentConnectionIsProbedAfterTenSecondsNotTwoHours)
{
    LoopbackPeer peer;
    startRedirect(peer.port());
    const int fd = peer.accept(5s);
    ASSERT_GE(fd, 0);
    std::vector<std::uint8_t> offer(64);
    ASSERT_GT(::recv(fd, offer.data(), offer.size(), 0), 0);  // all sent and acknowledged: the line is idle
    std::optional<std::pair<int, double>> timer;
    ASSERT_TRUE(waitUntil([&] { return (timer = socketTimer(peer.port())) && timer->first == 2; }));
    EXPECT_LE(timer->second, 10.0);
    ::close(fd);
}

TEST_F(HostilePeer, APeerThatFloodsNegotiationsAndNeverReadsIsNoLongerRead)
{
    LoopbackPeer peer(16, 64 * 1024);
    startRedirect(peer.port());
    const int fd = peer.accept(5s);
    ASSERT_GE(fd, 0);

    // Each request for an unknown option is refused with an answer as long as the
    // request; a peer that never takes the answers must be stopped from sending.
    std::vector<std::uint8_t> requests;
    for (int i = 0; i < 20000; ++i)
        requests.insert(requests.end(), {0xFF, 0xFD, 99});  // IAC DO 99
    const std::size_t sent = floodUntilStalled(fd, requests, 1s, 20s);
    EXPECT_GT(sent, 0u) << "the library kept reading the flood";
    EXPECT_LT(sent, 96u * 1024 * 1024);

    // Still a connection: once the peer reads, the answers flow and so does the flood.
    EXPECT_GT(diagnostics(tcp).upTimeMs, 0);
    std::vector<std::uint8_t> answers(1 << 20);
    EXPECT_GT(::recv(fd, answers.data(), answers.size(), 0), 0);
    ::close(fd);
}

TEST_F(HostilePeer, AnAdapterThatAcceptsAndClosesAtOnceIsRetriedWithGrowingPauses)
{
    LoopbackPeer peer;
    std::atomic<bool> done = false;
    std::atomic<int> accepted = 0;
    std::thread closer([&] {
        while (!done) {
            const int fd = peer.accept(50ms);
            if (fd >= 0) {
                ++accepted;
                ::close(fd);
            }
        }
    });
    startRedirect(peer.port());
    std::this_thread::sleep_for(3500ms);
    const int seen = accepted;
    done = true;
    closer.join();

    // 0.25, 0.5, 1 and 2 s apart: five connections within 3.5 s at most, where a
    // pause that started over after every connect made fourteen.
    EXPECT_GE(seen, 3);
    EXPECT_LE(seen, 5);
    const vsp_diagnostics d = diagnostics(tcp);
    // Closed unread, the peer's side resets rather than closes.
    EXPECT_TRUE(d.lastErrorKind == VSP_ERROR_CLOSED_BY_PEER || d.lastErrorKind == VSP_ERROR_RESET) << d.lastErrorKind;
    EXPECT_GE(static_cast<int>(d.reconnects), seen - 2);
}

TEST_F(HostilePeer, AConnectionAttemptThatIsNeverAnsweredEndsAndTheNextOneGetsThrough)
{
    LoopbackPeer peer(0);  // one waiting connection fills it
    ASSERT_TRUE(peer.connectSelf());
    startRedirect(peer.port());

    ASSERT_TRUE(waitUntil([&] { return diagnostics(tcp).lastErrorKind == VSP_ERROR_TIMED_OUT; }, 9s));
    EXPECT_NE(diagnostics(tcp).state, VSP_STATE_UP);

    // The adapter comes back (its queue is taken): reached without a long wait.
    const int own = peer.accept(1s);
    ASSERT_GE(own, 0);
    const int library = peer.accept(8s);
    EXPECT_GE(library, 0);
    EXPECT_TRUE(waitUntil([&] { return diagnostics(tcp).state == VSP_STATE_UP; }, 5s));
    ::close(own);
    ::close(library);
}

}  // namespace

#include "HostilePeer.h"
#include "ProcessStats.h"
#include "Soak.h"
#include "SoakPort.h"

#include "vspdevices.h"

#include <cstdio>
#include <pthread.h>
#include <random>
#include <string>
#include <unistd.h>

namespace soak {
namespace {

constexpr std::uint8_t IAC = 255, SB = 250, WILL = 251, NOP = 241;
constexpr std::uint64_t memoryLimitKiB = 64 * 1024;
constexpr std::uint64_t giveUpKiB = 256 * 1024;  // past this the case stops at once, to spare the machine
constexpr double quietCpuLimit = 0.05;           // of one core, once the peer is quiet
constexpr std::size_t chunk = 16 * 1024;

struct Case {
    const char* name;
    std::function<HostilePeer::Generator()> generator;  // a fresh generator per run; null: sends nothing
    bool peerReads;
    bool appWrites;  // the application writes toward the peer all along
};

HostilePeer::Generator randomBytes()
{
    return [rng = std::mt19937(1)]() mutable {
        std::vector<std::uint8_t> out(chunk);
        for (auto& b : out)
            b = static_cast<std::uint8_t>(rng());
        return out;
    };
}

HostilePeer::Generator iacFlood()
{
    return [] {
        std::vector<std::uint8_t> out;
        while (out.size() < chunk)
            out.insert(out.end(), {IAC, IAC, IAC, NOP});
        return out;
    };
}

HostilePeer::Generator endlessSubnegotiation()
{
    return [first = true, rng = std::mt19937(2)]() mutable {
        std::vector<std::uint8_t> out;
        if (first)
            out = {IAC, SB, 44};
        first = false;
        while (out.size() < chunk)
            out.push_back(static_cast<std::uint8_t>(rng() % 255));  // never IAC, so never SE
        return out;
    };
}

// Every command for every option, over and over: each one wants an answer.
HostilePeer::Generator negotiationFlood()
{
    return [n = 0u]() mutable {
        std::vector<std::uint8_t> out;
        while (out.size() < chunk) {
            out.insert(out.end(), {IAC, static_cast<std::uint8_t>(WILL + n % 4), static_cast<std::uint8_t>(n / 4 % 256)});
            ++n;
        }
        return out;
    };
}

double threadCpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct Outcome {
    std::uint64_t peakKiB = 0;
    double loudCpu = 0;   // of one core, while the peer misbehaved
    double quietCpu = 0;  // of one core, once it stopped
    double slowestCallMs = 0;
    int connections = 0;
    bool gaveUp = false;
};

Outcome run(const Case& c, int seconds)
{
    Outcome o;
    Library library;
    HostilePeer peer(c.generator ? c.generator() : HostilePeer::Generator{}, c.peerReads);
    const int id = Library::addRedirect(5, peer.port());
    vsp_startEmulation();
    PortApp app(library.portPath(5));
    // The library's CPU: the process's, less this thread's and the peer's.
    auto libraryCpu = [&] { return ProcessStats::cpuSeconds() - threadCpuSeconds() - peer.cpuSeconds(); };
    const std::vector<std::uint8_t> toPeer(chunk, 0x55);

    double cpu = libraryCpu();
    auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(seconds)) {
        if (c.appWrites)
            [[maybe_unused]] auto n = ::write(app.fd(), toPeer.data(), toPeer.size());
        app.drain();
        const auto before = std::chrono::steady_clock::now();
        Library::ok(id);  // an API call must not wait for the network
        o.slowestCallMs = std::max(o.slowestCallMs,
                                   std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - before).count());
        o.peakKiB = std::max(o.peakKiB, ProcessStats::rss());
        if (o.peakKiB > giveUpKiB) {
            o.gaveUp = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    o.loudCpu = (libraryCpu() - cpu) / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    peer.quiet();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    cpu = libraryCpu();
    start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    o.quietCpu = (libraryCpu() - cpu) / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    o.peakKiB = std::max(o.peakKiB, ProcessStats::rss());
    o.connections = peer.connections();
    return o;
}

}  // namespace

bool hostilePeers(int seconds)
{
    const Case cases[] = {
        {"random bytes", randomBytes, true, false},
        {"IAC flood", iacFlood, true, false},
        {"endless subnegotiation", endlessSubnegotiation, true, false},
        {"negotiation flood", negotiationFlood, true, false},
        {"negotiation flood, never reads", negotiationFlood, false, false},
        {"never reads, application writes", nullptr, false, true},
    };
    std::printf("hostile peers, %d s each: peak VmRSS of the process; the library's CPU (share of one core)\n", seconds);
    std::printf("%-34s %12s %10s %10s %12s %6s  %s\n", "peer", "peak MiB", "CPU loud", "CPU quiet", "slowest call", "conns",
                "verdict");
    bool allHeld = true;
    for (const Case& c : cases) {
        const Outcome o = run(c, seconds);
        const bool held = !o.gaveUp && o.peakKiB < memoryLimitKiB && o.quietCpu < quietCpuLimit;
        allHeld = allHeld && held;
        std::printf("%-34s %11.1f%s %9.0f%% %9.0f%% %9.1f ms %6d  %s\n", c.name, static_cast<double>(o.peakKiB) / 1024,
                    o.gaveUp ? "+" : " ", o.loudCpu * 100, o.quietCpu * 100, o.slowestCallMs, o.connections,
                    held ? "held" : o.gaveUp ? "FAILED (stopped at 256 MiB)" : "FAILED");
        std::fflush(stdout);
    }
    std::printf("held: peak under 64 MiB and under %.0f%% of a core once the peer is quiet\n", quietCpuLimit * 100);
    return allHeld;
}

}  // namespace soak

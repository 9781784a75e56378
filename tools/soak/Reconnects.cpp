#include "AdapterServer.h"
#include "ProcessStats.h"
#include "Soak.h"
#include "SoakPort.h"

#include "vspdevices.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace soak {
namespace {
constexpr int redirects = 10;
constexpr int warmUpCycles = 5;  // allocator and socket caches settle first
// The adapters keep every byte they receive (128 bytes per echo, 128 KiB in all);
// a leak of a kilobyte per reconnect would show as about 1 MiB.
constexpr std::uint64_t allowedGrowthKiB = 1024;

void printStats(const char* when, const ProcessStats& s)
{
    std::printf("reconnects: %-6s %zu fds, %zu threads, VmRSS %llu KiB\n", when, s.fds, s.threads,
                static_cast<unsigned long long>(s.rssKiB));
}
}  // namespace

bool reconnects(int count)
{
    Library library;
    std::vector<std::unique_ptr<vsp::AdapterServer>> adapters;
    std::vector<int> ids;
    vsp::AdapterServer::Options echo;
    echo.echo = true;
    for (int i = 0; i < redirects; ++i) {
        adapters.push_back(std::make_unique<vsp::AdapterServer>(echo));
        ids.push_back(Library::addRedirect(10 + i, adapters.back()->port()));
    }
    auto allUp = [&] {
        return waitUntil(
            [&] {
                for (const int id : ids)
                    if (!Library::ok(id))
                        return false;
                return true;
            },
            std::chrono::seconds(20));
    };
    if (!library.ready() || !vsp_startEmulation() || !allUp()) {
        std::printf("reconnects: the redirects never came up\n");
        return false;
    }
    std::vector<std::unique_ptr<PortApp>> apps;
    for (int i = 0; i < redirects; ++i)
        apps.push_back(std::make_unique<PortApp>(library.portPath(10 + i)));

    const int cycles = (count + redirects - 1) / redirects;
    ProcessStats start;
    int done = 0;
    int echoFailures = 0;
    for (int cycle = 0; cycle < warmUpCycles + cycles; ++cycle) {
        if (cycle == warmUpCycles)
            start = ProcessStats::now();
        std::vector<int> before;
        for (int i = 0; i < redirects; ++i) {
            before.push_back(adapters[i]->connections());
            if (cycle % 2)
                vsp_reinitializeDevice(ids[i]);
            else
                adapters[i]->dropClient();
        }
        for (int i = 0; i < redirects; ++i)
            adapters[i]->waitFor([&] { return adapters[i]->connections() > before[i]; }, std::chrono::seconds(20));
        if (!allUp()) {
            std::printf("reconnects: cycle %d: not every redirect came back\n", cycle);
            return false;
        }
        for (auto& app : apps)
            if (!app->echoes(128, std::chrono::seconds(5)))
                ++echoFailures;
        if (cycle >= warmUpCycles)
            done += redirects;
    }
    const ProcessStats end = ProcessStats::now();
    printStats("start", start);
    printStats("end", end);
    const bool held = end.fds <= start.fds && end.threads <= start.threads && end.rssKiB <= start.rssKiB + allowedGrowthKiB;
    std::printf("reconnects: %d (half dropped by the adapters, half by reinitialize), %d echoes wrong; %s\n", done,
                echoFailures, held ? "no growth" : "GREW");
    return held && echoFailures == 0;
}

}  // namespace soak

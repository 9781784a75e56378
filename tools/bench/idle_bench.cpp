// idle_bench: what idle redirects cost the device library. 255 redirects to a
// simulated adapter on loopback, some of their ports held open by an application
// that does nothing, the others closed; then, over a few seconds, the wake-ups
// (context switches) and CPU time of the library's I/O thread. A last figure is how
// long the first byte written right after opening a port takes to come back from
// the adapter's echo.
//   idle_bench [--seconds N] [--open N]
#include "AdapterServer.h"
#include "RawPort.h"
#include "Redirects.h"
#include "ThreadUse.h"
#include "vspdevices.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

using bench::ioThreadUse;
using bench::ThreadUse;

int main(int argc, char** argv)
{
    int seconds = 10;
    int held = 128;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--open"))
            held = std::atoi(argv[i + 1]);
    }
    constexpr int ports = 255;
    char pattern[] = "/tmp/idle-bench-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const std::string dir = std::string(pattern) + "/ports";
    ::setenv("VSP_PORT_DIR", dir.c_str(), 1);
    if (vsp_initialize() != 1)
        return 1;
    vsp::AdapterServer::Options options;
    options.echo = true;
    options.lines = ports;
    vsp::AdapterServer adapter(options);
    if (!bench::startRedirects(adapter, ports)) {
        std::fprintf(stderr, "idle_bench: the redirects did not come up\n");
        return 1;
    }
    std::vector<int> open;
    for (int com = 1; com <= held && com <= ports; ++com)
        open.push_back(openRawPort(dir + "/COM" + std::to_string(com)));
    std::this_thread::sleep_for(std::chrono::seconds(1));  // opens confirmed, settings sent

    const ThreadUse before = ioThreadUse();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const ThreadUse after = ioThreadUse();
    const double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
    std::printf("%d redirects, %zu ports open, %d s idle: %llu wake-ups of the I/O thread (%.1f/s), %.0f ms CPU\n", ports,
                open.size(), seconds, after.switches - before.switches,
                static_cast<double>(after.switches - before.switches) / seconds,
                1000.0 * static_cast<double>(after.ticks - before.ticks) / ticks);

    // First byte after opening a closed port, to its echo (median of 21).
    std::vector<double> echoMs;
    const int com = ports;
    for (int round = 0; round < 21; ++round) {
        const auto start = Clock::now();
        const int fd = openRawPort(dir + "/COM" + std::to_string(com));
        const char byte = 'x';
        if (fd < 0 || ::write(fd, &byte, 1) != 1)
            return 1;
        pollfd p{fd, POLLIN, 0};
        char echo = 0;
        const bool got = ::poll(&p, 1, 2000) == 1 && ::read(fd, &echo, 1) == 1;
        echoMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        ::close(fd);
        if (!got)
            return 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // closed again before the next round
    }
    std::sort(echoMs.begin(), echoMs.end());
    std::printf("first byte after opening, back from the echo: %.2f ms (median of %zu)\n", echoMs[echoMs.size() / 2],
                echoMs.size());

    for (const int fd : open)
        ::close(fd);
    vsp_release();
    std::filesystem::remove_all(pattern);
    return 0;
}

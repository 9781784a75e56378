#include "service/DiscoverCommand.h"

#include "discovery/AdapterBrowser.h"

#include <avahi-common/simple-watch.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace service {

std::optional<double> parseDiscoverArguments(int argc, char** argv)
{
    double seconds = 3;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--timeout") || i + 1 >= argc)
            return std::nullopt;
        char* end = nullptr;
        seconds = std::strtod(argv[++i], &end);
        if (end == argv[i] || *end || !(seconds >= 0.1 && seconds <= 60))
            return std::nullopt;
    }
    return seconds;
}

std::string discoveredLine(const discovery::DiscoveredPort& port)
{
    return port.name + '\t' + port.host + '\t' + port.address + '\t' + std::to_string(port.port) + '\t' + port.stack +
           '\t' + port.identity;
}

int runDiscover(double seconds)
{
    const std::unique_ptr<AvahiSimplePoll, decltype(&avahi_simple_poll_free)> poll(avahi_simple_poll_new(),
                                                                                   &avahi_simple_poll_free);
    if (!poll) {
        std::fprintf(stderr, "quorlinvcp-service: cannot browse: out of memory\n");
        return 1;
    }
    discovery::AdapterBrowser browser(avahi_simple_poll_get(poll.get()), {});
    using clock = std::chrono::steady_clock;
    const auto deadline =
        clock::now() + std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(seconds));
    // A daemon answers at once when there is one; without, there is nothing to wait for.
    while (browser.daemonAnswers() && !browser.settled()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        if (left <= 0 || avahi_simple_poll_iterate(poll.get(), static_cast<int>(left)) != 0)
            break;
    }
    if (!browser.daemonAnswers()) {
        std::fprintf(stderr, "quorlinvcp-service: no Avahi daemon answers: no adapter can be discovered\n");
        return 0;
    }
    for (const auto& [name, port] : browser.ports())
        std::printf("%s\n", discoveredLine(port).c_str());
    return 0;
}

}  // namespace service

// quorlinvcp-service: runs the redirects of a configuration without the window, in
// the foreground (a systemd user service runs it as quorlinvcp@NAME), prints the
// running ports' states for scripts, and shows a running port's traffic.
#include "service/ConfigurationPath.h"
#include "service/DiscoverCommand.h"
#include "service/MonitorCommand.h"
#include "service/Runner.h"
#include "Version.h"
#include "vspdevices_limits.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {
void usage(std::FILE* to)
{
    std::fprintf(to,
                 "Usage: quorlinvcp-service FILE.qlc | NAME\n"
                 "       quorlinvcp-service status [--paths]\n"
                 "       quorlinvcp-service monitor COM<N> [--hex] [--pcapng FILE]\n"
                 "       quorlinvcp-service discover [--timeout SECONDS]\n"
                 "Runs the redirects of a QuorlinVCP configuration until SIGTERM or SIGINT; NAME\n"
                 "is the configuration NAME.qlc in %s.\n"
                 "status prints each running port: COM port, state, path, bytes to and from the\n"
                 "adapter, last error (tab-separated); --paths prints only the ports' paths.\n"
                 "monitor shows a running port's traffic live until Ctrl+C, one time-stamped line\n"
                 "each: > data to the device, < from it, >> commands to the adapter, << its\n"
                 "answers, ** events; data as text with C escapes, or in hex with --hex.\n"
                 "--pcapng also writes the session to FILE for Wireshark. COM<N> may be just N.\n"
                 "discover prints the serial ports adapters advertise on the network (DNS-SD,\n"
                 "through Avahi): name, host, address, port, gensio stack, device (tab-separated);\n"
                 "it waits until Avahi has answered, at most 3 s or --timeout SECONDS.\n",
                 service::configurationFolder().c_str());
}
}  // namespace

int main(int argc, char** argv)
{
    const std::string first = argc > 1 ? argv[1] : "";
    if (first == "--help" || first == "-h") {
        usage(stdout);
        return 0;
    }
    if (first == "--version") {
        std::printf("quorlinvcp-service %d.%d.%d\n", version::major, version::minor, version::revision);
        return 0;
    }
    if (first == "status" && (argc == 2 || (argc == 3 && !std::strcmp(argv[2], "--paths"))))
        return service::printStatus(argc == 3);
    if (first == "monitor") {
        if (const auto options = service::parseMonitorArguments(argc - 2, argv + 2))
            return service::runMonitor(*options);
        usage(stderr);
        return service::exitStatus::usage;
    }
    if (first == "discover") {
        if (const auto seconds = service::parseDiscoverArguments(argc - 2, argv + 2))
            return service::runDiscover(*seconds);
        usage(stderr);
        return service::exitStatus::usage;
    }
    if (argc != 2 || first.empty() || first == "status" || first[0] == '-') {
        usage(stderr);
        return service::exitStatus::usage;
    }
    vspdevices::raiseDescriptorLimit();  // 255 ports and their clients outgrow the default 1,024
    return service::runConfiguration(service::configurationPath(first, service::configurationFolder()));
}

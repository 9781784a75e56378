// port_soak: the device library under long and hostile use, on loopback only.
//   port_soak [restarts|reconnects|hostile|all] [--count N] [--seconds S]
// restarts: an adapter restarted N times (100), data checked after each.
// reconnects: N connections (1000) dropped and remade; fds, threads, memory must not grow.
// hostile: misbehaving peers, S seconds (10) each; memory under 64 MiB, no core spinning.
// Exit status 0 when every figure held, 1 otherwise.
#include "Soak.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    std::string what = "all";
    int count = 0;
    int seconds = 10;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--count" && i + 1 < argc)
            count = std::atoi(argv[++i]);
        else if (arg == "--seconds" && i + 1 < argc)
            seconds = std::atoi(argv[++i]);
        else if (arg == "restarts" || arg == "reconnects" || arg == "hostile" || arg == "all")
            what = arg;
        else {
            std::fprintf(stderr, "usage: %s [restarts|reconnects|hostile|all] [--count N] [--seconds S]\n", argv[0]);
            return 2;
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    bool held = true;
    if (what == "restarts" || what == "all")
        held = soak::adapterRestarts(count > 0 ? count : 100) && held;
    if (what == "reconnects" || what == "all")
        held = soak::reconnects(count > 0 ? count : 1000) && held;
    if (what == "hostile" || what == "all")
        held = soak::hostilePeers(seconds > 0 ? seconds : 10) && held;
    return held ? 0 : 1;
}

// adapter-sim: a Telnet-to-serial adapter on a loopback port for a first try of the
// redirects without hardware. It prints the port settings it receives and echoes
// every byte back. With --lines N it serves N clients at once, each its own serial
// line, like a multi-port adapter. Every port command a line receives is logged with
// its time. DTR loops back to DSR and DCD, RTS to CTS, RI stays low, unless a line
// is held fixed with --cts/--dsr/--dcd/--ri on|off.
// Faults on command, for trying what a redirect does when the adapter goes away:
// SIGUSR1 drops every connection (the clients come back by themselves); SIGUSR2
// takes the adapter off the network (connections dropped, nothing accepted) and,
// sent again, brings it back.
//   adapter-sim [--port N] [--lines N] [--raw] [--no-echo] [--cts|--dsr|--dcd|--ri on|off]
#include "AdapterServer.h"

#include <chrono>
#include <csignal>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {
const char* parityName(std::uint8_t code)
{
    static const char* names[] = {"?", "none", "odd", "even", "mark", "space"};
    return code < 6 ? names[code] : "?";
}

void printSettings(int line, const vsp::AdapterProtocol::Settings& s)
{
    std::printf("line %d: settings: baud %u, data bits %u, parity %s, stop bits %u",
                line, s.baud.value_or(0), s.dataSize.value_or(0), parityName(s.parity.value_or(0)), s.stopSize.value_or(0));
    if (!s.controls.empty()) {
        // "SET-CONTROL 8 (DTR on)" without its name: "8 (DTR on)".
        const std::string control = vsp::rfc2217::describe({vsp::rfc2217::SetControl, s.controls.back(), {}});
        std::printf(", last control %s", control.substr(control.find(' ') + 1).c_str());
    }
    std::printf("\n");
    std::fflush(stdout);
}

// "12:34:56.789" in UTC, for the command log.
std::string timeStamp()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms));
    return text;
}

// --cts on / --dsr off ...: the line the option names, or nullptr.
std::optional<bool>* fixedLine(vsp::AdapterProtocol::ModemLines& lines, const char* option)
{
    if (!std::strcmp(option, "--cts"))
        return &lines.cts;
    if (!std::strcmp(option, "--dsr"))
        return &lines.dsr;
    if (!std::strcmp(option, "--dcd"))
        return &lines.dcd;
    if (!std::strcmp(option, "--ri"))
        return &lines.ri;
    return nullptr;
}

void printUsage(std::FILE* to, const char* program)
{
    std::fprintf(to,
                 "usage: %s [--port N] [--lines N] [--raw] [--no-echo] [--cts|--dsr|--dcd|--ri on|off]\n"
                 "Plays a Telnet-to-serial adapter on 127.0.0.1 for trying redirects without hardware:\n"
                 "prints the port settings it receives and echoes every byte back.\n"
                 "  --port N      listen on TCP port N (default 7000; 0 picks a free one, printed)\n"
                 "  --lines N     serve N clients at once, each its own serial line (default 1)\n"
                 "  --raw         plain TCP instead of Telnet with RFC 2217 port control\n"
                 "  --no-echo     do not echo the received bytes\n"
                 "  --cts|--dsr|--dcd|--ri on|off\n"
                 "                hold that modem line fixed (by default DTR loops back to DSR and DCD,\n"
                 "                RTS to CTS, and RI stays low)\n"
                 "  -h, --help    print this help and exit\n"
                 "Signals: SIGUSR1 drops every connection; SIGUSR2 takes the adapter off the network and,\n"
                 "sent again, brings it back; SIGINT or SIGTERM end it.\n",
                 program);
}
}  // namespace

int main(int argc, char** argv)
{
    vsp::AdapterServer::Options options;
    options.port = 7000;
    options.echo = true;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            printUsage(stdout, argv[0]);
            return 0;
        } else if (!std::strcmp(argv[i], "--port") && i + 1 < argc) {
            options.port = static_cast<std::uint16_t>(std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--lines") && i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
            options.lines = static_cast<std::size_t>(std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--raw")) {
            options.telnet = false;
        } else if (!std::strcmp(argv[i], "--no-echo")) {
            options.echo = false;
        } else if (auto* line = fixedLine(options.modemLines, argv[i]);
                   line && i + 1 < argc && (!std::strcmp(argv[i + 1], "on") || !std::strcmp(argv[i + 1], "off"))) {
            *line = !std::strcmp(argv[++i], "on");
        } else {
            std::fprintf(stderr, "%s: unknown or incomplete option '%s'\n", argv[0], argv[i]);
            printUsage(stderr, argv[0]);
            return 2;
        }
    }
    options.onSettings = printSettings;
    options.onCommand = [](int line, const vsp::rfc2217::Message& command) {
        std::printf("%s line %d: %s\n", timeStamp().c_str(), line, vsp::rfc2217::describe(command).c_str());
        std::fflush(stdout);
    };
    options.onEvent = [](int line, const std::string& event) {
        std::printf("line %d: %s\n", line, event.c_str());
        std::fflush(stdout);
    };
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // the server's thread inherits the mask
    try {
        vsp::AdapterServer server(options);
        std::printf("adapter-sim listening on 127.0.0.1:%u (%s%s, %zu line%s)\n", server.port(),
                    options.telnet ? "Telnet RFC 2217" : "raw TCP", options.echo ? ", echo" : "", options.lines,
                    options.lines == 1 ? "" : "s");
        std::fflush(stdout);
        bool offline = false;
        for (int signal = 0; sigwait(&signals, &signal) == 0 && signal != SIGINT && signal != SIGTERM;) {
            if (signal == SIGUSR1) {
                std::printf("%s dropping every connection\n", timeStamp().c_str());
                server.dropClient();
            } else if ((offline = !offline)) {
                std::printf("%s off the network\n", timeStamp().c_str());
                server.stop();
            } else {
                std::printf("%s back on the network\n", timeStamp().c_str());
                server.start();
            }
            std::fflush(stdout);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "adapter-sim: cannot listen on 127.0.0.1:%u: %s\n", options.port, error.what());
        return 1;
    }
    return 0;
}

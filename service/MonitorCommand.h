// The monitor command: a running port's traffic as a live, time-stamped view on
// standard output (monitor/TextView) until SIGINT, SIGTERM or SIGHUP, and, with
// --pcapng, the same session as a capture file (monitor/PcapngWriter) that is
// complete up to the last record read whenever the command ends.
#pragma once

#include <optional>
#include <string>

namespace service {

struct MonitorOptions {
    int com = 0;
    bool hex = false;
    std::string pcapng;  // "" for none
};

// The arguments after "monitor": COM5 (or com5, or 5) and the options in any order;
// nullopt when they are wrong.
std::optional<MonitorOptions> parseMonitorArguments(int argc, char** argv);

// Runs the command; its exit status.
int runMonitor(const MonitorOptions& options);

}  // namespace service

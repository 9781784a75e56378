// The discover command: the serial ports adapters advertise on the local network
// (DNS-SD through the system's Avahi daemon), one tab-separated line each.
#pragma once

#include "discovery/DiscoveredPort.h"

#include <optional>
#include <string>

namespace service {

// The arguments after "discover": [--timeout SECONDS] (0.1 to 60); nullopt when
// they are wrong.
std::optional<double> parseDiscoverArguments(int argc, char** argv);

// name, host, address, port, stack, identity, separated by tabs.
std::string discoveredLine(const discovery::DiscoveredPort& port);

// Browses until the daemon has said all it knows and each port is resolved, at
// most `seconds`, then prints the ports. 0, also when no daemon answers (said on
// standard error).
int runDiscover(double seconds);

}  // namespace service

// A serial port an adapter advertises on the local network (DNS-SD), as the
// window's editor and the discover command show it.
#pragma once

#include <cstdint>
#include <string>

namespace discovery {

// The service type ser2net (and other gensio programs) advertise a TCP connection
// under unless told otherwise (mdns-type).
inline constexpr const char* serviceType = "_iostream._tcp";

struct DiscoveredPort {
    std::string name;      // the advertised service name, e.g. "lab bench"
    std::string host;      // the host name it resolved to, e.g. "box.local"
    std::string address;   // its address as text, IPv4 when advertised on both
    std::uint16_t port = 0;
    std::string stack;     // the gensio stack, e.g. "telnet(rfc2217),tcp"
    std::string identity;  // the device: type, USB vendor:product, name, serial number
    bool tls = false;      // the stack holds TLS (an ssl gensio)

    bool operator==(const DiscoveredPort&) const = default;
};

}  // namespace discovery

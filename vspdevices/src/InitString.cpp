#include "InitString.h"

#include "HostName.h"

namespace vsp {

std::optional<TcpClientSettings> parseTcpClient(std::string_view init)
{
    auto settings = vspdevices::parseTcpClient(init);
    if (settings)
        settings->host = dnsName(settings->host);
    return settings;
}

namespace {
bool test(const std::uint64_t (&bits)[4], int com)
{
    return (bits[com / 64] >> (com % 64)) & 1u;
}
void assign(std::uint64_t (&bits)[4], int com, bool value)
{
    const std::uint64_t mask = std::uint64_t{1} << (com % 64);
    bits[com / 64] = value ? bits[com / 64] | mask : bits[com / 64] & ~mask;
}
// The COM number of a device the library accepts, with the set it belongs to.
std::optional<int> comOf(std::string_view type, std::string_view init, bool& isConnector)
{
    isConnector = type == connectorType;
    if (isConnector) {
        const auto s = parseConnector(init);
        return s ? std::optional<int>(s->com) : std::nullopt;
    }
    if (type == tcpClientType) {
        const auto s = parseTcpClient(init);
        return s ? std::optional<int>(s->com) : std::nullopt;
    }
    return std::nullopt;
}
}  // namespace

bool ComClaims::claim(std::string_view type, std::string_view init)
{
    bool isConnector = false;
    const auto com = comOf(type, init, isConnector);
    if (!com)
        return false;
    auto& bits = isConnector ? connectors_ : clients_;
    if (test(bits, *com))
        return false;
    assign(bits, *com, true);
    return true;
}

void ComClaims::release(std::string_view type, std::string_view init)
{
    bool isConnector = false;
    if (const auto com = comOf(type, init, isConnector))
        assign(isConnector ? connectors_ : clients_, *com, false);
}

}  // namespace vsp

#include "InitString.h"

#include "HostName.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace vsp {
namespace {

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> fields;
    for (;;) {
        const auto at = text.find(separator);
        fields.push_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return fields;
        text.remove_prefix(at + 1);
    }
}

std::string_view trimBlanks(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// A whole unsigned decimal integer (blanks around it allowed), at most `max`.
std::optional<std::uint64_t> unsignedField(std::string_view text, std::uint64_t max)
{
    text = trimBlanks(text);
    if (text.empty() || text.size() > 19)
        return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value > max)
        return std::nullopt;
    return value;
}

std::optional<int> inRange(std::string_view text, int low, int high)
{
    const auto value = unsignedField(text, static_cast<std::uint64_t>(high));
    if (!value || static_cast<int>(*value) < low)
        return std::nullopt;
    return static_cast<int>(*value);
}

// A decimal number with optional sign and fraction, as the program writes the timeout.
std::optional<double> decimalField(std::string_view text)
{
    text = trimBlanks(text);
    if (text.empty() || text.size() > 32)
        return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<ConnectorSettings> parseConnector(std::string_view init)
{
    const auto fields = split(init, ';');
    if (fields.size() != 2 || !unsignedField(fields[1], 0xFFFFFFFFu))
        return std::nullopt;
    const auto com = inRange(fields[0], minComNumber, maxComNumber);
    if (!com)
        return std::nullopt;
    return ConnectorSettings{*com};
}

std::optional<TcpClientSettings> parseTcpClient(std::string_view init)
{
    const auto fields = split(init, ';');
    if (fields.size() != 7)
        return std::nullopt;
    TcpClientSettings s;
    s.host = dnsName(trimBlanks(fields[0]));
    const auto port = inRange(fields[1], 1, 65535);
    const auto com = inRange(fields[2], minComNumber, maxComNumber);
    const auto telnet = inRange(fields[4], 0, 1);
    const auto onDemand = inRange(fields[5], 0, 1);
    if (s.host.empty() || !port || !com || !telnet || !onDemand)
        return std::nullopt;
    s.port = static_cast<std::uint16_t>(*port);
    s.com = *com;
    s.telnet = *telnet == 1;
    s.onDemand = *onDemand == 1;

    const auto serial = split(fields[3], ',');
    if (serial.size() != 6)
        return std::nullopt;
    const auto baud = unsignedField(serial[0], 0xFFFFFFFFu);
    const auto dtrRts = inRange(serial[1], 0, 1);
    const auto dataBits = inRange(serial[2], 5, 8);
    const auto stopBits = inRange(serial[3], 1, 2);
    const auto parity = inRange(serial[4], 0, 4);
    const auto timeout = decimalField(serial[5]);
    if (!baud || *baud == 0 || !dtrRts || !dataBits || !stopBits || !parity || !timeout)
        return std::nullopt;
    s.serial.baud = static_cast<std::uint32_t>(*baud);
    s.serial.dtrRts = *dtrRts == 1;
    s.serial.dataBits = static_cast<std::uint8_t>(*dataBits);
    s.serial.stopBits = static_cast<std::uint8_t>(*stopBits);
    s.serial.parity = static_cast<Parity>(*parity);
    // Negative waits mean "send at once"; a minute is far beyond any device's pause.
    s.serial.readTimeoutMs = std::clamp(*timeout, 0.0, 60000.0);
    return s;
}

}  // namespace vsp

namespace vsp {
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

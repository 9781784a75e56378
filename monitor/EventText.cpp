#include "monitor/EventText.h"

#include <arpa/inet.h>
#include <sys/socket.h>

namespace monitor {
namespace m = vsp::monitor;

std::string escaped(std::span<const std::uint8_t> bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size());
    for (const std::uint8_t byte : bytes) {
        if (byte == '\\')
            text += "\\\\";
        else if (byte == '\r')
            text += "\\r";
        else if (byte == '\n')
            text += "\\n";
        else if (byte == '\t')
            text += "\\t";
        else if (byte >= 0x20 && byte < 0x7F)
            text += static_cast<char>(byte);
        else
            text += {'\\', 'x', digits[byte >> 4], digits[byte & 15]};
    }
    return text;
}

std::string addressText(std::uint8_t family, const std::uint8_t* address, std::uint16_t port)
{
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(family == 6 ? AF_INET6 : AF_INET, address, text, sizeof text);
    return family == 6 ? "[" + std::string(text) + "]:" + std::to_string(port) : text + (":" + std::to_string(port));
}

std::string stateText(const m::PortState& state)
{
    namespace c = vsp::control;
    static constexpr char parities[] = {'N', 'O', 'E', 'M', 'S'};
    static constexpr const char* stops[] = {"", "1", "2", "1.5"};
    static constexpr const char* flows[] = {"no flow control", "XON/XOFF", "RTS/CTS"};
    static constexpr std::pair<std::uint32_t, const char*> lines[] = {
        {c::lineDtr, "DTR"}, {c::lineRts, "RTS"}, {c::lineCts, "CTS"}, {c::lineDsr, "DSR"}, {c::lineDcd, "DCD"}, {c::lineRi, "RI"}};
    // Values outside these tables never pass decodeState.
    std::string text = std::to_string(state.baud) + " baud " + std::to_string(state.dataBits) +
                       parities[state.parity] + stops[state.stopBits] + ", " + flows[state.flow] + ", lines";
    bool any = false;
    for (const auto& [bit, name] : lines)
        if (state.lines & bit) {
            text += std::string(" ") + name;
            any = true;
        }
    return any ? text : text + " all off";
}

std::string eventText(const Record& record)
{
    const auto& h = record.header;
    const std::string text(m::textOf(h, record.payload));
    switch (h.kind) {
    case m::Kind::Data:
    case m::Kind::Wire: return {};
    case m::Kind::PortOpened: return "a program opened the port";
    case m::Kind::PortClosed: return "the program closed the port";
    case m::Kind::Connecting: return "connecting to " + text;
    case m::Kind::Connected: {
        const auto ends = m::decodeEndpoints(record.payload);
        if (!ends)
            return "connected to " + text;
        return "connected to " + text + " (" + addressText(ends->family, ends->local, ends->localPort) + " -> " +
               addressText(ends->family, ends->remote, ends->remotePort) + (ends->telnet ? ", Telnet)" : ", raw TCP)");
    }
    case m::Kind::Dropped: return "connection ended: " + text;
    case m::Kind::State: {
        const auto state = m::decodeState(record.payload);
        return state ? stateText(*state) : "the port's state, not understood";
    }
    case m::Kind::Lost: return std::to_string(m::lostCount(record.payload)) + " records lost: the monitor did not keep up";
    }
    return {};
}

}  // namespace monitor

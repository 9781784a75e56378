// A port's traffic as a monitor sees it (part of the control channel's format,
// version 4 of vspdevices_control.h). A client that sends a Monitor request and is
// answered Ok receives, from then on, a stream of records, one after another, until
// it hangs up; it sends nothing more (anything it sends ends it). Only the port's own
// user is served, several monitors at once (maxMonitors). The library keeps at most
// monitorBuffer bytes for a monitor that does not read: what does not fit is
// dropped and counted, and a Lost record with the count comes before the next
// record that fits. So a stalled monitor loses records and never slows the port.
//
// Every record is little-endian:
//   0-3 payload size   4 kind   5 direction (Data, Wire; 0 otherwise)   6-7 zero
//   8-15 time: microseconds of the library's monotonic clock (CLOCK_MONOTONIC)
//   16-  payload, of the kind's size (maxPayload at most):
//   Data         the serial bytes: toDevice as the program wrote them (read from the
//                port), fromDevice as the program gets them (written to the port)
//   Wire         the bytes of the TCP connection, Telnet included: toDevice as
//                handed to the socket (one write each), fromDevice as read
//   PortOpened, PortClosed   nothing: a program opened or closed the port
//   Connecting   the adapter's address as text ("host:port"): an attempt begins
//   Connected    0 family (4 or 6)  1 Telnet (1) or raw TCP (0)  2-3 zero
//                4-19 local address  20-21 local port
//                22-37 the adapter's address  38-39 its port (an IPv4 address in the
//                first 4 bytes, the rest zero); then the adapter's name as text.
//                A monitor that begins on a live connection gets its Connected
//                record first, with the time the connection was made
//   Dropped      the reason as text: the connection failed or ended
//   State        0-3 lines (vspdevices_control.h)  4-7 baud  8 data bits
//                9 parity (parityNone ...)  10 stop bits (1, 2, or 3 for 1.5)
//                11 flow (flowNone ...): the port's lines and settings in force,
//                first when the monitor starts and then whenever they change
//   Lost         0-7 how many records were dropped just before this one
// A text is UTF-8 without control characters, at most maxText bytes.
// Header-only and free of allocation beyond the caller's buffers.
#ifndef VSPDEVICES_MONITOR_H
#define VSPDEVICES_MONITOR_H

#include "vspdevices_control.h"
#include "vspdevices_control_diagnostics.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace vsp::monitor {

inline constexpr std::size_t headerSize = 16;
inline constexpr std::size_t maxPayload = 16384;  // larger blocks come as several records
inline constexpr std::size_t maxText = 256;
inline constexpr std::size_t maxRecord = headerSize + maxPayload;
inline constexpr std::size_t maxMonitors = 8;                // per port
inline constexpr std::size_t monitorBuffer = 256 * 1024;     // per monitor, in the library
inline constexpr std::size_t addressPartSize = 40;           // Connected's fixed part
inline constexpr std::size_t stateSize = 12;

enum class Kind : std::uint8_t {
    Data = 1,
    Wire = 2,
    PortOpened = 3,
    PortClosed = 4,
    Connecting = 5,
    Connected = 6,
    Dropped = 7,
    State = 8,
    Lost = 9,
};
enum class Direction : std::uint8_t { ToDevice = 0, FromDevice = 1 };

inline constexpr std::uint8_t flowNone = 0, flowXonXoff = 1, flowHardware = 2;

struct Header {
    Kind kind = Kind::Data;
    Direction direction = Direction::ToDevice;
    std::uint64_t timeUs = 0;
    std::uint32_t payloadSize = 0;
};

struct Endpoints {
    std::uint8_t family = 4;  // 4 or 6
    bool telnet = true;       // the connection speaks Telnet (else its bytes are the data)
    std::uint8_t local[16] = {};
    std::uint16_t localPort = 0;
    std::uint8_t remote[16] = {};
    std::uint16_t remotePort = 0;
};

struct PortState {
    std::uint32_t lines = 0;
    std::uint32_t baud = 0;
    std::uint8_t dataBits = 8;
    std::uint8_t parity = control::parityNone;
    std::uint8_t stopBits = 1;
    std::uint8_t flow = flowNone;
    bool operator==(const PortState&) const = default;
};

inline void encodeHeader(const Header& h, std::uint8_t* out)
{
    control::detail::put32(out, h.payloadSize);
    out[4] = static_cast<std::uint8_t>(h.kind);
    out[5] = static_cast<std::uint8_t>(h.direction);
    out[6] = out[7] = 0;
    control::detail::put64(out + 8, h.timeUs);
}

// The header at `in` (headerSize bytes), or nullopt when it is malformed: an unknown
// kind, a direction on a kind without one, reserved bytes set, or a payload size
// the kind cannot have.
inline std::optional<Header> decodeHeader(const std::uint8_t* in)
{
    Header h;
    h.payloadSize = control::detail::get32(in);
    h.kind = static_cast<Kind>(in[4]);
    h.direction = static_cast<Direction>(in[5]);
    h.timeUs = control::detail::get64(in + 8);
    if (in[4] < static_cast<std::uint8_t>(Kind::Data) || in[4] > static_cast<std::uint8_t>(Kind::Lost) || in[6] || in[7])
        return std::nullopt;
    const bool directed = h.kind == Kind::Data || h.kind == Kind::Wire;
    if (in[5] > (directed ? 1 : 0))
        return std::nullopt;
    switch (h.kind) {
    case Kind::Data:
    case Kind::Wire: return h.payloadSize >= 1 && h.payloadSize <= maxPayload ? std::optional(h) : std::nullopt;
    case Kind::PortOpened:
    case Kind::PortClosed: return h.payloadSize == 0 ? std::optional(h) : std::nullopt;
    case Kind::Connecting:
    case Kind::Dropped: return h.payloadSize <= maxText ? std::optional(h) : std::nullopt;
    case Kind::Connected:
        return h.payloadSize >= addressPartSize && h.payloadSize <= addressPartSize + maxText ? std::optional(h) : std::nullopt;
    case Kind::State: return h.payloadSize == stateSize ? std::optional(h) : std::nullopt;
    case Kind::Lost: return h.payloadSize == 8 ? std::optional(h) : std::nullopt;
    }
    return std::nullopt;
}

// Whether a text payload is well-formed UTF-8 without control characters.
inline bool validText(std::span<const std::uint8_t> text)
{
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = control::detail::utf8Character(text.data() + at, text.size() - at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

// The text a record carries: all of Connecting's or Dropped's payload, Connected's after its addresses.
inline std::string_view textOf(const Header& h, std::span<const std::uint8_t> payload)
{
    const std::size_t from = h.kind == Kind::Connected ? addressPartSize : 0;
    if (payload.size() < from)
        return {};
    return {reinterpret_cast<const char*>(payload.data()) + from, payload.size() - from};
}

inline void encodeEndpoints(const Endpoints& e, std::uint8_t* out)
{
    for (std::size_t i = 0; i < addressPartSize; ++i)
        out[i] = 0;
    out[0] = e.family;
    out[1] = e.telnet ? 1 : 0;
    for (int i = 0; i < 16; ++i) {
        out[4 + i] = e.local[i];
        out[22 + i] = e.remote[i];
    }
    out[20] = static_cast<std::uint8_t>(e.localPort);
    out[21] = static_cast<std::uint8_t>(e.localPort >> 8);
    out[38] = static_cast<std::uint8_t>(e.remotePort);
    out[39] = static_cast<std::uint8_t>(e.remotePort >> 8);
}

inline std::optional<Endpoints> decodeEndpoints(std::span<const std::uint8_t> payload)
{
    if (payload.size() < addressPartSize || (payload[0] != 4 && payload[0] != 6) || payload[1] > 1 || payload[2] || payload[3])
        return std::nullopt;
    Endpoints e;
    e.family = payload[0];
    e.telnet = payload[1] == 1;
    for (int i = 0; i < 16; ++i) {
        e.local[i] = payload[4 + i];
        e.remote[i] = payload[22 + i];
    }
    if (e.family == 4)
        for (int i = 4; i < 16; ++i)
            if (e.local[i] || e.remote[i])
                return std::nullopt;
    e.localPort = static_cast<std::uint16_t>(payload[20] | payload[21] << 8);
    e.remotePort = static_cast<std::uint16_t>(payload[38] | payload[39] << 8);
    return e;
}

inline void encodeState(const PortState& s, std::uint8_t* out)
{
    control::detail::put32(out, s.lines);
    control::detail::put32(out + 4, s.baud);
    out[8] = s.dataBits;
    out[9] = s.parity;
    out[10] = s.stopBits;
    out[11] = s.flow;
}

inline std::optional<PortState> decodeState(std::span<const std::uint8_t> payload)
{
    if (payload.size() != stateSize)
        return std::nullopt;
    PortState s;
    s.lines = control::detail::get32(payload.data());
    s.baud = control::detail::get32(payload.data() + 4);
    s.dataBits = payload[8];
    s.parity = payload[9];
    s.stopBits = payload[10];
    s.flow = payload[11];
    if ((s.lines & ~(control::outputLines | control::inputLines)) || s.dataBits < 5 || s.dataBits > 8 ||
        s.parity > control::paritySpace || s.stopBits < 1 || s.stopBits > 3 || s.flow > flowHardware)
        return std::nullopt;
    return s;
}

// A whole record's payload checked against its kind (texts, addresses, state).
inline bool validPayload(const Header& h, std::span<const std::uint8_t> payload)
{
    if (payload.size() != h.payloadSize)
        return false;
    switch (h.kind) {
    case Kind::Connecting:
    case Kind::Dropped: return validText(payload);
    case Kind::Connected: return decodeEndpoints(payload).has_value() && validText(payload.subspan(addressPartSize));
    case Kind::State: return decodeState(payload).has_value();
    default: return true;
    }
}

inline std::uint64_t lostCount(std::span<const std::uint8_t> payload)
{
    return payload.size() == 8 ? control::detail::get64(payload.data()) : 0;
}

}  // namespace vsp::monitor

#endif

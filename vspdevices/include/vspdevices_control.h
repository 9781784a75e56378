// The records of a port's control channel, format version 5 (`version` below): what
// a program's interposition library asks the library about a port's modem lines,
// break and framing, and the answers; and, read-only, a connection's diagnostics for
// a status command (vspdevices_control_diagnostics.h), and the port's traffic for a
// monitor (vspdevices_monitor.h). A Watch request is answered
// with the port's line-state page as well (vspdevices_line_state.h, passed as in
// vspdevices_descriptors.h). The library serves the channel; the launcher's
// interposition library and the service's status command are its clients.
//
// Every record is little-endian and starts with the same header:
//   0-3 magic "QQVC"   4-5 version   6 operation   7 status (0 in a request)
// A request or reply is recordSize (40) bytes:
//   request: 8-11 a   12-15 b   16-23 the client's terminal (st_rdev)   24-39 zero
//   reply:   8-11 lines   12-27 changes of CTS, DSR, RI, DCD   28 data bits   29 parity
//            30 flags   31 zero   32-39 the port's terminal (st_rdev)
// A record that is not exactly right (another version, an unknown operation, a value
// out of range, a reserved byte set) is refused, since it comes from another
// process. A change to any record's layout or meaning raises the version: the
// library and the launcher ship together, and a client of another version is
// refused rather than misread.
// Header-only and free of allocation, so the interposition library, which links
// nothing but libc, shares it.
#ifndef VSPDEVICES_CONTROL_H
#define VSPDEVICES_CONTROL_H

#include <cstddef>
#include <cstdint>
#include <optional>

namespace vsp::control {

inline constexpr std::size_t recordSize = 40;
inline constexpr std::uint32_t magic = 0x43565151;  // "QQVC" as little-endian bytes
inline constexpr std::uint16_t version = 5;  // of every record's format, as described above
// The longest break a program may ask for in one call.
inline constexpr std::uint32_t maxBreakMs = 10000;

// Modem lines, as bits of a mask.
inline constexpr std::uint32_t lineDtr = 1u << 0;
inline constexpr std::uint32_t lineRts = 1u << 1;
inline constexpr std::uint32_t lineCts = 1u << 2;
inline constexpr std::uint32_t lineDsr = 1u << 3;
inline constexpr std::uint32_t lineDcd = 1u << 4;
inline constexpr std::uint32_t lineRi = 1u << 5;
inline constexpr std::uint32_t outputLines = lineDtr | lineRts;
inline constexpr std::uint32_t inputLines = lineCts | lineDsr | lineDcd | lineRi;

enum class Op : std::uint8_t {
    Query = 1,       // the port's state, nothing changed
    SetLines = 2,    // a: the output lines to change, b: their new levels
    WaitLines = 3,   // a: input lines; answered once one of them changes
    Break = 4,       // a: 0 off, 1 on, 2 on for b milliseconds and off again (answered then)
    SetFraming = 5,  // a: data bits 5-8, b: parity
    Diagnose = 6,    // the connection's diagnostics, answered with a Diagnostics record
    Watch = 7,       // the port's line-state page, passed with the reply (SCM_RIGHTS)
    Drain = 8,       // answered once everything the program wrote has left toward the adapter
    Monitor = 9,     // answered Ok, then the port's traffic records follow (vspdevices_monitor.h)
    Tls = 10,        // the connection's TLS, answered with a Tls record (vspdevices_control_diagnostics.h)
};
inline constexpr std::uint8_t breakOff = 0, breakOn = 1, breakTimed = 2;
// A reply's flags: bytes the program wrote have not all left toward the adapter yet.
inline constexpr std::uint8_t replyOutputPending = 1;

// Parity as the channel carries it: none, odd, even, mark, space.
inline constexpr std::uint32_t parityNone = 0, parityOdd = 1, parityEven = 2, parityMark = 3, paritySpace = 4;

enum class Status : std::uint8_t {
    Ok = 0,
    Unavailable = 1,  // no connection serves this port: the program sees the pty as it is
    Refused = 2,      // the request was malformed
    Gone = 3,         // the port or its connection went away during a wait
    Busy = 4,         // the channel cannot take this client now (too many, or no descriptor left)
};

struct Request {
    Op op = Op::Query;
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    // The device number (st_rdev) of the terminal the client holds: a channel
    // serving another one (the port made anew under its name) acts on nothing and
    // answers Gone. A Diagnose or Tls request, which changes nothing, may leave it 0.
    std::uint64_t terminal = 0;
};

struct Counters {
    std::uint32_t cts = 0, dsr = 0, ring = 0, dcd = 0;
};

struct Reply {
    Op op = Op::Query;
    Status status = Status::Ok;
    std::uint32_t lines = 0;  // every line's level, outputs as set and inputs as reported
    Counters counters;        // changes of each input line so far
    std::uint8_t dataBits = 8;
    std::uint8_t parity = parityNone;
    std::uint8_t flags = 0;   // replyOutputPending
    // The device number (st_rdev) of the pseudo-terminal this channel serves: a
    // client holding a descriptor of another terminal (a port of an earlier session
    // under the same name) is not talking to its port.
    std::uint64_t terminal = 0;
};

namespace detail {
inline void put64(std::uint8_t* at, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
inline std::uint64_t get64(const std::uint8_t* at)
{
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | at[i];
    return value;
}
inline void put32(std::uint8_t* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
inline std::uint32_t get32(const std::uint8_t* at)
{
    return std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 | std::uint32_t{at[2]} << 16 | std::uint32_t{at[3]} << 24;
}
inline void putHeader(std::uint8_t* out, Op op, std::uint8_t status)
{
    for (std::size_t i = 0; i < recordSize; ++i)
        out[i] = 0;
    put32(out, magic);
    out[4] = static_cast<std::uint8_t>(version);
    out[5] = static_cast<std::uint8_t>(version >> 8);
    out[6] = static_cast<std::uint8_t>(op);
    out[7] = status;
}
inline bool headerOk(const std::uint8_t* in)
{
    return get32(in) == magic && in[4] == static_cast<std::uint8_t>(version) &&
           in[5] == static_cast<std::uint8_t>(version >> 8);
}
inline bool zeroFrom(const std::uint8_t* in, std::size_t from)
{
    for (std::size_t i = from; i < recordSize; ++i)
        if (in[i] != 0)
            return false;
    return true;
}
inline bool validOp(std::uint8_t op)
{
    return op >= static_cast<std::uint8_t>(Op::Query) && op <= static_cast<std::uint8_t>(Op::Tls);
}
}  // namespace detail

// Whether a request's values are within what its operation takes.
inline bool valid(const Request& r)
{
    switch (r.op) {
    case Op::Query: return r.a == 0 && r.b == 0;
    case Op::SetLines: return r.a != 0 && (r.a & ~outputLines) == 0 && (r.b & ~r.a) == 0;
    case Op::WaitLines: return r.a != 0 && (r.a & ~inputLines) == 0 && r.b == 0;
    case Op::Break:
        return (r.a == breakTimed && r.b <= maxBreakMs) || ((r.a == breakOff || r.a == breakOn) && r.b == 0);
    case Op::SetFraming: return r.a >= 5 && r.a <= 8 && r.b <= paritySpace;
    case Op::Diagnose: case Op::Watch: case Op::Drain: case Op::Monitor: case Op::Tls: return r.a == 0 && r.b == 0;
    }
    return false;
}

inline void encode(const Request& r, std::uint8_t (&out)[recordSize])
{
    detail::putHeader(out, r.op, 0);
    detail::put32(out + 8, r.a);
    detail::put32(out + 12, r.b);
    detail::put64(out + 16, r.terminal);
}

inline std::optional<Request> decodeRequest(const std::uint8_t* in, std::size_t size)
{
    if (size != recordSize || !detail::headerOk(in) || !detail::validOp(in[6]) || in[7] != 0 || !detail::zeroFrom(in, 24))
        return std::nullopt;
    const Request r{static_cast<Op>(in[6]), detail::get32(in + 8), detail::get32(in + 12), detail::get64(in + 16)};
    if (!valid(r))
        return std::nullopt;
    return r;
}

inline void encode(const Reply& r, std::uint8_t (&out)[recordSize])
{
    detail::putHeader(out, r.op, static_cast<std::uint8_t>(r.status));
    detail::put32(out + 8, r.lines);
    detail::put32(out + 12, r.counters.cts);
    detail::put32(out + 16, r.counters.dsr);
    detail::put32(out + 20, r.counters.ring);
    detail::put32(out + 24, r.counters.dcd);
    out[28] = r.dataBits;
    out[29] = r.parity;
    out[30] = r.flags;
    detail::put64(out + 32, r.terminal);
}

inline std::optional<Reply> decodeReply(const std::uint8_t* in, std::size_t size)
{
    if (size != recordSize || !detail::headerOk(in) || !detail::validOp(in[6]) || in[7] > static_cast<std::uint8_t>(Status::Busy) ||
        (in[30] & ~replyOutputPending) != 0 || in[31] != 0)
        return std::nullopt;
    Reply r;
    r.op = static_cast<Op>(in[6]);
    r.status = static_cast<Status>(in[7]);
    r.lines = detail::get32(in + 8);
    r.counters = {detail::get32(in + 12), detail::get32(in + 16), detail::get32(in + 20), detail::get32(in + 24)};
    r.dataBits = in[28];
    r.parity = in[29];
    r.flags = in[30];
    r.terminal = detail::get64(in + 32);
    if ((r.lines & ~(outputLines | inputLines)) != 0 || r.dataBits < 5 || r.dataBits > 8 || r.parity > paritySpace)
        return std::nullopt;
    return r;
}

}  // namespace vsp::control

#endif

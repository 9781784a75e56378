// The messages of a port's control channel: what a program's interposition library
// asks the library about a port's modem lines, break and framing, and the answers.
// Both directions are fixed-size records of recordSize bytes, little-endian, each
// starting with a magic number and the version; a record that is not exactly
// right (unknown operation, value out of range, a reserved byte set) is refused,
// since it comes from another process. Header-only and free of allocation, so the
// interposition library, which links nothing but libc, shares it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace vsp::control {

inline constexpr std::size_t recordSize = 32;
inline constexpr std::uint32_t magic = 0x43565151;  // "QQVC" as little-endian bytes
inline constexpr std::uint16_t version = 1;
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
};
inline constexpr std::uint8_t breakOff = 0, breakOn = 1, breakTimed = 2;

// Parity as the channel carries it: none, odd, even, mark, space.
inline constexpr std::uint32_t parityNone = 0, parityOdd = 1, parityEven = 2, parityMark = 3, paritySpace = 4;

enum class Status : std::uint8_t {
    Ok = 0,
    Unavailable = 1,  // no connection serves this port: the program sees the pty as it is
    Refused = 2,      // the request was malformed
    Gone = 3,         // the port or its connection went away during a wait
};

struct Request {
    Op op = Op::Query;
    std::uint32_t a = 0;
    std::uint32_t b = 0;
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
};

namespace detail {
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
    return op >= static_cast<std::uint8_t>(Op::Query) && op <= static_cast<std::uint8_t>(Op::SetFraming);
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
    }
    return false;
}

inline void encode(const Request& r, std::uint8_t (&out)[recordSize])
{
    detail::putHeader(out, r.op, 0);
    detail::put32(out + 8, r.a);
    detail::put32(out + 12, r.b);
}

inline std::optional<Request> decodeRequest(const std::uint8_t* in, std::size_t size)
{
    if (size != recordSize || !detail::headerOk(in) || !detail::validOp(in[6]) || in[7] != 0 || !detail::zeroFrom(in, 16))
        return std::nullopt;
    const Request r{static_cast<Op>(in[6]), detail::get32(in + 8), detail::get32(in + 12)};
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
}

inline std::optional<Reply> decodeReply(const std::uint8_t* in, std::size_t size)
{
    if (size != recordSize || !detail::headerOk(in) || !detail::validOp(in[6]) || in[7] > static_cast<std::uint8_t>(Status::Gone) ||
        !detail::zeroFrom(in, 30))
        return std::nullopt;
    Reply r;
    r.op = static_cast<Op>(in[6]);
    r.status = static_cast<Status>(in[7]);
    r.lines = detail::get32(in + 8);
    r.counters = {detail::get32(in + 12), detail::get32(in + 16), detail::get32(in + 20), detail::get32(in + 24)};
    r.dataBits = in[28];
    r.parity = in[29];
    if ((r.lines & ~(outputLines | inputLines)) != 0 || r.dataBits < 5 || r.dataBits > 8 || r.parity > paritySpace)
        return std::nullopt;
    return r;
}

}  // namespace vsp::control

// The messages of a port's control channel: what a program's interposition library
// asks the library about a port's modem lines, break and framing, and the answers;
// and, read-only, the connection's diagnostics for a status command. A Watch request
// is answered with the port's line-state page (LineStatePage.h) besides its record.
// Requests and replies are fixed-size records of recordSize bytes (a Diagnose
// request is answered with one of diagnosticsRecordSize), little-endian, each
// starting with a magic number and the version; a record that is not exactly
// right (unknown operation, value out of range, a reserved byte set) is refused,
// since it comes from another process. Header-only and free of allocation, so the
// interposition library, which links nothing but libc, shares it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace vsp::control {

inline constexpr std::size_t recordSize = 40;
inline constexpr std::uint32_t magic = 0x43565151;  // "QQVC" as little-endian bytes
inline constexpr std::uint16_t version = 3;
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
    // answers Gone. A Diagnose request, which changes nothing, may leave it 0.
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
    return op >= static_cast<std::uint8_t>(Op::Query) && op <= static_cast<std::uint8_t>(Op::Drain);
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
    case Op::Diagnose: case Op::Watch: case Op::Drain: return r.a == 0 && r.b == 0;
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

// A connection's diagnostics, the answer to Diagnose (the library's diagnostics of
// the TcpClient behind the port). Unavailable: no connection serves the port, and
// every other field is zero.
inline constexpr std::size_t diagnosticsRecordSize = 160;
inline constexpr std::size_t diagnosticsTextSize = 96;
inline constexpr std::uint8_t maxConnectionState = 7;  // the states and error kinds of vspdevices.h
inline constexpr std::uint8_t maxErrorKind = 7;

struct Diagnostics {
    Status status = Status::Ok;
    std::uint8_t state = 0;
    std::uint8_t errorKind = 0;
    bool portHeld = false;
    std::uint32_t reconnects = 0;
    std::uint64_t bytesToAdapter = 0;
    std::uint64_t bytesFromAdapter = 0;
    std::uint64_t bytesDropped = 0;
    std::uint64_t lastErrorTimeMs = 0;  // since 1970 UTC; 0 when there was no error
    std::uint64_t upTimeMs = 0;
    // UTF-8 without control characters, NUL-ended, the rest NUL; empty when no error.
    char lastErrorText[diagnosticsTextSize] = {};
};

namespace detail {
inline constexpr std::size_t textAt = 56;
inline constexpr std::uint64_t maxMs = std::uint64_t{1} << 62;  // far beyond any time, well within int64

// The length of the well-formed UTF-8 character at `in` (at most `size` bytes
// available), or 0 when it is malformed or a control character.
inline std::size_t utf8Character(const std::uint8_t* in, std::size_t size)
{
    const std::uint8_t c = in[0];
    if (c < 0x20 || c == 0x7F)
        return 0;
    if (c < 0x80)
        return 1;
    std::size_t length = 0;
    std::uint8_t low = 0x80, high = 0xBF;  // the second byte's range
    if (c >= 0xC2 && c <= 0xDF)
        length = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        low = c == 0xE0 ? 0xA0 : 0x80;
        high = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF;
    } else
        return 0;
    if (length > size || in[1] < low || in[1] > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if ((in[i] & 0xC0) != 0x80)
            return 0;
    return length;
}
}  // namespace detail

// Puts a text into the record's text field: well-formed characters as they are,
// every malformed byte or control character as '?', cut at a character boundary.
inline void setText(Diagnostics& d, const char* text, std::size_t size)
{
    const auto* in = reinterpret_cast<const std::uint8_t*>(text);
    std::size_t at = 0, out = 0;
    while (at < size && in[at] != 0) {
        const std::size_t length = detail::utf8Character(in + at, size - at);
        const std::size_t width = length ? length : 1;
        if (out + width > diagnosticsTextSize - 1)
            break;
        for (std::size_t i = 0; i < width; ++i)
            d.lastErrorText[out++] = length ? static_cast<char>(in[at + i]) : '?';
        at += width;
    }
    for (; out < diagnosticsTextSize; ++out)
        d.lastErrorText[out] = 0;
}

inline void encode(const Diagnostics& d, std::uint8_t (&out)[diagnosticsRecordSize])
{
    for (std::size_t i = 0; i < diagnosticsRecordSize; ++i)
        out[i] = 0;
    detail::putHeader(out, Op::Diagnose, static_cast<std::uint8_t>(d.status));
    out[8] = d.state;
    out[9] = d.errorKind;
    out[10] = d.portHeld ? 1 : 0;
    detail::put32(out + 12, d.reconnects);
    detail::put64(out + 16, d.bytesToAdapter);
    detail::put64(out + 24, d.bytesFromAdapter);
    detail::put64(out + 32, d.bytesDropped);
    detail::put64(out + 40, d.lastErrorTimeMs);
    detail::put64(out + 48, d.upTimeMs);
    for (std::size_t i = 0; i < diagnosticsTextSize; ++i)
        out[detail::textAt + i] = static_cast<std::uint8_t>(d.lastErrorText[i]);
}

inline std::optional<Diagnostics> decodeDiagnostics(const std::uint8_t* in, std::size_t size)
{
    if (size != diagnosticsRecordSize || !detail::headerOk(in) || in[6] != static_cast<std::uint8_t>(Op::Diagnose))
        return std::nullopt;
    const auto status = static_cast<Status>(in[7]);
    if ((status != Status::Ok && status != Status::Unavailable) || in[8] > maxConnectionState ||
        in[9] > maxErrorKind || in[10] > 1 || in[11] != 0)
        return std::nullopt;
    for (std::size_t i = detail::textAt + diagnosticsTextSize; i < diagnosticsRecordSize; ++i)
        if (in[i] != 0)
            return std::nullopt;
    Diagnostics d;
    d.status = status;
    d.state = in[8];
    d.errorKind = in[9];
    d.portHeld = in[10] == 1;
    d.reconnects = detail::get32(in + 12);
    d.bytesToAdapter = detail::get64(in + 16);
    d.bytesFromAdapter = detail::get64(in + 24);
    d.bytesDropped = detail::get64(in + 32);
    d.lastErrorTimeMs = detail::get64(in + 40);
    d.upTimeMs = detail::get64(in + 48);
    if (d.lastErrorTimeMs >= detail::maxMs || d.upTimeMs >= detail::maxMs)
        return std::nullopt;
    // The text: whole characters up to a NUL, nothing but NULs after it.
    const std::uint8_t* text = in + detail::textAt;
    std::size_t at = 0;
    while (at < diagnosticsTextSize && text[at] != 0) {
        const std::size_t length = detail::utf8Character(text + at, diagnosticsTextSize - at);
        if (length == 0)
            return std::nullopt;
        at += length;
    }
    if (at == diagnosticsTextSize)
        return std::nullopt;  // no NUL
    for (std::size_t i = at; i < diagnosticsTextSize; ++i)
        if (text[i] != 0)
            return std::nullopt;
    for (std::size_t i = 0; i < diagnosticsTextSize; ++i)
        d.lastErrorText[i] = static_cast<char>(text[i]);
    // No error means no text and no time; an error has its time.
    if ((d.errorKind == 0) != (d.lastErrorTimeMs == 0) || (d.errorKind == 0 && at != 0))
        return std::nullopt;
    const bool nothing = d.state == 0 && d.errorKind == 0 && !d.portHeld && d.reconnects == 0 && d.bytesToAdapter == 0 &&
                         d.bytesFromAdapter == 0 && d.bytesDropped == 0 && d.upTimeMs == 0;
    if (status == Status::Unavailable && !nothing)
        return std::nullopt;
    return d;
}

}  // namespace vsp::control

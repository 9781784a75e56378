// A connection's diagnostics as the control channel carries them (format version 5
// of vspdevices_control.h): the library answers a Diagnose request with this record,
// the service's status command reads it. It is the channel's fixed-size,
// allocation-free form of struct vsp_diagnostics (vspdevices.h), whose states,
// error kinds and text length it shares. The record is diagnosticsRecordSize (160)
// bytes, little-endian, after the common header:
//   8 state   9 error kind   10 port held (0/1)   11 zero   12-15 reconnects
//   16-23 bytes to the adapter   24-31 bytes from it   32-39 bytes dropped
//   40-47 time of the last error (ms since 1970 UTC, 0 when none)   48-55 up time (ms)
//   56-151 the last error's text (UTF-8, no control character, NUL-ended, NUL-padded)
//   152-159 zero
// A Tls request is answered with the TLS record, tlsRecordSize (200) bytes:
//   8 TLS (0/1)   9-15 zero   16-31 the TLS version ("TLSv1.3" while connected)
//   32-127 the adapter's certificate's subject   128-199 its SHA-256 fingerprint
//   (64 lowercase hex digits, or empty); texts as the error's text above.
#ifndef VSPDEVICES_CONTROL_DIAGNOSTICS_H
#define VSPDEVICES_CONTROL_DIAGNOSTICS_H

#include "vspdevices.h"
#include "vspdevices_control.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace vsp::control {

// A connection's diagnostics, the answer to Diagnose (the library's diagnostics of
// the TcpClient behind the port). Unavailable: no connection serves the port, and
// every other field is zero.
inline constexpr std::size_t diagnosticsRecordSize = 160;
inline constexpr std::size_t diagnosticsTextSize = VSP_DIAGNOSTICS_TEXT;
inline constexpr std::uint8_t maxConnectionState = VSP_STATE_RETRY_WAIT;  // VSP_STATE_*
inline constexpr std::uint8_t maxErrorKind = VSP_ERROR_TLS;               // VSP_ERROR_*

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

// The connection's TLS, the answer to Tls (vsp_diagnostics' TLS fields).
// Unavailable: no connection serves the port, and every other field is zero.
inline constexpr std::size_t tlsRecordSize = 200;
inline constexpr std::size_t tlsVersionSize = VSP_TLS_VERSION_TEXT;
inline constexpr std::size_t fingerprintSize = VSP_FINGERPRINT_TEXT;

struct Tls {
    Status status = Status::Ok;
    bool tls = false;
    char version[tlsVersionSize] = {};
    char subject[diagnosticsTextSize] = {};
    char fingerprint[fingerprintSize] = {};
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

// Puts a text into a record's text field of `fieldSize` bytes: well-formed
// characters as they are, every malformed byte or control character as '?', cut
// at a character boundary, NUL-ended and NUL-padded.
inline void putText(char* field, std::size_t fieldSize, const char* text, std::size_t size)
{
    const auto* in = reinterpret_cast<const std::uint8_t*>(text);
    std::size_t at = 0, out = 0;
    while (at < size && in[at] != 0) {
        const std::size_t length = utf8Character(in + at, size - at);
        const std::size_t width = length ? length : 1;
        if (out + width > fieldSize - 1)
            break;
        for (std::size_t i = 0; i < width; ++i)
            field[out++] = length ? static_cast<char>(in[at + i]) : '?';
        at += width;
    }
    for (; out < fieldSize; ++out)
        field[out] = 0;
}

// A received text field: whole characters up to a NUL, nothing but NULs after it;
// its length, or none.
inline std::optional<std::size_t> textLength(const std::uint8_t* text, std::size_t fieldSize)
{
    std::size_t at = 0;
    while (at < fieldSize && text[at] != 0) {
        const std::size_t length = utf8Character(text + at, fieldSize - at);
        if (length == 0)
            return std::nullopt;
        at += length;
    }
    if (at == fieldSize)
        return std::nullopt;  // no NUL
    for (std::size_t i = at; i < fieldSize; ++i)
        if (text[i] != 0)
            return std::nullopt;
    return at;
}
}  // namespace detail

inline void setText(Diagnostics& d, const char* text, std::size_t size)
{
    detail::putText(d.lastErrorText, diagnosticsTextSize, text, size);
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
    const std::uint8_t* text = in + detail::textAt;
    const auto length = detail::textLength(text, diagnosticsTextSize);
    if (!length)
        return std::nullopt;
    const std::size_t at = *length;
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

namespace detail {
inline constexpr std::size_t versionAt = 16, subjectAt = 32, fingerprintAt = 128;
}

inline void encode(const Tls& t, std::uint8_t (&out)[tlsRecordSize])
{
    for (std::size_t i = 0; i < tlsRecordSize; ++i)
        out[i] = 0;
    detail::putHeader(out, Op::Tls, static_cast<std::uint8_t>(t.status));
    out[8] = t.tls ? 1 : 0;
    const auto copy = [&](const char* field, std::size_t size, std::size_t at) {
        for (std::size_t i = 0; i < size; ++i)
            out[at + i] = static_cast<std::uint8_t>(field[i]);
    };
    copy(t.version, tlsVersionSize, detail::versionAt);
    copy(t.subject, diagnosticsTextSize, detail::subjectAt);
    copy(t.fingerprint, fingerprintSize, detail::fingerprintAt);
}

inline std::optional<Tls> decodeTls(const std::uint8_t* in, std::size_t size)
{
    if (size != tlsRecordSize || !detail::headerOk(in) || in[6] != static_cast<std::uint8_t>(Op::Tls) || in[8] > 1)
        return std::nullopt;
    const auto status = static_cast<Status>(in[7]);
    if (status != Status::Ok && status != Status::Unavailable)
        return std::nullopt;
    for (std::size_t i = 9; i < detail::versionAt; ++i)
        if (in[i] != 0)
            return std::nullopt;
    const auto version = detail::textLength(in + detail::versionAt, tlsVersionSize);
    const auto subject = detail::textLength(in + detail::subjectAt, diagnosticsTextSize);
    const auto fingerprint = detail::textLength(in + detail::fingerprintAt, fingerprintSize);
    if (!version || !subject || !fingerprint || (*fingerprint != 0 && *fingerprint != 64))
        return std::nullopt;
    Tls t;
    t.status = status;
    t.tls = in[8] == 1;
    for (std::size_t i = 0; i < *fingerprint; ++i) {
        const std::uint8_t c = in[detail::fingerprintAt + i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return std::nullopt;
    }
    // Nothing without TLS, and nothing at all when no connection serves the port.
    if ((!t.tls || status == Status::Unavailable) && (*version != 0 || *subject != 0 || *fingerprint != 0))
        return std::nullopt;
    if (status == Status::Unavailable && t.tls)
        return std::nullopt;
    for (std::size_t i = 0; i < tlsVersionSize; ++i)
        t.version[i] = static_cast<char>(in[detail::versionAt + i]);
    for (std::size_t i = 0; i < diagnosticsTextSize; ++i)
        t.subject[i] = static_cast<char>(in[detail::subjectAt + i]);
    for (std::size_t i = 0; i < fingerprintSize; ++i)
        t.fingerprint[i] = static_cast<char>(in[detail::fingerprintAt + i]);
    return t;
}

}  // namespace vsp::control

#endif

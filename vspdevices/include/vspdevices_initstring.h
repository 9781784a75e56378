// The initialization strings of the library's two devices, as vsp_createDevice takes
// them and configuration files keep them:
//   Connector  "<com>;<reserved number>"   (the program writes "<com>;0")
//   TcpClient  "<host>;<port>;<com>;<baud>,<dtrRts>,<dataBits>,<stopBits>,<parity>,<readTimeoutMs>;<telnet>;<onDemand>;"
//              and, for a connection over TLS, one field more before the last ";":
//              "...;<onDemand>;tls[,pin=<sha256>][,cert=<path>][,key=<path>];"
// A string without TLS keeps its seven fields, so every file written before TLS
// reads as it did; a reader that predates TLS refuses an eight-field string
// (and with it the file) instead of connecting in the clear.
// The TLS field: "tls" first, then items in any order, each at most once:
//   pin   the SHA-256 of the adapter's certificate (DER): 64 hex digits, pairs
//         optionally joined by ":" (kept as 64 lowercase digits)
//   cert  the client certificate (PEM), an absolute path
//   key   its private key (PEM), an absolute path; without it, in cert's file
// In a path, "%", ";", ",", "=" and control characters are written as %XX.
// Fields are split at every ";" (the serial group's at every ","), empty ones kept;
// nothing is quoted. A number field is a whole unsigned decimal number, leading zeros
// and blanks (space, tab) around it allowed; the read timeout may also carry a sign
// and a fraction. A string is refused (nullopt) when a field is missing or extra, a
// number field is not a number, or a value is out of range.
// Header-only, so that the library and the programs that read its strings (the
// window, the service) apply one rule.
#ifndef VSPDEVICES_INITSTRING_H
#define VSPDEVICES_INITSTRING_H

#include "vspdevices_ports.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The strings' format. Configuration files keep them, so a later format reads every
// string of an earlier one as that one did, and raises this number.
#define VSPDEVICES_INITSTRING_VERSION 2

namespace vspdevices {

// The positions of the parity field: the order of the window's parity choices.
enum class Parity : std::uint8_t { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };

struct SerialSettings {
    std::uint32_t baud = 19200;
    bool dtrRts = false;  // raise DTR and RTS while an application holds the port
    std::uint8_t dataBits = 8;
    std::uint8_t stopBits = 1;
    Parity parity = Parity::None;
    double readTimeoutMs = 0;  // gather port reads until the application pauses this long
};

struct ConnectorSettings {
    int com = 0;
};

// TLS to the adapter: the certificate is trusted when it is the pinned one, or,
// with no pin, when the system's authorities vouch for it and it names the host.
struct TlsSettings {
    bool enabled = false;
    std::string pin;              // 64 lowercase hex digits, or empty
    std::string certificateFile;  // client certificate, or empty for none
    std::string keyFile;          // its key, or empty when in certificateFile
    friend bool operator==(const TlsSettings&, const TlsSettings&) = default;
};

struct TcpClientSettings {
    std::string host;  // blanks around it removed
    std::uint16_t port = 0;
    int com = 0;
    SerialSettings serial;
    bool telnet = true;     // field 4: "1" Telnet with RFC 2217, "0" raw TCP
    bool onDemand = false;  // field 5: "1" connect only while an application holds the port
    TlsSettings tls;        // field 6, when there is one
};

// The device types, compared exactly.
inline constexpr std::string_view connectorType = "Connector";
inline constexpr std::string_view tcpClientType = "TcpClient";

namespace initstring {

inline std::vector<std::string_view> split(std::string_view text, char separator)
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

inline std::string_view trimBlanks(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// A whole unsigned decimal number, at most `max`.
inline std::optional<std::uint64_t> wholeNumber(std::string_view text, std::uint64_t max)
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

inline std::optional<int> inRange(std::string_view text, int low, int high)
{
    const auto value = wholeNumber(text, static_cast<std::uint64_t>(high));
    if (!value || static_cast<int>(*value) < low)
        return std::nullopt;
    return static_cast<int>(*value);
}

// The fields one by one, each with its range.
inline std::optional<int> comNumber(std::string_view text)
{
    return inRange(text, minComNumber, maxComNumber);
}

inline std::optional<std::uint16_t> tcpPort(std::string_view text)
{
    const auto port = inRange(text, 1, 65535);
    return port ? std::optional<std::uint16_t>(static_cast<std::uint16_t>(*port)) : std::nullopt;
}

inline std::optional<std::uint32_t> baud(std::string_view text)
{
    const auto baud = wholeNumber(text, 0xFFFFFFFFu);
    return baud && *baud > 0 ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(*baud)) : std::nullopt;
}

// DTR/RTS, Telnet and on demand: "1" on, "0" off.
inline std::optional<bool> onOff(std::string_view text)
{
    const auto flag = inRange(text, 0, 1);
    return flag ? std::optional<bool>(*flag == 1) : std::nullopt;
}

inline std::optional<std::uint8_t> dataBits(std::string_view text)
{
    const auto bits = inRange(text, 5, 8);
    return bits ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(*bits)) : std::nullopt;
}

inline std::optional<std::uint8_t> stopBits(std::string_view text)
{
    const auto bits = inRange(text, 1, 2);
    return bits ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(*bits)) : std::nullopt;
}

inline std::optional<Parity> parity(std::string_view text)
{
    const auto position = inRange(text, 0, 4);
    return position ? std::optional<Parity>(static_cast<Parity>(*position)) : std::nullopt;
}

// A decimal number with optional sign and fraction, as the program writes the timeout;
// not yet brought into the range the library keeps to.
inline std::optional<double> readTimeoutMs(std::string_view text)
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

inline constexpr std::size_t maxPathLength = 4096;
inline constexpr std::size_t fingerprintLength = 64;

// A pin as written by hand or copied from a certificate tool: 64 hex digits, or
// 32 pairs joined by ":"; lowercase without ":" when it is one.
inline std::optional<std::string> fingerprint(std::string_view text)
{
    const bool joined = text.size() == fingerprintLength + fingerprintLength / 2 - 1;
    if (text.size() != fingerprintLength && !joined)
        return std::nullopt;
    std::string digits;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (joined && i % 3 == 2) {
            if (c != ':')
                return std::nullopt;
            continue;
        }
        if (c >= '0' && c <= '9')
            digits += c;
        else if ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))
            digits += static_cast<char>(c | 0x20);
        else
            return std::nullopt;
    }
    return digits;
}

inline bool escapedInPath(unsigned char c)
{
    return c < 0x20 || c == 0x7F || c == '%' || c == ';' || c == ',' || c == '=';
}

inline std::string escapePath(std::string_view path)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (escapedInPath(c)) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

// An absolute path with its %XX undone; refused when an escape is malformed, a
// character that must be escaped stands bare, or a NUL would come out.
inline std::optional<std::string> unescapePath(std::string_view text)
{
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c != '%') {
            if (escapedInPath(c))
                return std::nullopt;
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = digit(text[i + 1]), low = digit(text[i + 2]);
        if (high < 0 || low < 0 || (high == 0 && low == 0))
            return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    if (out.empty() || out.front() != '/' || out.size() > maxPathLength)
        return std::nullopt;
    return out;
}

// The TLS field; refused for an unknown or repeated item, a bad pin or path, or
// a key without a certificate.
inline std::optional<TlsSettings> tls(std::string_view text)
{
    const auto items = split(text, ',');
    if (items[0] != "tls")
        return std::nullopt;
    TlsSettings s;
    s.enabled = true;
    bool havePin = false, haveCert = false, haveKey = false;
    for (std::size_t i = 1; i < items.size(); ++i) {
        const auto at = items[i].find('=');
        if (at == std::string_view::npos)
            return std::nullopt;
        const std::string_view name = items[i].substr(0, at), value = items[i].substr(at + 1);
        if (name == "pin" && !havePin) {
            const auto pin = fingerprint(value);
            if (!pin)
                return std::nullopt;
            s.pin = *pin;
            havePin = true;
        } else if ((name == "cert" && !haveCert) || (name == "key" && !haveKey)) {
            const auto path = unescapePath(value);
            if (!path)
                return std::nullopt;
            (name == "cert" ? s.certificateFile : s.keyFile) = *path;
            (name == "cert" ? haveCert : haveKey) = true;
        } else {
            return std::nullopt;
        }
    }
    if (haveKey && !haveCert)
        return std::nullopt;
    return s;
}

// The TLS field as it is written: "" for a connection in the clear.
inline std::string tlsField(const TlsSettings& s)
{
    if (!s.enabled)
        return {};
    std::string text = "tls";
    if (!s.pin.empty())
        text += ",pin=" + s.pin;
    if (!s.certificateFile.empty())
        text += ",cert=" + escapePath(s.certificateFile);
    if (!s.keyFile.empty())
        text += ",key=" + escapePath(s.keyFile);
    return text;
}

}  // namespace initstring

inline std::optional<ConnectorSettings> parseConnector(std::string_view init)
{
    const auto fields = initstring::split(init, ';');
    if (fields.size() != 2 || !initstring::wholeNumber(fields[1], 0xFFFFFFFFu))
        return std::nullopt;
    const auto com = initstring::comNumber(fields[0]);
    if (!com)
        return std::nullopt;
    return ConnectorSettings{*com};
}

inline std::optional<TcpClientSettings> parseTcpClient(std::string_view init)
{
    using namespace initstring;
    const auto fields = split(init, ';');
    if (fields.size() != 7 && fields.size() != 8)
        return std::nullopt;
    TcpClientSettings s;
    if (fields.size() == 8) {
        const auto secured = tls(fields[6]);
        if (!secured || !fields[7].empty())
            return std::nullopt;
        s.tls = *secured;
    }
    s.host = std::string(trimBlanks(fields[0]));
    const auto port = tcpPort(fields[1]);
    const auto com = comNumber(fields[2]);
    const auto telnet = onOff(fields[4]);
    const auto onDemand = onOff(fields[5]);
    if (s.host.empty() || !port || !com || !telnet || !onDemand)
        return std::nullopt;
    s.port = *port;
    s.com = *com;
    s.telnet = *telnet;
    s.onDemand = *onDemand;

    const auto serial = split(fields[3], ',');
    if (serial.size() != 6)
        return std::nullopt;
    const auto speed = baud(serial[0]);
    const auto dtrRts = onOff(serial[1]);
    const auto bits = dataBits(serial[2]);
    const auto stop = stopBits(serial[3]);
    const auto parityPosition = parity(serial[4]);
    const auto timeout = readTimeoutMs(serial[5]);
    if (!speed || !dtrRts || !bits || !stop || !parityPosition || !timeout)
        return std::nullopt;
    s.serial = {*speed, *dtrRts, *bits, *stop, *parityPosition,
                // Negative waits mean "send at once"; a minute is far beyond any device's pause.
                std::clamp(*timeout, 0.0, 60000.0)};
    return s;
}

}  // namespace vspdevices

#endif

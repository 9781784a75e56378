// A COM <-> TCP redirect's settings: what the editor shows and yields, and what the
// initialization strings of its two devices carry (InitStrings.h builds and reads
// them). Each field holds its value (a speed is a number, parity one of the editor's
// choices); where the text standing in a field's place is no value (a ";" typed into a
// box shifted the later fields, a file was edited by hand), the field keeps that text,
// which the editor shows and the strings carry again as it was.
#pragma once

#include "vspdevices_initstring.h"

#include <QString>
#include <cstdint>
#include <optional>

// How a value is written in the strings: numbers in decimal, on/off as "1"/"0", parity
// as the position of its choice, the read timeout as numericText writes it.
QString spelled(int value);
QString spelled(std::uint32_t value);
QString spelled(bool value);
QString spelled(vspdevices::Parity value);
QString spelled(double value);
// The TLS field as the library writes it; "" for a connection in the clear.
QString spelled(const vspdevices::TlsSettings& value);

template <typename T>
struct Setting {
    std::optional<T> value;  // none when the field holds text that is no value
    QString oddText;         // that text ("" for a field the strings lacked)

    Setting() = default;
    Setting(T v) : value(v) {}
    static Setting odd(QString text)
    {
        Setting s;
        s.oddText = std::move(text);
        return s;
    }
    // The field as the strings carry it.
    QString text() const { return value ? spelled(*value) : oddText; }
    friend bool operator==(const Setting&, const Setting&) = default;
};

struct Redirect {
    Setting<int> comNumber;  // 5 for COM5
    QString host;
    Setting<std::uint16_t> port;
    Setting<std::uint32_t> baud;
    Setting<bool> dtrRts;
    Setting<int> dataBits;
    Setting<int> stopBits;
    Setting<vspdevices::Parity> parity;
    Setting<double> readTimeout;  // milliseconds
    // TLS to the adapter: off (the string keeps its seven fields) unless the string
    // carries the field. A field the library reads but spells otherwise ("pin=AA:BB:..",
    // items in another order) is odd text too, carried as it was.
    Setting<vspdevices::TlsSettings> tls = vspdevices::TlsSettings{};

    // The fields the strings it was read from lacked: the strings are not checked, so
    // one cut short leaves the fields after its end missing.
    enum Field : std::uint16_t {
        ComNumber = 1 << 0,
        Host = 1 << 1,
        Port = 1 << 2,
        SerialGroup = 1 << 3,
        Baud = 1 << 4,
        DtrRts = 1 << 5,
        DataBits = 1 << 6,
        StopBits = 1 << 7,
        Parity = 1 << 8,
        ReadTimeout = 1 << 9,
    };
    std::uint16_t missing = 0;

    // "Subscript out of range" when the field is missing.
    void need(Field field) const;
};

// The two devices of a listed redirect, by their ids in the library.
struct DevicePair {
    std::int32_t connectorId = 0;
    std::int32_t clientId = 0;
    friend bool operator==(const DevicePair&, const DevicePair&) = default;
};
// The initialization strings a redirect's devices were made from, as the library
// holds them. An update that the library refuses brings the redirect back from
// these, unchanged, even where a configuration file held strings that the editor's
// fields would not build again.
struct DeviceStrings {
    QString connectorInit;
    QString clientInit;
    friend bool operator==(const DeviceStrings&, const DeviceStrings&) = default;
};

// A COM <-> TCP redirect's settings: what the editor shows and yields, and what the
// initialization strings of its two devices carry (InitStrings.h builds and reads
// them). Every field is text as the strings hold it; DTR/RTS and parity are the
// positions of the editor's choices.
#pragma once

#include <QString>
#include <cstdint>

struct Redirect {
    QString comNumber;  // "5" for COM5
    QString host;
    QString port;
    QString baud;
    QString dtrRts;
    QString dataBits;
    QString stopBits;
    QString parity;
    QString readTimeout;

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

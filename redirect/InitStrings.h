// The initialization strings of a redirect's two devices, the only record of its
// settings, and the texts derived from them that carry ids and strings around:
//   Connector string  "<com>;0"
//   TcpClient string  "<host>;<port>;<com>;<baud>,<dtrRts>,<bits>,<stop>,<parity>,<timeout>;1;0;"
//                     and over TLS one field more: "...;1;0;tls[,pin=<hex>][,cert=<path>][,key=<path>];"
//   device record     connector id, Connector string, client id, TcpClient string, joined by char 8
//   device pair       "0" while creating, else "<connector id>;<client id>"
//   combined text     Connector string + ";" + TcpClient string
// Nothing is quoted or escaped: a ";" typed into a box shifts the later fields. The
// device library's rule for each field is vspdevices_initstring.h.
#pragma once

#include "redirect/Redirect.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace redirect {

inline constexpr const char* connectorType = "Connector";
inline constexpr const char* tcpClientType = "TcpClient";
inline constexpr QChar recordSeparator = QChar(8);

// The COM port box's text upper-cased, with every "COM" removed: "com12" gives "12".
QString comPortNumber(const QString& comPortText);

// "COM" followed by the number: the text of a list row and of a COM port box entry.
QString comPortName(const QString& comNumber);

// The two strings of a redirect's devices: its values as the library reads them, a
// field's odd text as it stands (the read timeout's as its numeric value).
QString connectorInitOf(const Redirect& redirect);
QString tcpClientInitOf(const Redirect& redirect);

// A field's text as a redirect holds it: the value the device library reads from it
// when the value is written back as the same text ("5", not "05" nor " 5"), else the
// text itself. A choice's position (DTR/RTS, parity) is read from its text too: "-1",
// no choice, is kept as that text.
Setting<int> comNumberFrom(const QString& text);
Setting<std::uint16_t> tcpPortFrom(const QString& text);
Setting<std::uint32_t> baudFrom(const QString& text);
Setting<bool> onOffFrom(const QString& text);
Setting<int> dataBitsFrom(const QString& text);
Setting<int> stopBitsFrom(const QString& text);
Setting<vspdevices::Parity> parityFrom(const QString& text);
Setting<double> readTimeoutFrom(const QString& text);
// The TLS field: "" is a connection in the clear.
Setting<vspdevices::TlsSettings> tlsFrom(const QString& text);
// What a TLS setting asks for as the library reads it: the value, or what its odd
// text reads as; none for a text the library refuses.
std::optional<vspdevices::TlsSettings> tlsAskedFor(const Setting<vspdevices::TlsSettings>& tls);

// A TcpClient string with the adapter's certificate pinned (64 hex digits): its TLS
// field rewritten with the pin, every other field as it stands; none when the
// string has no TLS field the library reads.
std::optional<QString> pinnedClientInit(const QString& clientInit, const QString& fingerprint);

// A redirect read back from a combined text: its fields where they stand (a ";" or
// "," typed into a box shifts the later ones), and those a short text lacks missing.
Redirect redirectFromCombinedText(const QString& combinedText);
// The same from a TcpClient's string alone (the COM number its third field), or from
// a Connector's (the COM number only).
Redirect redirectFromClientInit(const QString& clientInit);
Redirect redirectFromConnectorInit(const QString& connectorInit);
// The combined text taken apart again at its third field, as the two strings to
// create the devices from; false when it has fewer than three fields.
bool splitCombinedText(const QString& combinedText, QString& connectorInit, QString& clientInit);

// Every field, empty ones included, with no limit on their number.
QStringList splitFields(const QString& text, QChar separator);

// Field `index` of a split; a missing field throws Subscript out of range.
const QString& field(const QStringList& fields, qsizetype index);

QString buildDeviceRecord(const QString& connectorId, const QString& connectorInit,
                          const QString& clientId, const QString& clientInit);

// "0" for a new redirect, else "<connector id>;<client id>".
QString buildDevicePair(const QString& connectorId, const QString& clientId);
inline const QString newRedirectPair = QStringLiteral("0");

QString buildCombinedText(const QString& connectorInit, const QString& clientInit);

// The device pair an editor was given as text: none for "0", else the two ids;
// Subscript out of range when an id is missing, Type mismatch for one that is not
// a whole number.
std::optional<DevicePair> devicePairFromText(const QString& devicePair);
// The two strings of a combined text; none when it has fewer than three fields.
std::optional<DeviceStrings> deviceStringsOf(const QString& combinedText);

// A device id as the device commands take it: the 16-bit signed conversion
// (Overflow outside -32768..32767).
std::int16_t deviceIdForCommand(std::int32_t id);

}  // namespace redirect

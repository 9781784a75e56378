// The initialization strings of a redirect's two devices, the only record of its
// settings, and the texts derived from them that carry ids and strings around:
//   Connector string  "<com>;0"
//   TcpClient string  "<host>;<port>;<com>;<baud>,<dtrRts>,<bits>,<stop>,<parity>,<timeout>;1;0;"
//   device record     connector id, Connector string, client id, TcpClient string, joined by char 8
//   device pair       "0" while creating, else "<connector id>;<client id>"
//   combined text     Connector string + ";" + TcpClient string
// Nothing is quoted or escaped: a ";" typed into a box shifts the later fields.
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

QString buildConnectorInit(const QString& comNumber);

QString buildTcpClientInit(const QString& host, const QString& port, const QString& comNumber,
                           const QString& baud, std::int16_t dtrRtsIndex, const QString& dataBits,
                           const QString& stopBits, std::int16_t parityIndex, const QString& readTimeout);

// The two strings of a redirect's devices.
QString connectorInitOf(const Redirect& redirect);
QString tcpClientInitOf(const Redirect& redirect);

// A redirect read back from a combined text: its fields where they stand (a ";" or
// "," typed into a box shifts the later ones), and those a short text lacks missing.
Redirect redirectFromCombinedText(const QString& combinedText);
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

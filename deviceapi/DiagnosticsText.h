// A redirect's diagnostics in words, as its row's tooltip shows them: where the port
// is, what the connection is doing and why it last failed, what it carried, what
// the adapter confirmed and whether an application holds the port; over TLS, its
// version and the adapter's certificate, and loudly when that certificate changed.
#pragma once

#include "vspdevices.h"

#include <QDateTime>
#include <QString>
#include <chrono>
#include <optional>

namespace diagnostics {

// A redirect down this long without a break counts as one whose adapter cannot be reached.
inline constexpr std::chrono::seconds unreachableAfter{60};
// From this many reconnects on, a connection that is down or younger than
// stableAfter is said to keep reconnecting.
inline constexpr std::uint32_t keepsReconnectingFrom = 3;
inline constexpr std::chrono::seconds stableAfter{60};

struct RedirectDiagnostics {
    QString comPort;    // "COM5"
    QString portPath;   // the port's full path, empty when not known
    QString host;       // the adapter's address and port, as in the TcpClient string
    QString hostPort;
    bool hasClient = false;  // the row has a TcpClient, whether or not it gave diagnostics
    std::optional<vsp_diagnostics> client;
    std::optional<vsp_diagnostics> connector;
    // How long the connection has been down without a break, as its watcher saw it.
    std::chrono::milliseconds downFor{0};
    QDateTime now = QDateTime::currentDateTime();
};

// The whole tooltip, one fact a line.
QString DiagnosticsText(const RedirectDiagnostics& redirect);

// The parts, for the balloon and the tests.
QString stateWords(const vsp_diagnostics& client, const QString& host, const QString& hostPort);
// "connection refused by 10.0.0.7:3001, 12:04:31"; empty when there was no failure.
QString lastErrorWords(const vsp_diagnostics& client, const QString& host, const QString& hostPort,
                       const QDateTime& now);
// The adapter's certificate as the library saw it last: its SHA-256 as 64 lowercase
// hex digits ("" when none was seen or the field holds anything else), its subject
// in one line, control characters dropped.
QString peerFingerprint(const vsp_diagnostics& client);
QString peerSubject(const vsp_diagnostics& client);
// "10.0.0.7:3001", "[fe80::1]:3001": an adapter's address and port as the texts name them.
QString endpointWords(const QString& host, const QString& hostPort);
// A fingerprint as people compare it: "AB:01:...", colon-separated upper-case pairs.
QString fingerprintWords(const QString& hexDigits);
// "45 s", "3 min 05 s", "2 h 03 min", "4 d 02 h".
QString durationWords(std::chrono::milliseconds duration);
// Whether the connection is being tried and not made (looking up, connecting, waiting to retry).
bool isDown(const vsp_diagnostics& client);
bool isConnected(const vsp_diagnostics& client);

}  // namespace diagnostics

#include "deviceapi/DiagnosticsText.h"

#include <QRegularExpression>
#include <QTimeZone>
#include <QStringList>
#include <cstring>

namespace diagnostics {
namespace {

QString endpoint(const QString& host, const QString& hostPort)
{
    // An IPv6 address in brackets, so that its port stands apart.
    const QString shownHost = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return shownHost + QLatin1Char(':') + hostPort;
}

// A text of the library's, bounded by its field and with control characters dropped.
template <std::size_t N>
QString libraryText(const char (&field)[N])
{
    const std::size_t length = ::strnlen(field, N);
    QString text = QString::fromUtf8(field, static_cast<qsizetype>(length));
    text.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    return text.trimmed();
}

QString libraryText(const vsp_diagnostics& client)
{
    return libraryText(client.lastErrorText);
}

// The TLS lines of a TcpClient that connects over TLS.
void addTlsLines(QStringList& lines, const vsp_diagnostics& client)
{
    const QString version = libraryText(client.tlsVersion);
    lines << QStringLiteral("TLS: ") + (isConnected(client) && !version.isEmpty() ? version : QStringLiteral("not connected"));
    const QString fingerprint = peerFingerprint(client);
    if (fingerprint.isEmpty())
        return;
    const QString subject = peerSubject(client);
    lines << QStringLiteral("Adapter certificate: ") + (subject.isEmpty() ? QStringLiteral("(no subject)") : subject);
    lines << QStringLiteral("SHA-256: ") + fingerprintWords(fingerprint);
    if (!isConnected(client) && client.lastErrorKind == VSP_ERROR_CERTIFICATE_CHANGED)
        lines << QStringLiteral("REFUSED: this is not the certificate trusted for the adapter. If the adapter was given "
                                "a new one, clear and check TLS in the redirect's properties to trust it afresh.");
}

// The time limit a timed-out attempt had, as the library wrote it (" within 5 s").
QString timeLimitOf(const QString& text)
{
    static const QRegularExpression within(QStringLiteral(" within (\\d+) s$"));
    const QRegularExpressionMatch match = within.match(text);
    return match.hasMatch() ? QStringLiteral(" for ") + match.captured(1) + QStringLiteral(" s") : QString();
}

QString whenWords(std::int64_t msSinceEpoch, const QDateTime& now)
{
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(msSinceEpoch).toTimeZone(now.timeZone());
    return when.date() == now.date() ? when.toString(QStringLiteral("HH:mm:ss"))
                                     : when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString parityWords(std::int32_t parity)
{
    switch (parity) {
    case 1: return QStringLiteral("no parity");
    case 2: return QStringLiteral("odd parity");
    case 3: return QStringLiteral("even parity");
    case 4: return QStringLiteral("mark parity");
    case 5: return QStringLiteral("space parity");
    default: return QStringLiteral("parity ?");
    }
}

QString acknowledgedWords(const vsp_diagnostics& client)
{
    if (client.ackBaud < 0 && client.ackDataSize < 0 && client.ackParity < 0 && client.ackStopSize < 0)
        return QString();
    const QString unknown = QStringLiteral("?");
    QStringList parts;
    parts << (client.ackBaud >= 0 ? QString::number(client.ackBaud) : unknown) + QStringLiteral(" baud");
    parts << (client.ackDataSize >= 0 ? QString::number(client.ackDataSize) : unknown) + QStringLiteral(" data bits");
    parts << parityWords(client.ackParity);
    const QString stop = client.ackStopSize == 3 ? QStringLiteral("1.5")
                         : client.ackStopSize >= 0 ? QString::number(client.ackStopSize)
                                                   : unknown;
    parts << stop + (stop == QLatin1String("1") ? QStringLiteral(" stop bit") : QStringLiteral(" stop bits"));
    return parts.join(QStringLiteral(", "));
}

bool keepsReconnecting(const vsp_diagnostics& client)
{
    return client.reconnects >= keepsReconnectingFrom &&
           (!isConnected(client) || client.upTimeMs < std::chrono::milliseconds(stableAfter).count());
}

}  // namespace

bool isDown(const vsp_diagnostics& client)
{
    return client.state == VSP_STATE_RESOLVING || client.state == VSP_STATE_CONNECTING ||
           client.state == VSP_STATE_RETRY_WAIT;
}

bool isConnected(const vsp_diagnostics& client)
{
    return client.state == VSP_STATE_NEGOTIATING || client.state == VSP_STATE_UP || client.state == VSP_STATE_CLOSING;
}

QString stateWords(const vsp_diagnostics& client, const QString& host, const QString& hostPort)
{
    switch (client.state) {
    case VSP_STATE_STOPPED: return QStringLiteral("emulation is off");
    case VSP_STATE_IDLE: return QStringLiteral("waiting for an application to open the port");
    case VSP_STATE_RESOLVING: return QStringLiteral("looking up ") + host;
    case VSP_STATE_CONNECTING: return QStringLiteral("connecting to ") + endpoint(host, hostPort);
    case VSP_STATE_NEGOTIATING:
        return QStringLiteral("connected to ") + endpoint(host, hostPort) +
               QStringLiteral(", waiting for the adapter to confirm the port settings");
    case VSP_STATE_UP: return QStringLiteral("connected to ") + endpoint(host, hostPort);
    case VSP_STATE_CLOSING: return QStringLiteral("closing, sending the last bytes");
    case VSP_STATE_RETRY_WAIT: return QStringLiteral("down, trying again shortly");
    default: return QStringLiteral("unknown");
    }
}

QString lastErrorWords(const vsp_diagnostics& client, const QString& host, const QString& hostPort,
                       const QDateTime& now)
{
    const QString at = endpoint(host, hostPort);
    const QString text = libraryText(client);
    QString words;
    switch (client.lastErrorKind) {
    case VSP_ERROR_NONE: return QString();
    case VSP_ERROR_REFUSED: words = QStringLiteral("connection refused by ") + at; break;
    case VSP_ERROR_TIMED_OUT:
        words = (text.contains(QStringLiteral("look-up")) ? QStringLiteral("no answer looking up ") + host
                                                          : QStringLiteral("no answer from ") + at) +
                timeLimitOf(text);
        break;
    case VSP_ERROR_NAME_NOT_FOUND: words = QStringLiteral("name ") + host + QStringLiteral(" not found"); break;
    case VSP_ERROR_RESET: words = QStringLiteral("connection reset by ") + at; break;
    case VSP_ERROR_CLOSED_BY_PEER: words = QStringLiteral("connection closed by ") + at; break;
    case VSP_ERROR_UNREACHABLE: words = at + QStringLiteral(" unreachable"); break;
    case VSP_ERROR_CERTIFICATE_UNKNOWN: words = QStringLiteral("certificate of ") + at + QStringLiteral(" not trusted"); break;
    case VSP_ERROR_CERTIFICATE_CHANGED:
        words = QStringLiteral("certificate of ") + at + QStringLiteral(" CHANGED, connection refused");
        break;
    case VSP_ERROR_TLS:
        words = QStringLiteral("TLS with ") + at + QStringLiteral(" failed") +
                (text.isEmpty() ? QString() : QStringLiteral(": ") + text);
        break;
    default:
        words = text.isEmpty() ? QStringLiteral("connection failed") : QStringLiteral("connection failed: ") + text;
        break;
    }
    if (client.lastErrorTimeMs > 0)
        words += QStringLiteral(", ") + whenWords(client.lastErrorTimeMs, now);
    return words;
}

QString endpointWords(const QString& host, const QString& hostPort)
{
    return endpoint(host, hostPort);
}

QString peerFingerprint(const vsp_diagnostics& client)
{
    const QString text = QString::fromLatin1(client.peerFingerprint,
                                              static_cast<qsizetype>(::strnlen(client.peerFingerprint, sizeof client.peerFingerprint)));
    static const QRegularExpression digits(QStringLiteral("^[0-9a-f]{64}$"));
    return digits.match(text).hasMatch() ? text : QString();
}

QString peerSubject(const vsp_diagnostics& client)
{
    return libraryText(client.peerSubject);
}

QString fingerprintWords(const QString& hexDigits)
{
    QStringList pairs;
    for (qsizetype i = 0; i < hexDigits.size(); i += 2)
        pairs << hexDigits.mid(i, 2).toUpper();
    return pairs.join(QLatin1Char(':'));
}

QString durationWords(std::chrono::milliseconds duration)
{
    const qint64 seconds = std::max<qint64>(0, duration.count() / 1000);
    const auto two = [](qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    if (seconds < 60)
        return QString::number(seconds) + QStringLiteral(" s");
    if (seconds < 3600)
        return QString::number(seconds / 60) + QStringLiteral(" min ") + two(seconds % 60) + QStringLiteral(" s");
    if (seconds < 86400)
        return QString::number(seconds / 3600) + QStringLiteral(" h ") + two(seconds / 60 % 60) +
               QStringLiteral(" min");
    return QString::number(seconds / 86400) + QStringLiteral(" d ") + two(seconds / 3600 % 24) + QStringLiteral(" h");
}

QString DiagnosticsText(const RedirectDiagnostics& redirect)
{
    QStringList lines;
    lines << redirect.comPort + QStringLiteral(": ") +
                 (redirect.portPath.isEmpty() ? QStringLiteral("no port path known") : redirect.portPath);
    if (redirect.client) {
        const vsp_diagnostics& client = *redirect.client;
        lines << QStringLiteral("Connection: ") + stateWords(client, redirect.host, redirect.hostPort);
        if (redirect.downFor >= unreachableAfter)
            lines << QStringLiteral("The adapter cannot be reached: down for ") + durationWords(redirect.downFor);
        if (client.upTimeMs > 0)
            lines << QStringLiteral("Up for ") + durationWords(std::chrono::milliseconds(client.upTimeMs));
        const QString error = lastErrorWords(client, redirect.host, redirect.hostPort, redirect.now);
        if (!error.isEmpty())
            lines << QStringLiteral("Last error: ") + error;
        if (client.tls == 1)
            addTlsLines(lines, client);
        lines << QStringLiteral("Bytes to the adapter: ") + QString::number(client.bytesToAdapter) +
                     QStringLiteral(", from it: ") + QString::number(client.bytesFromAdapter);
        lines << QStringLiteral("Bytes dropped while disconnected: ") + QString::number(client.bytesDropped);
        lines << (keepsReconnecting(client) ? QStringLiteral("Reconnecting: %1 times").arg(client.reconnects)
                                            : QStringLiteral("Reconnects: %1").arg(client.reconnects));
        // What an adapter confirmed holds for its connection only; an older library
        // still reports the last connection's after a drop.
        const QString acknowledged = acknowledgedWords(client);
        if (!isConnected(client))
            lines << QStringLiteral("Serial settings: none acknowledged while not connected");
        else if (acknowledged.isEmpty())
            lines << QStringLiteral("Serial settings: not acknowledged by the adapter");
        else
            lines << QStringLiteral("Serial settings the adapter acknowledged: ") + acknowledged;
    } else if (redirect.hasClient) {
        lines << QStringLiteral("Connection: the device library gives no diagnostics");
    } else {
        lines << QStringLiteral("Connection: no TcpClient");
    }
    const std::optional<vsp_diagnostics>& holder = redirect.connector ? redirect.connector : redirect.client;
    if (holder)
        lines << (holder->portHeld == 1 ? QStringLiteral("An application holds the port")
                                        : QStringLiteral("No application holds the port"));
    return lines.join(QLatin1Char('\n'));
}

}  // namespace diagnostics

// A redirect's diagnostics in words: the cases a live connection cannot be made to
// show on demand (an unreachable network, another day's failure, a hostile text, a
// connection that keeps coming and going, a partial acknowledgement).
#include "deviceapi/DiagnosticsText.h"

#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

using namespace diagnostics;
using namespace std::chrono_literals;

vsp_diagnostics down(int kind, const char* text = "")
{
    vsp_diagnostics d{};
    d.size = sizeof d;
    d.state = VSP_STATE_RETRY_WAIT;
    d.lastErrorKind = kind;
    d.ackBaud = -1;
    d.ackDataSize = d.ackParity = d.ackStopSize = d.lineState = d.modemState = -1;
    std::strncpy(d.lastErrorText, text, sizeof d.lastErrorText - 1);
    return d;
}

const QDateTime noon(QDate(2026, 12, 8), QTime(12, 0), QTimeZone::utc());

TEST(DiagnosticsText, NamesEachFailureWithItsPeerAndTime)
{
    auto words = [](vsp_diagnostics d, const QString& host = "10.0.0.7") {
        d.lastErrorTimeMs = QDateTime(QDate(2026, 12, 8), QTime(12, 4, 31), QTimeZone::utc()).toMSecsSinceEpoch();
        return lastErrorWords(d, host, "3001", noon);
    };
    EXPECT_EQ(words(down(VSP_ERROR_REFUSED)), "connection refused by 10.0.0.7:3001, 12:04:31");
    EXPECT_EQ(words(down(VSP_ERROR_NAME_NOT_FOUND), "adapter7.lab"), "name adapter7.lab not found, 12:04:31");
    EXPECT_EQ(words(down(VSP_ERROR_TIMED_OUT, "no answer to the connection within 10 s")),
              "no answer from 10.0.0.7:3001 for 10 s, 12:04:31");
    EXPECT_EQ(words(down(VSP_ERROR_TIMED_OUT, "no answer to the name look-up of adapter7.lab within 10 s"),
                    "adapter7.lab"),
              "no answer looking up adapter7.lab for 10 s, 12:04:31");
    EXPECT_EQ(words(down(VSP_ERROR_TIMED_OUT, "read: Connection timed out")), "no answer from 10.0.0.7:3001, 12:04:31");
    EXPECT_EQ(words(down(VSP_ERROR_RESET)), "connection reset by 10.0.0.7:3001, 12:04:31");
    EXPECT_EQ(words(down(VSP_ERROR_CLOSED_BY_PEER)), "connection closed by 10.0.0.7:3001, 12:04:31");
    EXPECT_EQ(words(down(VSP_ERROR_UNREACHABLE)), "10.0.0.7:3001 unreachable, 12:04:31");
    EXPECT_EQ(words(down(VSP_ERROR_REFUSED), "fe80::1"), "connection refused by [fe80::1]:3001, 12:04:31");
    EXPECT_EQ(words(down(VSP_ERROR_CERTIFICATE_UNKNOWN)), "certificate of 10.0.0.7:3001 not trusted, 12:04:31");
    EXPECT_EQ(words(down(VSP_ERROR_CERTIFICATE_CHANGED)),
              "certificate of 10.0.0.7:3001 CHANGED, connection refused, 12:04:31");
    EXPECT_EQ(words(down(VSP_ERROR_TLS, "no common protocol version")),
              "TLS with 10.0.0.7:3001 failed: no common protocol version, 12:04:31");
    EXPECT_EQ(lastErrorWords(down(VSP_ERROR_NONE), "h", "1", noon), "");

    // A failure of another day carries its date.
    vsp_diagnostics earlier = down(VSP_ERROR_REFUSED);
    earlier.lastErrorTimeMs = QDateTime(QDate(2026, 12, 7), QTime(23, 59, 59), QTimeZone::utc()).toMSecsSinceEpoch();
    EXPECT_EQ(lastErrorWords(earlier, "h", "1", noon), "connection refused by h:1, 2026-12-07 23:59:59");
}

TEST(DiagnosticsText, PassesAnUnknownFailureOnBoundedAndWithoutControlCharacters)
{
    vsp_diagnostics d = down(VSP_ERROR_OTHER);
    std::memset(d.lastErrorText, 'x', sizeof d.lastErrorText);  // no terminator at all
    d.lastErrorText[3] = '\n';
    d.lastErrorText[4] = '\x1b';
    const QString words = lastErrorWords(d, "h", "1", noon);
    EXPECT_EQ(words, "connection failed: " + QString(VSP_DIAGNOSTICS_TEXT - 2, 'x'));
}

TEST(DiagnosticsText, SaysWhenAConnectionKeepsReconnecting)
{
    RedirectDiagnostics redirect{.comPort = "COM5", .portPath = "/run/p/COM5", .host = "h", .hostPort = "1"};
    vsp_diagnostics d = down(VSP_ERROR_CLOSED_BY_PEER);
    d.state = VSP_STATE_UP;
    d.upTimeMs = 400;
    d.reconnects = 12;
    redirect.client = d;
    EXPECT_TRUE(DiagnosticsText(redirect).contains("\nReconnecting: 12 times\n"));
    redirect.client->upTimeMs = 2 * 3600 * 1000;  // up for long since
    EXPECT_TRUE(DiagnosticsText(redirect).contains("\nReconnects: 12\n"));
    redirect.client->reconnects = 2;
    redirect.client->upTimeMs = 400;
    EXPECT_TRUE(DiagnosticsText(redirect).contains("\nReconnects: 2\n"));
    EXPECT_TRUE(DiagnosticsText(redirect).contains("\nUp for 0 s\n"));
}

TEST(DiagnosticsText, ListsEveryFactOfARedirectOnItsOwnLine)
{
    RedirectDiagnostics redirect{.comPort = "COM5", .portPath = "/run/p/COM5", .host = "10.0.0.7", .hostPort = "3001"};
    vsp_diagnostics client = down(VSP_ERROR_REFUSED);
    client.lastErrorTimeMs = noon.toMSecsSinceEpoch();
    client.bytesToAdapter = 10;
    client.bytesFromAdapter = 20;
    client.bytesDropped = 30;
    client.ackBaud = 9600;
    client.ackParity = 3;  // the rest not confirmed
    vsp_diagnostics connector{};
    connector.portHeld = 1;
    redirect.client = client;
    redirect.connector = connector;
    redirect.now = noon;
    redirect.downFor = 59s;
    const QString below = DiagnosticsText(redirect);
    EXPECT_FALSE(below.contains("cannot be reached"));
    redirect.downFor = 3725s;
    EXPECT_EQ(DiagnosticsText(redirect),
              "COM5: /run/p/COM5\n"
              "Connection: down, trying again shortly\n"
              "The adapter cannot be reached: down for 1 h 02 min\n"
              "Last error: connection refused by 10.0.0.7:3001, 12:00:00\n"
              "Bytes to the adapter: 10, from it: 20\n"
              "Bytes dropped while disconnected: 30\n"
              "Reconnects: 0\n"
              "Serial settings: none acknowledged while not connected\n"
              "An application holds the port");

    // What an adapter confirmed shows only while its connection lasts (an older
    // library still reports the last connection's after a drop).
    const std::pair<int, const char*> settingsByState[] = {
        {VSP_STATE_UP, "Serial settings the adapter acknowledged: 9600 baud, ? data bits, even parity, ? stop bits"},
        {VSP_STATE_NEGOTIATING, "Serial settings the adapter acknowledged: 9600 baud"},
        {VSP_STATE_RETRY_WAIT, "Serial settings: none acknowledged while not connected"},
        {VSP_STATE_CONNECTING, "Serial settings: none acknowledged while not connected"},
        {VSP_STATE_STOPPED, "Serial settings: none acknowledged while not connected"},
    };
    for (const auto& [state, line] : settingsByState) {
        redirect.client->state = state;
        EXPECT_TRUE(DiagnosticsText(redirect).contains(QString("\n") + line)) << state;
    }
    redirect.client->ackBaud = redirect.client->ackParity = -1;
    redirect.client->state = VSP_STATE_UP;
    EXPECT_TRUE(DiagnosticsText(redirect).contains("\nSerial settings: not acknowledged by the adapter\n"));

    // A port whose TcpClient is gone still says where it is.
    redirect.client.reset();
    EXPECT_EQ(DiagnosticsText(redirect), "COM5: /run/p/COM5\nConnection: no TcpClient\nAn application holds the port");
}

TEST(DiagnosticsText, ShowsTheTlsVersionAndTheAdaptersCertificateAndALoudRefusal)
{
    const std::string digits = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
    const QString pairs = "SHA-256: 00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF";
    const QString refused = "REFUSED: this is not the certificate trusted for the adapter. If the adapter was given a new "
                            "one, clear and check TLS in the redirect's properties to trust it afresh.";
    const struct {
        int tls;
        int state;
        int kind;
        std::string fingerprint;
        QString lines;  // after "Last error: ...", before "Bytes to the adapter"
    } cases[] = {
        {1, VSP_STATE_UP, VSP_ERROR_NONE, digits, "TLS: TLSv1.3\nAdapter certificate: CN=a\u00e9,O=Lab\n" + pairs},
        {1, VSP_STATE_RETRY_WAIT, VSP_ERROR_CERTIFICATE_CHANGED, digits,
         "Last error: certificate of h:1 CHANGED, connection refused\nTLS: not connected\nAdapter certificate: CN=a\u00e9,O=Lab\n" +
             pairs + "\n" + refused},
        {1, VSP_STATE_UP, VSP_ERROR_CERTIFICATE_CHANGED, digits,  // connected since: no longer refused
         "Last error: certificate of h:1 CHANGED, connection refused\nTLS: TLSv1.3\nAdapter certificate: CN=a\u00e9,O=Lab\n" + pairs},
        {1, VSP_STATE_RETRY_WAIT, VSP_ERROR_TLS, "", "Last error: TLS with h:1 failed\nTLS: not connected"},
        {1, VSP_STATE_UP, VSP_ERROR_NONE, std::string(64, 'G'), "TLS: TLSv1.3"},  // no fingerprint: no certificate
        {1, VSP_STATE_UP, VSP_ERROR_NONE, std::string(71, 'a'), "TLS: TLSv1.3"},
        {0, VSP_STATE_UP, VSP_ERROR_NONE, digits, ""},  // in the clear
    };
    for (const auto& c : cases) {
        RedirectDiagnostics redirect{.comPort = "COM5", .portPath = "/p", .host = "h", .hostPort = "1"};
        vsp_diagnostics d = down(c.kind);
        d.state = c.state;
        d.tls = c.tls;
        std::strcpy(d.tlsVersion, "TLSv1.3");
        std::strcpy(d.peerSubject, "CN=a\xc3\xa9,O=Lab\n");
        std::memcpy(d.peerFingerprint, c.fingerprint.data(), std::min(c.fingerprint.size(), sizeof d.peerFingerprint));
        redirect.client = d;
        const QString text = DiagnosticsText(redirect);
        const qsizetype from = text.indexOf('\n', text.indexOf("Connection: ")) + 1;
        EXPECT_EQ(text.mid(from, text.indexOf("Bytes to the adapter") - from), c.lines.isEmpty() ? "" : c.lines + "\n")
            << c.fingerprint;
    }
}

TEST(DiagnosticsText, WritesDurationsInTheirLargestUnits)
{
    EXPECT_EQ(durationWords(0ms), "0 s");
    EXPECT_EQ(durationWords(59999ms), "59 s");
    EXPECT_EQ(durationWords(60s), "1 min 00 s");
    EXPECT_EQ(durationWords(3599s), "59 min 59 s");
    EXPECT_EQ(durationWords(3600s), "1 h 00 min");
    EXPECT_EQ(durationWords(90000s), "1 d 01 h");
    EXPECT_EQ(durationWords(-5s), "0 s");
}

}  // namespace

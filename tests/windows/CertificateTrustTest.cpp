// An adapter's certificate as the window meets it through the library's diagnostics:
// one not trusted is asked about once (Yes pins it and updates the redirect), one
// that changed is refused loudly, in a balloon once per change and in the error log.
#include "app/Settings.h"
#include "support/EditorFixture.h"
#include "vspdevices.h"

#include <QApplication>
#include <QRegularExpression>
#include <cstddef>
#include <cstring>

namespace {

const char* const pin1 = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

class CertificateTrust : public EditorFixture {
protected:
    // A TLS redirect on COM5 whose adapter presented `fingerprint` and was refused.
    int listRefused(const std::string& tlsField, int kind, const std::string& fingerprint,
                    std::uint32_t size = sizeof(vsp_diagnostics))
    {
        vsp.addDevice("Connector", "5;0");
        const int client = vsp.addDevice("TcpClient", ("adapter;3001;5;19200,0,8,1,0,0;1;0;" + tlsField + ";").c_str());
        vsp_diagnostics d{};
        d.size = size;
        d.state = VSP_STATE_RETRY_WAIT;
        d.lastErrorKind = kind;
        d.tls = 1;
        std::strcpy(d.peerSubject, "CN=adapter,O=Lab");
        std::strcpy(d.peerFingerprint, fingerprint.c_str());
        vsp.setDiagnostics(client, d);
        window->ScanAvailPairs();
        return client;
    }
    // A pass of the live status, and the question it may lead to.
    void refresh()
    {
        window->statusRefresh().refresh();
        QApplication::processEvents();
    }
};

TEST_F(CertificateTrust, AnUnknownCertificateIsAskedAboutOnceAndYesPinsIt)
{
    const std::string pin2(64, 'a'), pin3(64, 'b');
    const struct {
        std::string tls;
        int kind;
        std::string fingerprint;
        std::uint32_t size;
        msgbox::Answer answer;
        bool asked;
        const char* written;  // the TcpClient string made again, "" for none
    } cases[] = {
        {"tls", VSP_ERROR_CERTIFICATE_UNKNOWN, pin1, sizeof(vsp_diagnostics), msgbox::Answer::No, true, ""},
        {"tls,cert=/c", VSP_ERROR_CERTIFICATE_UNKNOWN, pin2, sizeof(vsp_diagnostics), msgbox::Answer::Yes, true,
         "adapter;3001;5;19200,0,8,1,0,0;1;0;tls,pin=aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa,cert=/c;"},
        // No answered before stands; an older library's record has no certificate.
        {"tls", VSP_ERROR_CERTIFICATE_UNKNOWN, pin1, sizeof(vsp_diagnostics), msgbox::Answer::Yes, false, ""},
        {"tls", VSP_ERROR_CERTIFICATE_UNKNOWN, pin3, offsetof(vsp_diagnostics, tls), msgbox::Answer::Yes, false, ""},
        {"tls,pin=" + std::string(64, 'c'), VSP_ERROR_CERTIFICATE_CHANGED, pin3,
         sizeof(vsp_diagnostics), msgbox::Answer::Yes, false, ""},
        {"tls", VSP_ERROR_CERTIFICATE_UNKNOWN, "not a fingerprint", sizeof(vsp_diagnostics), msgbox::Answer::Yes, false, ""},
    };
    for (const auto& c : cases) {
        vsp.reset();
        fake.messages.shown.clear();
        fake.messages.answers = {c.answer};
        listRefused(c.tls, c.kind, c.fingerprint, c.size);
        const bool wasUnsaved = unsaved();
        refresh();
        refresh();  // asked once, whatever the answer
        ASSERT_EQ(fake.messages.shown.size(), c.asked ? 1 : 0) << c.fingerprint;
        if (c.asked) {
            const QString text = fake.messages.shown[0].text;
            EXPECT_TRUE(text.startsWith("COM5 connects to its adapter adapter:3001 over TLS.")) << text.toStdString();
            EXPECT_TRUE(text.contains("Subject: CN=adapter,O=Lab\n")) << text.toStdString();
            const QString pairs = QString::fromStdString(c.fingerprint).toUpper().replace(QRegularExpression("(..)(?!$)"), "\\1:");
            EXPECT_TRUE(text.contains("SHA-256: " + pairs + "\n")) << text.toStdString();
            EXPECT_EQ(fake.messages.shown[0].defaultAnswer, msgbox::Answer::No);
        }
        EXPECT_EQ(vsp.lastCreated("TcpClient"), c.written) << c.fingerprint;
        EXPECT_EQ(unsaved(), wasUnsaved || *c.written) << c.fingerprint;
    }
}

TEST_F(CertificateTrust, AChangedCertificateIsToldInABalloonOncePerChangeAndLogged)
{
    WriteSetting(fake.state, settingsKey::WarnInSysTray, QStringLiteral("1"));
    auto now = std::chrono::steady_clock::now();
    window->statusRefresh().setClock([&] { return now; });
    const int client = listRefused(std::string("tls,pin=") + pin1, VSP_ERROR_CERTIFICATE_CHANGED, std::string(64, 'e'));
    refresh();  // while shown: the tooltip and the log say so
    const QString tip = list()->model()->index(0, 0).data(Qt::ToolTipRole).toString();
    EXPECT_TRUE(tip.contains("\nLast error: certificate of adapter:3001 CHANGED, connection refused\n")) << tip.toStdString();
    EXPECT_TRUE(tip.contains("\nREFUSED: this is not the certificate trusted for the adapter.")) << tip.toStdString();
    EXPECT_EQ(QString::fromUtf8(folder.log()).count("COM5 refused its adapter adapter:3001: its certificate is not the trusted one"), 1);

    click("cmdHide");  // into the notification area, with its own balloon
    ASSERT_EQ(fake.tray.balloons.size(), 1);
    now += StatusRefresh::balloonShowsFor;
    refresh();
    refresh();
    ASSERT_EQ(fake.tray.balloons.size(), 2);
    EXPECT_TRUE(fake.tray.balloons[1].first.endsWith(": an adapter's certificate changed"));
    EXPECT_TRUE(fake.tray.balloons[1].second.contains("(SHA-256 EE:EE:")) << fake.tray.balloons[1].second.toStdString();

    // Another change is news again; the same one is not.
    vsp_diagnostics d{};
    d.size = sizeof d;
    d.state = VSP_STATE_RETRY_WAIT;
    d.lastErrorKind = VSP_ERROR_CERTIFICATE_CHANGED;
    d.tls = 1;
    std::strcpy(d.peerFingerprint, std::string(64, 'd').c_str());
    vsp.setDiagnostics(client, d);
    now += StatusRefresh::balloonShowsFor;
    refresh();
    refresh();
    EXPECT_EQ(fake.tray.balloons.size(), 3);
    EXPECT_EQ(QString::fromUtf8(folder.log()).count("is not the trusted one"), 2);
}

}  // namespace

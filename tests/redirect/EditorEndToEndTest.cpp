// Through the editor against the real device library and a simulated adapter:
// create a redirect, use its port, update its baud rate, remove it.
#include "AdapterServer.h"
#include "app/Settings.h"
#include "windows/frmMain.h"
#include "deviceapi/VspBinding.h"
#include "deviceapi/modVSP_APIs.h"
#include "support/FakePlatform.h"
#include "support/RealLibrary.h"
#include "support/ListRows.h"
#include "RawPort.h"
#include "support/TestFolder.h"
#include "support/WaitFor.h"
#include "support/WindowParts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QThread>
#include <QTreeView>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

namespace {

TEST(EditorEndToEnd, CreateUseUpdateAndRemoveARedirect)
{
    RealLibrary world;
    auto& [folder, fake] = world;
    vsp::AdapterServer adapter({.echo = true});
    {
        frmMain window(fake.platform);
        window.Form_Load();
        auto* list = part<QTreeView>(window, "lstPairs");
        auto* ports = part<QComboBox>(window, "cmbComPort");

        trigger(window, "mnuCreate");
        ports->setCurrentText("COM5");
        part<QLineEdit>(window, "txtHostAddress")->setText("127.0.0.1");
        part<QLineEdit>(window, "txtHostPort")->setText(QString::number(adapter.port()));
        click(window, "cmdNewRedirect(0)");
        ASSERT_EQ(part<QAction>(window, "mnuEmulation")->text(), "Stop Emulation");
        const QString port = folder.path("ports/COM5");
        ASSERT_TRUE(QFileInfo(port).isSymLink());
        ASSERT_TRUE(adapter.waitFor([&] { return adapter.settings().baud == 19200u; }));

        const int fd = openRawPort(QFile::encodeName(port).toStdString(), PortIo::Blocking);
        ASSERT_GE(fd, 0);
        QThread::msleep(100);
        ASSERT_EQ(::write(fd, "hello", 5), 5);
        EXPECT_TRUE(adapter.waitFor([&] { return adapter.received() == std::vector<std::uint8_t>{'h', 'e', 'l', 'l', 'o'}; }));
        ::close(fd);

        listRows::selectRow(list, 0);
        trigger(window, "mnuProperties");
        EXPECT_EQ(ports->currentText(), "COM5");  // its own port, although in use
        part<QComboBox>(window, "cmbBaud")->setCurrentText("115200");
        click(window, "cmdNewRedirect(0)");
        EXPECT_TRUE(adapter.waitFor([&] { return adapter.settings().baud == 115200u; }));
        ASSERT_EQ(listRows::rowCount(list), 1);
        EXPECT_EQ(listRows::rowText(list, 0, frmMain::ColComPort), "COM5");
        EXPECT_EQ(listRows::rowText(list, 0, frmMain::ColSettings), "115200,0,8,1,0,0");
        EXPECT_TRUE(waitFor([&] { return QFileInfo(port).isSymLink(); }));

        listRows::selectRow(list, 0);
        trigger(window, "mnuRemove");
        EXPECT_FALSE(QFileInfo(port).exists() || QFileInfo(port).isSymLink());
        EXPECT_EQ(listRows::rowCount(list), 0);
        EXPECT_EQ(part<QAction>(window, "mnuEmulation")->text(), "Start Emulation");
        EXPECT_TRUE(fake.messages.shown.isEmpty());
        EXPECT_TRUE(folder.log().isEmpty()) << folder.log().toStdString();
    }
    modVSP_APIs::vsp_release();
    VspBinding::instance().unbind();
    qunsetenv("VSP_PORT_DIR");
}

// A redirect over TLS to an adapter whose self-signed certificate nobody vouches
// for: the window asks, showing its fingerprint, and Yes pins it, after which the
// redirect connects (socat's TLS listener in front of the simulated adapter).
TEST(EditorEndToEnd, AnUntrustedAdapterCertificateIsAskedAboutAndYesConnects)
{
    for (const char* tool : {"socat", "openssl"})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            GTEST_SKIP() << tool << " is not installed (scripts/setup installs it)";
    RealLibrary world;
    auto& [folder, fake] = world;
    vsp::AdapterServer adapter({.echo = true});
    const QString key = folder.path("adapter.key"), certificate = folder.path("adapter.crt");
    ASSERT_EQ(QProcess::execute("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                                            "-days", "2", "-subj", "/CN=adapter", "-keyout", key, "-out", certificate}),
              0);
    QProcess print;
    print.start("openssl", {"x509", "-in", certificate, "-noout", "-fingerprint", "-sha256"});
    ASSERT_TRUE(print.waitForFinished());
    const QString pairs = QString::fromLatin1(print.readAllStandardOutput()).section('=', 1).trimmed();  // AB:CD:...
    ASSERT_EQ(pairs.size(), 95);
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 tlsPort = probe.serverPort();
    probe.close();
    QProcess terminator;  // TLS in front of the adapter
    terminator.start("socat", {QString("OPENSSL-LISTEN:%1,bind=127.0.0.1,reuseaddr,fork,cert=%2,key=%3,verify=0")
                                   .arg(tlsPort).arg(certificate, key),
                               QString("TCP:127.0.0.1:%1").arg(adapter.port())});
    ASSERT_TRUE(terminator.waitForStarted());
    {
        frmMain window(fake.platform);
        window.Form_Load();
        window.show();
        fake.messages.answers = {msgbox::Answer::Yes};
        trigger(window, "mnuCreate");
        part<QComboBox>(window, "cmbComPort")->setCurrentText("COM5");
        part<QLineEdit>(window, "txtHostAddress")->setText("127.0.0.1");
        part<QLineEdit>(window, "txtHostPort")->setText(QString::number(tlsPort));
        click(window, "chkTls");
        click(window, "cmdNewRedirect(0)");
        // The live status, which asks, runs on the event loop while the window shows.
        auto* rows = part<QTreeView>(window, "lstPairs");
        ASSERT_TRUE(QTest::qWaitFor([&] { return fake.messages.shown.size() == 1; }, 15000))
            << "no question about the certificate; " << rows->model()->index(0, 0).data(Qt::ToolTipRole).toString().toStdString();
        EXPECT_TRUE(fake.messages.shown[0].text.contains("SHA-256: " + pairs)) << fake.messages.shown[0].text.toStdString();
        EXPECT_TRUE(adapter.waitFor([&] { return adapter.settings().baud == 19200u; })) << "no connection after pinning";
        const QString pin = QString(pairs).remove(':').toLower();
        EXPECT_TRUE(listRows::recordText(rows, 0).contains(";tls,pin=" + pin + ";")) << listRows::recordText(rows, 0).toStdString();
        EXPECT_TRUE(QTest::qWaitFor([&] { return rows->model()->index(0, 0).data(Qt::ToolTipRole).toString().contains("TLSv1.3"); }))
            << rows->model()->index(0, 0).data(Qt::ToolTipRole).toString().toStdString();
    }
    terminator.kill();
    terminator.waitForFinished();
    modVSP_APIs::vsp_release();
    VspBinding::instance().unbind();
    qunsetenv("VSP_PORT_DIR");
}

}  // namespace

// Long host addresses through the program and the real device library: the list,
// Properties, an update the library refuses and the redirect it restores, saving
// and loading. The addresses are 127.0.0.1 written with leading zeros, as long as
// a test needs and still resolved without a name server.
#include "AdapterServer.h"
#include "app/Settings.h"
#include "windows/frmMain.h"
#include "deviceapi/VspBinding.h"
#include "deviceapi/modVSP_APIs.h"
#include "redirect/InitStrings.h"
#include "support/FakePlatform.h"
#include "support/ListRows.h"
#include "support/TestFolder.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <gtest/gtest.h>

using namespace modVSP_APIs;

namespace {

QString loopbackOfLength(int length)
{
    return QStringLiteral("127.0.0.") + QString(length - 9, QLatin1Char('0')) + QStringLiteral("1");
}

// Scans until the only row reaches `status` (the connection comes up on the library's thread).
bool scanUntil(frmMain& window, const QString& status)
{
    for (int i = 0; i < 500; ++i) {
        window.ScanAvailPairs();
        if (listRows::rowCount(window.lstPairs) == 1 && listRows::rowText(window.lstPairs, 0, frmMain::ColStatus) == status)
            return true;
        QThread::msleep(10);
    }
    return false;
}

void expectRow(frmMain& window, const QString& host, const QString& port)
{
    ASSERT_EQ(listRows::rowCount(window.lstPairs), 1);
    const int row = 0;
    EXPECT_EQ(listRows::rowText(window.lstPairs, row, frmMain::ColComPort), "COM5");
    EXPECT_EQ(listRows::rowText(window.lstPairs, row, frmMain::ColSettings), "19200,0,8,1,0,0");
    EXPECT_EQ(listRows::rowText(window.lstPairs, row, frmMain::ColHost), host);
    EXPECT_EQ(listRows::rowText(window.lstPairs, row, frmMain::ColHostPort), port);
    EXPECT_TRUE(listRows::recordText(window.lstPairs, row).endsWith(host + ";" + port + ";5;19200,0,8,1,0,0;1;0;"));
}

class LongHostName : public ::testing::TestWithParam<int> {};

TEST_P(LongHostName, IsListedShownUpdatedRestoredSavedAndLoadedWhole)
{
    const QString host = loopbackOfLength(GetParam());
    TestFolder folder;
    qputenv("VSP_PORT_DIR", folder.path("ports").toUtf8());
    VspBinding::instance().setLibraryFile(VspBinding::defaultLibraryFile);
    g_SettingsFile = folder.path("Settings.ini");
    vsp::AdapterServer adapter({});
    const QString port = QString::number(adapter.port());
    FakePlatform fake;
    {
        frmMain window(fake.platform);
        window.Form_Load();

        window.mnuCreate_Click();
        window.cmbComPort->setCurrentText("COM5");
        window.txtHostAddress->setText(host);
        window.txtHostPort->setText(port);
        window.cmdNewRedirect_Click(0);
        ASSERT_TRUE(scanUntil(window, "OK")) << listRows::rowText(window.lstPairs, 0, frmMain::ColStatus).toStdString();
        expectRow(window, host, port);
        EXPECT_GE(adapter.connections(), 1);

        listRows::selectRow(window.lstPairs, 0);
        window.mnuProperties_Click();
        EXPECT_EQ(window.txtHostAddress->text(), host);
        EXPECT_EQ(window.txtHostPort->text(), port);

        // Port 0 is refused: the redirect comes back as it was, the editor still on it.
        window.txtHostPort->setText("0");
        window.cmdNewRedirect_Click(0);
        EXPECT_EQ(fake.messages.texts(), QStringList{"Error: can not create TCP redirector"});
        EXPECT_EQ(window.cmdNewRedirect[0]->text(), "Update");
        ASSERT_TRUE(scanUntil(window, "OK"));
        expectRow(window, host, port);
        const QStringList record = redirect::splitFields(listRows::recordText(window.lstPairs, 0),
                                                         redirect::recordSeparator);
        ASSERT_EQ(record.size(), 4);
        EXPECT_EQ(window.lblDevices->text(), redirect::buildDevicePair(record[0], record[2]));
        window.txtHostPort->setText(port);
        window.cmdNewRedirect_Click(0);  // the update the user meant, on the restored pair
        ASSERT_TRUE(scanUntil(window, "OK"));
        expectRow(window, host, port);

        window.setScriptFile(folder.path("lab.qlc"));
        QFile(window.scriptFile()).open(QIODevice::WriteOnly);
        ASSERT_TRUE(window.mnuSave_Click());
        vsp_destroyAllDevices();
        window.ScanAvailPairs();
        ASSERT_EQ(listRows::rowCount(window.lstPairs), 0);
        ASSERT_TRUE(window.ProcessScriptLoad());
        ASSERT_TRUE(scanUntil(window, "OK"));
        expectRow(window, host, port);
        EXPECT_EQ(fake.messages.shown.size(), 1);
        EXPECT_TRUE(folder.log().isEmpty()) << folder.log().toStdString();
    }
    vsp_release();
    VspBinding::instance().unbind();
    qunsetenv("VSP_PORT_DIR");
    g_SettingsFile.clear();
}

// With the adapter's five-digit port, 35 makes a TcpClient string of exactly 64
// characters, 36 one just beyond; 253 is the longest name DNS allows.
INSTANTIATE_TEST_SUITE_P(HostLengths, LongHostName, ::testing::Values(35, 36, 64, 253));

TEST(LongHostName, NonAsciiNamesAreListedAndShownWithoutACutCharacter)
{
    TestFolder folder;
    qputenv("VSP_PORT_DIR", folder.path("ports").toUtf8());
    VspBinding::instance().setLibraryFile(VspBinding::defaultLibraryFile);
    g_SettingsFile = folder.path("Settings.ini");
    FakePlatform fake;
    {
        frmMain window(fake.platform);
        window.Form_Load();
        const QString host = QStringLiteral("a") + QString(40, QChar(0xFC)) + QStringLiteral(".b\u00FCcher.\u4F8B\u3048.jp");
        const QString client = host + ";3001;5;19200,0,8,1,0,0;1;0;";
        ASSERT_EQ(vsp_createDevice("Connector", "5;0"), 0);
        ASSERT_EQ(vsp_createDevice("TcpClient", client), 1);
        window.ScanAvailPairs();
        expectRow(window, host, "3001");
        EXPECT_EQ(listRows::rowText(window.lstPairs, 0, frmMain::ColStatus), "Emulation is OFF");

        listRows::selectRow(window.lstPairs, 0);
        window.mnuProperties_Click();
        EXPECT_EQ(window.txtHostAddress->text(), host);
        EXPECT_TRUE(fake.messages.shown.isEmpty());
        EXPECT_TRUE(folder.log().isEmpty()) << folder.log().toStdString();
    }
    vsp_release();
    VspBinding::instance().unbind();
    qunsetenv("VSP_PORT_DIR");
    g_SettingsFile.clear();
}

}  // namespace

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
#include "support/RealLibrary.h"
#include "support/ListRows.h"
#include "support/TestFolder.h"
#include "support/WindowParts.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QTreeView>
#include <gtest/gtest.h>

using namespace modVSP_APIs;

namespace {

QString loopbackOfLength(int length)
{
    return QStringLiteral("127.0.0.") + QString(length - 9, QLatin1Char('0')) + QStringLiteral("1");
}

QTreeView* listOf(const frmMain& window) { return part<QTreeView>(window, "lstPairs"); }
QLineEdit* boxOf(const frmMain& window, const char* name) { return part<QLineEdit>(window, name); }

// Scans until the only row reaches `status` (the connection comes up on the library's thread).
bool scanUntil(frmMain& window, const QString& status)
{
    for (int i = 0; i < 500; ++i) {
        window.ScanAvailPairs();
        if (listRows::rowCount(listOf(window)) == 1 && listRows::rowText(listOf(window), 0, frmMain::ColStatus) == status)
            return true;
        QThread::msleep(10);
    }
    return false;
}

void expectRow(const frmMain& window, const QString& host, const QString& port)
{
    const QTreeView* list = listOf(window);
    ASSERT_EQ(listRows::rowCount(list), 1);
    const int row = 0;
    EXPECT_EQ(listRows::rowText(list, row, frmMain::ColComPort), "COM5");
    EXPECT_EQ(listRows::rowText(list, row, frmMain::ColSettings), "19200,0,8,1,0,0");
    EXPECT_EQ(listRows::rowText(list, row, frmMain::ColHost), host);
    EXPECT_EQ(listRows::rowText(list, row, frmMain::ColHostPort), port);
    EXPECT_TRUE(listRows::recordText(list, row).endsWith(host + ";" + port + ";5;19200,0,8,1,0,0;1;0;"));
}

class LongHostName : public ::testing::TestWithParam<int> {};

TEST_P(LongHostName, IsListedShownUpdatedRestoredSavedAndLoadedWhole)
{
    const QString host = loopbackOfLength(GetParam());
    RealLibrary world;
    auto& [folder, fake] = world;
    vsp::AdapterServer adapter({});
    const QString port = QString::number(adapter.port());
    {
        frmMain window(fake.platform);
        window.Form_Load();

        trigger(window, "mnuCreate");
        part<QComboBox>(window, "cmbComPort")->setCurrentText("COM5");
        boxOf(window, "txtHostAddress")->setText(host);
        boxOf(window, "txtHostPort")->setText(port);
        click(window, "cmdNewRedirect(0)");
        ASSERT_TRUE(scanUntil(window, "OK")) << listRows::rowText(listOf(window), 0, frmMain::ColStatus).toStdString();
        expectRow(window, host, port);
        EXPECT_GE(adapter.connections(), 1);

        listRows::selectRow(listOf(window), 0);
        trigger(window, "mnuProperties");
        EXPECT_EQ(boxOf(window, "txtHostAddress")->text(), host);
        EXPECT_EQ(boxOf(window, "txtHostPort")->text(), port);

        // Port 0 is refused: the redirect comes back as it was, the editor still on it.
        boxOf(window, "txtHostPort")->setText("0");
        click(window, "cmdNewRedirect(0)");
        EXPECT_EQ(fake.messages.texts(), QStringList{"Error: can not create TCP redirector"});
        EXPECT_EQ(part<QPushButton>(window, "cmdNewRedirect(0)")->text(), "Update");
        ASSERT_TRUE(scanUntil(window, "OK"));
        expectRow(window, host, port);
        const QStringList record = redirect::splitFields(listRows::recordText(listOf(window), 0),
                                                         redirect::recordSeparator);
        ASSERT_EQ(record.size(), 4);
        EXPECT_EQ(part<QLabel>(window, "lblDevices")->text(), redirect::buildDevicePair(record[0], record[2]));
        boxOf(window, "txtHostPort")->setText(port);
        click(window, "cmdNewRedirect(0)");  // the update the user meant, on the restored pair
        ASSERT_TRUE(scanUntil(window, "OK"));
        expectRow(window, host, port);

        fake.dialogs.pick(folder.path("lab.qlc"));
        trigger(window, "mnuSaveAs");
        ASSERT_EQ(window.scriptFile(), folder.path("lab.qlc"));
        vsp_destroyAllDevices();
        window.ScanAvailPairs();
        ASSERT_EQ(listRows::rowCount(listOf(window)), 0);
        fake.dialogs.pick(folder.path("lab.qlc"));
        trigger(window, "mnuLoad");
        ASSERT_TRUE(scanUntil(window, "OK"));
        expectRow(window, host, port);
        EXPECT_EQ(fake.messages.shown.size(), 1);
        EXPECT_TRUE(folder.log().isEmpty()) << folder.log().toStdString();
    }
    vsp_release();
    VspBinding::instance().unbind();
    qunsetenv("VSP_PORT_DIR");
}

// With the adapter's five-digit port, 35 makes a TcpClient string of exactly 64
// characters, 36 one just beyond; 253 is the longest name DNS allows.
INSTANTIATE_TEST_SUITE_P(HostLengths, LongHostName, ::testing::Values(35, 36, 64, 253));

TEST(LongHostName, NonAsciiNamesAreListedAndShownWithoutACutCharacter)
{
    RealLibrary world;
    auto& [folder, fake] = world;
    {
        frmMain window(fake.platform);
        window.Form_Load();
        const QString host = QStringLiteral("a") + QString(40, QChar(0xFC)) + QStringLiteral(".b\u00FCcher.\u4F8B\u3048.jp");
        const QString client = host + ";3001;5;19200,0,8,1,0,0;1;0;";
        ASSERT_EQ(vsp_createDevice("Connector", "5;0"), 0);
        ASSERT_EQ(vsp_createDevice("TcpClient", client), 1);
        window.ScanAvailPairs();
        expectRow(window, host, "3001");
        EXPECT_EQ(listRows::rowText(listOf(window), 0, frmMain::ColStatus), "Emulation is OFF");

        listRows::selectRow(listOf(window), 0);
        trigger(window, "mnuProperties");
        EXPECT_EQ(boxOf(window, "txtHostAddress")->text(), host);
        EXPECT_TRUE(fake.messages.shown.isEmpty());
        EXPECT_TRUE(folder.log().isEmpty()) << folder.log().toStdString();
    }
    vsp_release();
    VspBinding::instance().unbind();
    qunsetenv("VSP_PORT_DIR");
}

}  // namespace

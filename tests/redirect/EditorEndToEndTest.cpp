// Through the editor against the real device library and a simulated adapter:
// create a redirect, use its port, update its baud rate, remove it.
#include "AdapterServer.h"
#include "app/Settings.h"
#include "windows/frmMain.h"
#include "deviceapi/VspBinding.h"
#include "deviceapi/modVSP_APIs.h"
#include "support/FakePlatform.h"
#include "support/ListRows.h"
#include "RawPort.h"
#include "support/TestFolder.h"
#include "support/WaitFor.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QThread>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

namespace {

TEST(EditorEndToEnd, CreateUseUpdateAndRemoveARedirect)
{
    TestFolder folder;
    qputenv("VSP_PORT_DIR", folder.path("ports").toUtf8());
    VspBinding::instance().setLibraryFile(VspBinding::defaultLibraryFile);
    g_SettingsFile = folder.path("Settings.ini");
    vsp::AdapterServer adapter({.echo = true});
    FakePlatform fake;
    {
        frmMain window(fake.platform);
        window.Form_Load();

        window.mnuCreate_Click();
        window.cmbComPort->setCurrentText("COM5");
        window.txtHostAddress->setText("127.0.0.1");
        window.txtHostPort->setText(QString::number(adapter.port()));
        window.cmdNewRedirect_Click(0);
        ASSERT_TRUE(window.emulationRunning());
        const QString port = folder.path("ports/COM5");
        ASSERT_TRUE(QFileInfo(port).isSymLink());
        ASSERT_TRUE(adapter.waitFor([&] { return adapter.settings().baud == 19200u; }));

        const int fd = openRawPort(QFile::encodeName(port).toStdString(), PortIo::Blocking);
        ASSERT_GE(fd, 0);
        QThread::msleep(100);
        ASSERT_EQ(::write(fd, "hello", 5), 5);
        EXPECT_TRUE(adapter.waitFor([&] { return adapter.received() == std::vector<std::uint8_t>{'h', 'e', 'l', 'l', 'o'}; }));
        ::close(fd);

        listRows::selectRow(window.lstPairs, 0);
        window.mnuProperties_Click();
        EXPECT_EQ(window.cmbComPort->currentText(), "COM5");  // its own port, although in use
        window.cmbBaud->setCurrentText("115200");
        window.cmdNewRedirect_Click(0);
        EXPECT_TRUE(adapter.waitFor([&] { return adapter.settings().baud == 115200u; }));
        ASSERT_EQ(listRows::rowCount(window.lstPairs), 1);
        EXPECT_EQ(listRows::rowText(window.lstPairs, 0, frmMain::ColComPort), "COM5");
        EXPECT_EQ(listRows::rowText(window.lstPairs, 0, frmMain::ColSettings), "115200,0,8,1,0,0");
        EXPECT_TRUE(waitFor([&] { return QFileInfo(port).isSymLink(); }));

        listRows::selectRow(window.lstPairs, 0);
        window.mnuRemove_Click();
        EXPECT_FALSE(QFileInfo(port).exists() || QFileInfo(port).isSymLink());
        EXPECT_EQ(listRows::rowCount(window.lstPairs), 0);
        EXPECT_FALSE(window.emulationRunning());
        EXPECT_TRUE(fake.messages.shown.isEmpty());
        EXPECT_TRUE(folder.log().isEmpty()) << folder.log().toStdString();
    }
    modVSP_APIs::vsp_release();
    VspBinding::instance().unbind();
    qunsetenv("VSP_PORT_DIR");
    g_SettingsFile.clear();
}

}  // namespace

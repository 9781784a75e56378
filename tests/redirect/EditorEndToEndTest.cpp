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

#include <QComboBox>
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

}  // namespace

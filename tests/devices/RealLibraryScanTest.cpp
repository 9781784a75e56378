// The scan and the emulation switch against the real device library.
#include "deviceapi/VspBinding.h"
#include "deviceapi/modVSP_APIs.h"
#include "support/FakePlatform.h"
#include "support/ListRows.h"
#include "support/TestFolder.h"
#include "support/WindowParts.h"

#include "app/Settings.h"
#include "windows/frmMain.h"

#include <QAction>
#include <QFileInfo>
#include <QTreeView>
#include <gtest/gtest.h>

using namespace modVSP_APIs;

namespace {

TEST(RealLibraryScan, ARedirectIsListedAndEmulationStartsAndStops)
{
    TestFolder folder;
    qputenv("VSP_PORT_DIR", folder.path("ports").toUtf8());
    VspBinding::instance().setLibraryFile(VspBinding::defaultLibraryFile);
    ASSERT_EQ(vsp_initialize(), 1);
    FakePlatform fake;
    frmMain window(fake.platform);
    const QTreeView* list = part<QTreeView>(window, "lstPairs");
    const QAction* emulation = part<QAction>(window, "mnuEmulation");

    ASSERT_EQ(vsp_createDevice("Connector", "5;0"), 0);
    ASSERT_EQ(vsp_createDevice("TcpClient", "127.0.0.1;1;5;19200,0,8,1,0,0;1;0;"), 1);
    window.ScanAvailPairs();
    ASSERT_EQ(listRows::rowCount(list), 1);
    EXPECT_EQ(listRows::rowText(list, 0, frmMain::ColStatus), "Emulation is OFF");

    trigger(window, "mnuEmulation");
    EXPECT_EQ(emulation->text(), "Stop Emulation");
    EXPECT_EQ(listRows::rowText(list, 0, frmMain::ColStatus), "Ready");  // connecting
    EXPECT_TRUE(QFileInfo(folder.path("ports/COM5")).isSymLink());

    trigger(window, "mnuEmulation");
    EXPECT_EQ(emulation->text(), "Start Emulation");
    EXPECT_EQ(listRows::rowText(list, 0, frmMain::ColStatus), "Emulation is OFF");
    EXPECT_TRUE(fake.messages.shown.isEmpty());
    EXPECT_TRUE(folder.log().isEmpty());

    vsp_release();
    VspBinding::instance().unbind();
    qunsetenv("VSP_PORT_DIR");
}

}  // namespace

#include "support/MainWindowFixture.h"

#include "deviceapi/VspBinding.h"

namespace {

class EmulationControl : public MainWindowFixture {};

TEST_F(EmulationControl, StartingWithAnEmptyListIsUndoneByTheScan)
{
    int titleBuilds = 0;
    QObject::connect(window.get(), &QWidget::windowTitleChanged, [&] { ++titleBuilds; });
    trigger("mnuEmulation");
    EXPECT_EQ(vsp.calls(), "vsp_startEmulation\nvsp_getDevicesCount\nvsp_stopEmulation\n");
    EXPECT_FALSE(emulationRunning());
    EXPECT_TRUE(window->windowTitle().endsWith("Emulation: Stopped"));
    EXPECT_EQ(titleBuilds, 2);  // "Running", then "Stopped"
    EXPECT_TRUE(fake.messages.shown.isEmpty());
}

TEST_F(EmulationControl, RefusedStartAndStopShowTheirMessagesAndChangeNothing)
{
    vsp.addDevice("Connector", "5;0");  // a listed redirect: the scan leaves emulation as it is
    vsp.addDevice("TcpClient", "h;3001;5;19200,0,8,1,0,0;1;0;");
    vsp.setResult("vsp_startEmulation", 0);
    trigger("mnuEmulation");
    ASSERT_EQ(fake.messages.texts(), QStringList{"Error: can not start emulation"});
    EXPECT_EQ(fake.messages.shown[0].icon, msgbox::Icon::Critical);
    EXPECT_EQ(fake.messages.shown[0].caption, "QuorlinVCP");
    EXPECT_FALSE(emulationRunning());
    EXPECT_TRUE(window->windowTitle().endsWith("Emulation: Stopped"));

    vsp.setResult("vsp_startEmulation", 1);
    trigger("mnuEmulation");
    vsp.setResult("vsp_stopEmulation", 0);
    trigger("mnuEmulation");
    EXPECT_EQ(fake.messages.texts().last(), "Error: emulation can not be stopped: maybe one of devices is still in use.");
    EXPECT_TRUE(emulationRunning());
    EXPECT_TRUE(window->windowTitle().endsWith("Emulation: Running"));
}

TEST_F(EmulationControl, MissingLibraryIsLoggedAndTheTitleAndScanStillRun)
{
    VspBinding::instance().setLibraryFile("/nonexistent/libvspdevices.so");
    trigger("mnuEmulation");
    VspBinding::instance().setLibraryFile(FAKEVSP_FILE);
    EXPECT_TRUE(folder.log().contains("in procedure ChangeEmuStatus of Form frmMain on line 10"));
    EXPECT_TRUE(folder.log().contains("in procedure ScanAvailPairs of Form frmMain on line 30"));
    EXPECT_TRUE(window->windowTitle().endsWith("Emulation: Stopped"));
    EXPECT_EQ(fake.cursor.depth, 0);
    EXPECT_EQ(fake.messages.texts().first(), "Error: can not start emulation");
}

}  // namespace

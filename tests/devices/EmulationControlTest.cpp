#include "support/MainWindowFixture.h"

#include "deviceapi/VspBinding.h"

#include <QAction>

namespace {

class EmulationControl : public MainWindowFixture {
protected:
    int titleBuilds = 0;
    void countTitles()
    {
        QObject::connect(window.get(), &QWidget::windowTitleChanged, [this] { ++titleBuilds; });
    }
};

TEST_F(EmulationControl, StartingWithAnEmptyListIsUndoneByTheScan)
{
    window->UpdateTitle();
    window->setWindowTitle("");
    countTitles();
    window->mnuEmulation_Click();
    EXPECT_EQ(vsp.calls(), "vsp_startEmulation\nvsp_getDevicesCount\nvsp_stopEmulation\n");
    EXPECT_EQ(window->mnuEmulation->text(), "Start Emulation");
    EXPECT_FALSE(window->emulationRunning());
    EXPECT_TRUE(window->windowTitle().endsWith("Emulation: Stopped"));
    EXPECT_EQ(titleBuilds, 2);  // "Running", then "Stopped"
    EXPECT_TRUE(fake.messages.shown.isEmpty());
}

TEST_F(EmulationControl, RefusedStartAndStopShowTheirMessagesAndChangeNothing)
{
    vsp.setResult("vsp_startEmulation", 0);
    window->ChangeEmuStatus(true);
    ASSERT_EQ(fake.messages.texts(), QStringList{"Error: can not start emulation"});
    EXPECT_EQ(fake.messages.shown[0].icon, msgbox::Icon::Critical);
    EXPECT_EQ(fake.messages.shown[0].caption, "QuorlinVCP");
    EXPECT_FALSE(window->emulationRunning());
    EXPECT_EQ(window->mnuEmulation->text(), "Start Emulation");
    EXPECT_TRUE(window->windowTitle().endsWith("Emulation: Stopped"));

    vsp.setResult("vsp_startEmulation", 1);
    window->ChangeEmuStatus(true);
    vsp.setResult("vsp_stopEmulation", 0);
    window->ChangeEmuStatus(false);
    EXPECT_EQ(fake.messages.texts().last(), "Error: emulation can not be stopped: maybe one of devices is still in use.");
    EXPECT_TRUE(window->emulationRunning());
    EXPECT_EQ(window->mnuEmulation->text(), "Stop Emulation");
    EXPECT_TRUE(window->windowTitle().endsWith("Emulation: Running"));

    window->ChangeEmuStatus(true);  // asked again although running: the library is still called
    EXPECT_EQ(vsp.calls().count("vsp_startEmulation"), 3);
}

TEST_F(EmulationControl, MissingLibraryIsLoggedAndTheTitleAndScanStillRun)
{
    VspBinding::instance().setLibraryFile("/nonexistent/libvspdevices.so");
    window->mnuEmulation_Click();
    VspBinding::instance().setLibraryFile(FAKEVSP_FILE);
    EXPECT_TRUE(folder.log().contains("in procedure ChangeEmuStatus of Form frmMain on line 10"));
    EXPECT_TRUE(folder.log().contains("in procedure ScanAvailPairs of Form frmMain on line 30"));
    EXPECT_TRUE(window->windowTitle().endsWith("Emulation: Stopped"));
    EXPECT_EQ(fake.cursor.depth, 0);
    EXPECT_EQ(fake.messages.texts().first(), "Error: can not start emulation");
}

}  // namespace

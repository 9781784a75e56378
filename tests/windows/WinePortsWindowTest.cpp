// The main window puts the running ports into Wine as its emulation switch turns.
#include "support/MainWindowFixture.h"
#include "support/WineScene.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

namespace {

class WinePortsWindow : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        fake.platform.wine = &registry;
        window = std::make_unique<frmMain>(fake.platform);
        vsp.addDevice("Connector", "5;0");
        vsp.addDevice("TcpClient", "10.0.0.9;4001;5;19200,0,8,1,0,0;1;0;");
    }
    void TearDown() override
    {
        MainWindowFixture::TearDown();
        fake.platform.wine = nullptr;
    }

    // Runs the event loop until the condition holds; false when it never does.
    static bool settle(const std::function<bool()>& condition)
    {
        QElapsedTimer clock;
        clock.start();
        while (!condition() && clock.elapsed() < 5000) {
            QCoreApplication::processEvents();
            QThread::msleep(5);
        }
        return condition();
    }

    WineScene scene{folder};
    ScriptedWineRegistry registry;
};

TEST_F(WinePortsWindow, TheEmulationMenuPutsTheRunningPortsIntoWineAndTakesThemOut)
{
    scene.runPort(5);
    trigger("mnuEmulation");
    ASSERT_TRUE(settle([&] { return registry.values.value("COM5") == scene.portPath(5); })) << registry.calls.join('\n').toStdString();
    EXPECT_EQ(QFile::symLinkTarget(scene.dosLink(5)), scene.portPath(5));

    trigger("mnuEmulation");
    ASSERT_TRUE(settle([&] { return registry.values.isEmpty(); })) << registry.calls.join('\n').toStdString();
    EXPECT_FALSE(QFileInfo(scene.dosLink(5)).isSymLink());

    // The program ends with emulation running (shutdown stops it without the switch).
    trigger("mnuEmulation");
    ASSERT_TRUE(settle([&] { return registry.values.contains("COM5"); }));
    window.reset();
    EXPECT_EQ(registry.calls.last(), "detached COM5");
    EXPECT_FALSE(QFileInfo(scene.dosLink(5)).isSymLink());
}

}  // namespace

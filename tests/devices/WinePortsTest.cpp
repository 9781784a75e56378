// The running ports in a Wine prefix, with the prefix's registry scripted: a real
// prefix folder (system.reg, dosdevices), a real port folder whose COM links come
// and go as the library's do, and the settings file and error log of the test's own.
#include "app/Settings.h"
#include "devices/WinePorts.h"
#include "support/SignalCounter.h"
#include "support/TestFolder.h"
#include "support/WineScene.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

class WinePortsTest : public ::testing::Test {
protected:
    void SetUp() override { state.settingsFile = folder.path("Settings.ini"); }
    void TearDown() override { ports.reset(); }

    QString prefix() const { return scene.prefix(); }
    QString portPath(int com) const { return scene.portPath(com); }
    QString dosLink(int com) const { return scene.dosLink(com); }
    void runPort(int com) const { scene.runPort(com); }
    void endPort(int com) const { scene.endPort(com); }

    WinePorts& wine()
    {
        if (!ports)
            ports = std::make_unique<WinePorts>(registry, state);
        return *ports;
    }
    // Switches emulation and waits until every change it causes has been made.
    void switchEmulation(bool running)
    {
        SignalCounter settled(&wine(), &WinePorts::settled);
        wine().setRunning(running);
        ASSERT_TRUE(settled.count() > 0 || settled.wait(5000));
    }
    QStringList logLines() const { return wineLogLines(folder); }

    TestFolder folder;
    WineScene scene{folder};
    ScriptedWineRegistry registry;
    ProgramState state;
    std::unique_ptr<WinePorts> ports;
};

TEST_F(WinePortsTest, RunningPortsAreMappedAndLinkedWhileEmulationRunsAndGoWhenItStops)
{
    registry.startsPrefix = true;  // each command remakes the links from the mapping, as Wine does
    runPort(5);
    runPort(12);
    switchEmulation(true);
    EXPECT_EQ(registry.values, (WineRegistry::Values{{"COM5", portPath(5)}, {"COM12", portPath(12)}}));
    EXPECT_EQ(QFile::symLinkTarget(dosLink(5)), portPath(5));
    EXPECT_EQ(QFile::symLinkTarget(dosLink(12)), portPath(12));
    switchEmulation(true);  // on again with the same ports (another configuration loaded): no command

    switchEmulation(false);
    EXPECT_TRUE(registry.values.isEmpty());
    EXPECT_FALSE(QFileInfo(dosLink(5)).isSymLink());
    EXPECT_FALSE(QFileInfo(dosLink(12)).isSymLink());
    switchEmulation(false);
    // The mapping is read once; each command after it is a change.
    EXPECT_EQ(registry.calls, (QStringList{"read " + prefix(), "set COM5", "set COM12", "remove COM12", "remove COM5"}));

    switchEmulation(true);
    EXPECT_EQ(registry.calls.mid(5), (QStringList{"set COM5", "set COM12"}));
    EXPECT_EQ(QFile::symLinkTarget(dosLink(12)), portPath(12));
    EXPECT_TRUE(logLines().isEmpty());
}

TEST_F(WinePortsTest, APrefixMadeWhileEmulationRunsIsMappedOnceWineHasMadeIt)
{
    QDir(prefix()).removeRecursively();
    runPort(5);
    switchEmulation(true);
    EXPECT_TRUE(registry.calls.isEmpty());

    QDir().mkpath(prefix() + "/dosdevices");  // Wine makes the prefix: its folders first,
    SignalCounter settled(&wine(), &WinePorts::settled);
    settled.wait(300);
    EXPECT_TRUE(registry.calls.isEmpty());
    writeFile(prefix() + "/system.reg", "WINE REGISTRY Version 2\n");  // then its registry
    ASSERT_TRUE(settled.wait(5000));
    EXPECT_EQ(registry.values, (WineRegistry::Values{{"COM5", portPath(5)}}));
    EXPECT_EQ(QFile::symLinkTarget(dosLink(5)), portPath(5));

    // Removed and made again: the new prefix knows nothing of the old one's mapping.
    QDir(prefix()).removeRecursively();
    settled.wait(300);
    QDir().mkpath(prefix() + "/dosdevices");
    writeFile(prefix() + "/system.reg", "WINE REGISTRY Version 2\n");
    registry.values.clear();
    ASSERT_TRUE(settled.wait(5000));
    EXPECT_EQ(registry.values, (WineRegistry::Values{{"COM5", portPath(5)}}));
    EXPECT_EQ(registry.calls, (QStringList{"read " + prefix(), "set COM5", "read " + prefix(), "set COM5"}));
}

TEST_F(WinePortsTest, EntriesThatAreNotThePortsAreLeftAloneAndLoggedOnce)
{
    registry.values = {{"COM5", "/dev/ttyUSB0"}, {"COM9", "hex(2):2f,00"}};
    writeFile(dosLink(7), "a file of the user's");
    QFile::link("/dev/ttyS1", dosLink(8));
    for (int com : {5, 6, 7, 8, 9})
        runPort(com);
    for (int round = 0; round < 2; ++round) {
        switchEmulation(true);
        EXPECT_EQ(registry.values, (WineRegistry::Values{{"COM5", "/dev/ttyUSB0"}, {"COM6", portPath(6)}, {"COM9", "hex(2):2f,00"}}));
        EXPECT_FALSE(QFileInfo::exists(dosLink(5)));
        EXPECT_EQ(QFile::symLinkTarget(dosLink(6)), portPath(6));
        switchEmulation(false);
    }
    EXPECT_EQ(registry.values, (WineRegistry::Values{{"COM5", "/dev/ttyUSB0"}, {"COM9", "hex(2):2f,00"}}));
    EXPECT_EQ(readFile(dosLink(7)), "a file of the user's");
    EXPECT_EQ(QFile::symLinkTarget(dosLink(8)), "/dev/ttyS1");
    EXPECT_FALSE(QFileInfo::exists(dosLink(9)));
    const QStringList log = logLines();
    ASSERT_EQ(log.size(), 4) << log.join('\n').toStdString();
    EXPECT_TRUE(log[0].endsWith("COM5 of " + prefix() + " is mapped to /dev/ttyUSB0, not to this program's port; left as it is"));
    EXPECT_TRUE(log[1].endsWith(dosLink(7) + " is not a link to this program's port " + portPath(7) + "; left as it is"));
    EXPECT_TRUE(log[2].contains(dosLink(8) + " is not a link"));
    EXPECT_TRUE(log[3].contains("COM9 of " + prefix() + " is mapped to hex(2):2f,00"));
}

TEST_F(WinePortsTest, TheSettingOffAMissingPrefixOrAMissingWineTouchNothing)
{
    runPort(5);
    WriteSetting(state, settingsKey::WineComPorts, "0");
    switchEmulation(true);
    switchEmulation(false);
    EXPECT_TRUE(registry.calls.isEmpty());

    WriteSetting(state, settingsKey::WineComPorts, "1");
    QFile::remove(prefix() + "/system.reg");  // a folder Wine has not made a prefix of
    switchEmulation(true);
    EXPECT_TRUE(registry.calls.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dosLink(5)));

    writeFile(prefix() + "/system.reg", "WINE REGISTRY Version 2\n");
    registry.installed = false;
    switchEmulation(true);
    switchEmulation(true);
    EXPECT_TRUE(registry.calls.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dosLink(5)));
    EXPECT_EQ(logLines().size(), 1);
    EXPECT_TRUE(logLines().value(0).contains("no wine program found"));

    registry.installed = true;  // on again, the setting gone: the default is on
    WriteSetting(state, settingsKey::WineComPorts, "");
    switchEmulation(true);
    EXPECT_EQ(registry.values.value("COM5"), portPath(5));
}

TEST_F(WinePortsTest, AnUnreadableRegistryChangesNothingAndIsLoggedOnce)
{
    runPort(5);
    registry.readable = false;
    switchEmulation(true);
    switchEmulation(false);
    switchEmulation(true);
    EXPECT_TRUE(registry.writes().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dosLink(5)));
    ASSERT_EQ(logLines().size(), 1);
    EXPECT_TRUE(logLines()[0].endsWith("the port mapping of " + prefix() + " could not be read: wine crashed"));
}

TEST_F(WinePortsTest, PortsCreatedAndRemovedWhileEmulationRunsFollow)
{
    runPort(5);
    switchEmulation(true);
    SignalCounter settled(&wine(), &WinePorts::settled);
    runPort(6);
    ASSERT_TRUE(settled.wait(5000));
    EXPECT_EQ(registry.values.value("COM6"), portPath(6));
    EXPECT_EQ(QFile::symLinkTarget(dosLink(6)), portPath(6));

    endPort(5);
    ASSERT_TRUE(settled.wait(5000));
    EXPECT_EQ(registry.values, (WineRegistry::Values{{"COM6", portPath(6)}}));
    EXPECT_FALSE(QFileInfo(dosLink(5)).isSymLink());
}

TEST_F(WinePortsTest, ASwitchDuringARoundIsFollowedByAnotherRound)
{
    runPort(5);
    SignalCounter settled(&wine(), &WinePorts::settled);
    wine().setRunning(true);
    wine().setRunning(false);  // before Wine has answered the first round
    ASSERT_TRUE(settled.wait(5000));
    EXPECT_TRUE(registry.values.isEmpty());
    EXPECT_FALSE(QFileInfo(dosLink(5)).isSymLink());
    EXPECT_EQ(settled.count(), 1);
}

TEST_F(WinePortsTest, MappingsOfThePortsLeftByAnEarlierRunGoAtTheNextStart)
{
    registry.values = {{"COM3", portPath(3)}, {"COM4", "/dev/ttyS3"}, {"COM03", portPath(3)}};
    QFile::link(portPath(3), dosLink(3));
    runPort(5);
    switchEmulation(true);
    EXPECT_EQ(registry.values, (WineRegistry::Values{{"COM4", "/dev/ttyS3"}, {"COM03", portPath(3)}, {"COM5", portPath(5)}}));
    EXPECT_FALSE(QFileInfo(dosLink(3)).isSymLink());
}

TEST_F(WinePortsTest, TheProgramsEndRemovesTheLinksAtOnceAndTheMappingsAfterIt)
{
    runPort(5);
    runPort(7);
    switchEmulation(true);
    ports.reset();
    EXPECT_EQ(registry.calls.last(), "detached COM5,COM7");
    EXPECT_FALSE(QFileInfo(dosLink(5)).isSymLink());
    EXPECT_FALSE(QFileInfo(dosLink(7)).isSymLink());
    // And again after the values: Wine, started for their removal, makes them anew.
    EXPECT_EQ(registry.linksAfter, (QMap<QString, QString>{{dosLink(5), portPath(5)}, {dosLink(7), portPath(7)}}));

    registry.calls.clear();
    WriteSetting(state, settingsKey::WineComPorts, "0");
    switchEmulation(true);
    ports.reset();  // a program that never touched the prefix leaves it as it is
    EXPECT_TRUE(registry.calls.isEmpty());
}

}  // namespace

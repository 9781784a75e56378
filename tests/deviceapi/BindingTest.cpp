#include "app/Trap.h"
#include "deviceapi/VspBinding.h"
#include "deviceapi/modVSP_APIs.h"
#include "support/FakeVsp.h"
#include "support/TestFolder.h"

#include <gtest/gtest.h>

using namespace modVSP_APIs;

namespace {

TEST(Binding, PassesArgumentsAndReadsResultsOfTheLoadedLibrary)
{
    TestFolder folder;
    FakeVsp fake;
    fake.setVersion("fake 9.9");
    QString version = "stale";
    vsp_getVersionInformation(version);
    EXPECT_EQ(version.size(), versionBufferLength);  // blanks, then what the library wrote
    EXPECT_EQ(cleanOutBuffer(version), "fake 9.9");

    EXPECT_EQ(vsp_initialize(), 1);
    fake.setResult("vsp_startEmulation", 0);
    EXPECT_EQ(vsp_startEmulation(), 0);
    fake.setResult("vsp_stopEmulation", 65536);  // a 32-bit result read as a 16-bit flag
    EXPECT_EQ(vsp_stopEmulation(), 0);

    const int connector = vsp_createDevice("Connector", "5;0");
    fake.refuseCreates(1);
    EXPECT_EQ(vsp_createDevice("TcpClient", "h;1;5;19200,0,8,1,0,0;1;0;"), -1);
    EXPECT_EQ(vsp_getDevicesCount(), 1);
    EXPECT_EQ(vsp_getDeviceIdByIdx(0), connector);
    EXPECT_TRUE(fake.calls().contains("vsp_createDevice Connector 5;0\n"));
    EXPECT_TRUE(folder.log().isEmpty());
}

TEST(Binding, DeviceInfoIsBlankFilledAndCleanedByTheCaller)
{
    FakeVsp fake;
    const QString longInit = QString(70, QLatin1Char('h')) + ";1;5;19200,0,8,1,0,0;1;0;";
    const int id = fake.addDevice("TcpClient", longInit.toUtf8().constData(), 1, 0);
    QString type;
    QString init;
    std::int32_t ready = 7;
    std::int32_t ok = 7;
    EXPECT_EQ(vsp_getDeviceInfo(id, type, init, ready, ok), 1);
    EXPECT_EQ(type.size(), typeBufferLength);
    EXPECT_EQ(type.left(10), QString("TcpClient") + QChar(0));
    EXPECT_EQ(cleanOutBuffer(type), "TcpClient");
    EXPECT_EQ(cleanOutBuffer(init), longInit.left(initBufferLength));  // cut, never overflowing
    EXPECT_EQ(ready, 1);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(vsp_getDeviceInfo(id + 100, type, init, ready, ok), 0);
}

TEST(Binding, InitStringsComeBackWholeThroughTheSizedCallOrUpTo64CharactersWithout)
{
    const QString tail = ";3001;5;19200,0,8,1,0,0;1;0;";
    const QString exact = QString(initBufferLength - tail.size(), QLatin1Char('h')) + tail;
    const QString longest = QString(253, QLatin1Char('h')) + tail;
    const QString huge = QString(3000, QLatin1Char('h')) + tail;
    QString type;
    QString init;
    std::int32_t ready = 0;
    std::int32_t ok = 0;
    {
        FakeVsp fake;
        const int exactId = fake.addDevice("TcpClient", exact.toUtf8().constData());
        const int longestId = fake.addDevice("TcpClient", longest.toUtf8().constData(), 1, 1);
        const int hugeId = fake.addDevice("TcpClient", huge.toUtf8().constData());
        ASSERT_EQ(vsp_getDeviceInfo(exactId, type, init, ready, ok), 1);
        EXPECT_EQ(cleanOutBuffer(init), exact);  // fills the 64 characters, no NUL of its own

        ASSERT_EQ(vsp_getDeviceInfoEx(longestId, type, init, ready, ok), 1);
        EXPECT_EQ(cleanOutBuffer(type), "TcpClient");
        EXPECT_EQ(cleanOutBuffer(init), longest);
        EXPECT_EQ(ready, 1);
        EXPECT_EQ(ok, 1);
        ASSERT_EQ(vsp_getDeviceInfoEx(hugeId, type, init, ready, ok), 1);  // asked again with the size it needs
        EXPECT_EQ(cleanOutBuffer(init), huge);
        EXPECT_TRUE(fake.calls().contains(QString("vsp_getDeviceInfoEx %1 %2\n").arg(hugeId).arg(huge.size() + 1)));
        EXPECT_EQ(vsp_getDeviceInfoEx(hugeId + 1, type, init, ready, ok), 0);
    }
    {
        FakeVsp older(FAKEVSP_PARTIAL_FILE);  // a library without the sized call
        const int id = older.addDevice("TcpClient", longest.toUtf8().constData());
        ASSERT_EQ(vsp_getDeviceInfoEx(id, type, init, ready, ok), 1);
        EXPECT_EQ(cleanOutBuffer(init), longest.left(initBufferLength));
        EXPECT_TRUE(older.calls().contains(QString("vsp_getDeviceInfo %1\n").arg(id)));
    }
}

TEST(Binding, MissingLibraryFailsInTheCallersTrapAndTheCallerGoesOn)
{
    TestFolder folder;
    VspBinding::instance().setLibraryFile("/nonexistent/libvspdevices.so");
    bool after = false;
    Trap trap("Form_Load");
    trap(40, [] { vsp_initialize(); });
    trap(50, [&] { after = true; });
    VspBinding::instance().setLibraryFile(VspBinding::defaultLibraryFile);

    EXPECT_TRUE(after);
    EXPECT_TRUE(folder.log().endsWith("Error 53 (File not found: /nonexistent/libvspdevices.so) in procedure "
                                      "Form_Load of Form frmMain on line 40\r\n"));
}

TEST(Binding, MissingEntryPointFailsOnlyThatCall)
{
    TestFolder folder;
    FakeVsp fake(FAKEVSP_PARTIAL_FILE);
    std::int32_t count = 99;
    Trap trap("ScanAvailPairs");
    trap(30, [&] { count = vsp_getDevicesCount(); });
    EXPECT_EQ(count, 99);
    EXPECT_TRUE(folder.log().contains("Error 453 (Can't find DLL entry point vsp_getDevicesCount in "));
    EXPECT_TRUE(folder.log().endsWith(") in procedure ScanAvailPairs of Form frmMain on line 30\r\n"));
    EXPECT_EQ(vsp_initialize(), 1);  // the library itself is bound and works
}

}  // namespace

namespace {

TEST(Binding, FindsTheRealLibraryBesideTheProgramByName)
{
    VspBinding::instance().setLibraryFile(VspBinding::defaultLibraryFile);
    QString version;
    ASSERT_EQ(vsp_getVersionInformation(version), 1);
    EXPECT_TRUE(cleanOutBuffer(version).startsWith("vspdevices "));
    EXPECT_EQ(vsp_createDevice("Connector", "5;0"), -1);  // not initialized: refused cleanly
    VspBinding::instance().unbind();
}

}  // namespace

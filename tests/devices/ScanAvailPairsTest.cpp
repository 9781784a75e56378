#include "deviceapi/modVSP_APIs.h"
#include "support/MainWindowFixture.h"

namespace {

class Scan : public MainWindowFixture {};

const char* clientH = "H;3001;5;19200,0,8,1,0,0;1;0;";

TEST_F(Scan, WorkedCaseBuildsOneRowAndASecondScanOnlyChangesTheStatus)
{
    const int connector = vsp.addDevice("Connector", "5;0");
    const int client = vsp.addDevice("TcpClient", clientH, 1, 0);
    window->ScanAvailPairs();
    EXPECT_EQ(rows(), QStringList{"COM5|19200,0,8,1,0,0|H|3001|Ready"});
    EXPECT_EQ(record(0), QString("0") + QChar(8) + "5;0" + QChar(8) + "1" + QChar(8) + clientH);
    EXPECT_EQ(connector, 0);
    EXPECT_EQ(fake.cursor.depth, 0);
    EXPECT_EQ(fake.cursor.busyCount, 1);

    listRows::selectRow(list(), 0);
    vsp.setFlags(client, 1, 1);
    window->ScanAvailPairs();
    EXPECT_EQ(rows(), QStringList{"COM5|19200,0,8,1,0,0|H|3001|OK"});
    EXPECT_TRUE(listRows::isRowSelected(list(), 0));
    EXPECT_FALSE(vsp.calls().contains("vsp_stopEmulation"));
}

TEST_F(Scan, AnEmptyLibraryRemovesEveryRowAndAsksToStop)
{
    vsp.addDevice("Connector", "5;0");
    window->ScanAvailPairs();
    ASSERT_EQ(rows().size(), 1);
    vsp.reset();
    window->ScanAvailPairs();
    EXPECT_TRUE(rows().isEmpty());
    EXPECT_TRUE(vsp.calls().endsWith("vsp_stopEmulation\n"));  // even though emulation was not running
    vsp.setResult("vsp_stopEmulation", 0);
    window->ScanAvailPairs();
    EXPECT_EQ(fake.messages.texts(),
              QStringList{"Error: emulation can not be stopped: maybe one of devices is still in use."});
}

TEST_F(Scan, RowsAreFoundByTheirWholeTextAndOnlyExactTypeNamesCount)
{
    vsp.addDevice("Connector", "1;0");
    vsp.addDevice("Connector", "10;0");
    vsp.addDevice("TcpClient", "a;1;10;9600,0,8,1,0,0;1;0;", 1, 1);
    vsp.addDevice("TcpClient", "b;2;1;9600,0,8,1,0,0;1;0;", 0, 0);
    vsp.addDevice("connector", "7;0");
    vsp.addDevice("TCPCLIENT", "c;3;1;9600,0,8,1,0,0;1;0;", 1, 1);
    vsp.addDevice("TcpClient", "d;4;3;9600,0,8,1,0,0;1;0;", 1, 1);  // no row for COM3: ignored
    window->ScanAvailPairs();
    EXPECT_EQ(rows(), (QStringList{"COM1|9600,0,8,1,0,0|b|2|Emulation is OFF", "COM10|9600,0,8,1,0,0|a|1|OK"}));
}

TEST_F(Scan, StatusComesFromFlagsThatAreExactlyOne)
{
    const struct {
        int ready, ok;
        const char* status;
    } cases[] = {{1, 0, "Ready"}, {1, 1, "OK"}, {0, 1, "OK"}, {0, 0, "Emulation is OFF"}, {2, 0, "Emulation is OFF"}, {0, -1, "Emulation is OFF"}};
    for (const auto& c : cases) {
        vsp.reset();
        vsp.addDevice("Connector", "5;0");
        vsp.addDevice("TcpClient", clientH, c.ready, c.ok);
        window->ScanAvailPairs();
        EXPECT_EQ(listRows::rowText(list(), 0, frmMain::ColStatus), c.status) << c.ready << "," << c.ok;
    }
}

TEST_F(Scan, AClientBeforeItsConnectorLeavesTheRowInitializing)
{
    const int connector = vsp.addDevice("Connector", "5;0");
    vsp.addDevice("TcpClient", clientH, 1, 1);
    window->ScanAvailPairs();
    // The Connector is re-created after its client: it now comes later in the order.
    modVSP_APIs::vsp_destroyDevice(connector);
    vsp.addDevice("Connector", "5;0");
    window->ScanAvailPairs();
    EXPECT_EQ(rows(), QStringList{"COM5||||Initializing"});
    EXPECT_EQ(record(0), QString("2") + QChar(8) + "5;0" + QChar(8));
}

TEST_F(Scan, TextsAreTrimmedBeforeNulsAreDropped)
{
    vsp.addDevice(" Connector", "  5;0 ");  // a blank the library wrote itself stays
    window->ScanAvailPairs();
    EXPECT_EQ(rows(), QStringList{"COM5||||Initializing"});
    EXPECT_EQ(record(0), QString("0") + QChar(8) + "5;0 " + QChar(8));
}

TEST_F(Scan, AMissingFieldIsLoggedAndTheOtherRowsAreStillBuilt)
{
    vsp.addDevice("Connector", "5;0");
    vsp.addDevice("TcpClient", "H;3001", 1, 1);  // no COM number
    vsp.addDevice("Connector", "6;0");
    window->ScanAvailPairs();
    EXPECT_EQ(rows(), (QStringList{"COM5||||Initializing", "COM6||||Initializing"}));
    EXPECT_TRUE(folder.log().contains(
        "Error 9 (Subscript out of range) in procedure ScanAvailPairs of Form frmMain on line 80\r\n"));
    EXPECT_EQ(fake.cursor.depth, 0);
}

TEST_F(Scan, ScanningTwiceLeavesRowsOrderSelectionAndTextsAsTheyWere)
{
    vsp.addDevice("Connector", "9;0");
    vsp.addDevice("TcpClient", "x;1;9;9600,0,8,1,0,0;1;0;", 1, 0);
    vsp.addDevice("Connector", "2;0");
    vsp.addDevice("TcpClient", "y;2;2;9600,0,8,1,0,0;1;0;", 1, 1);
    window->ScanAvailPairs();
    listRows::selectRow(list(), 1);
    const QStringList before = rows();
    const QPersistentModelIndex second = listRows::rowHandle(list(), 1);
    window->ScanAvailPairs();
    EXPECT_EQ(rows(), before);
    EXPECT_EQ(listRows::rowHandle(list(), 1), second);  // updated in place
    EXPECT_TRUE(listRows::isRowSelected(list(), second.row()));
    EXPECT_EQ(before.first().left(4), "COM9");  // rows in the order their Connectors came
}

}  // namespace

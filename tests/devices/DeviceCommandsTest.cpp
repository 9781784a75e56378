#include "deviceapi/modVSP_APIs.h"
#include "support/EditorFixture.h"

namespace {

class DeviceCommands : public EditorFixture {
protected:
    QStringList changes(const QString& since) const
    {
        QStringList list;
        for (const QString& call : vsp.calls().mid(since.size()).split('\n', Qt::SkipEmptyParts))
            if (!call.startsWith("vsp_getDevice"))
                list << call;
        return list;
    }
};

TEST_F(DeviceCommands, ARightClickEnablesTheEntriesThatFitWhereItLands)
{
    pressOnList({20, 100});  // an empty list
    ASSERT_EQ(fake.popups.shown.size(), 1);
    EXPECT_EQ(fake.popups.shown[0], (QStringList{"Create", "Remove All"}));

    listRedirect(5);
    listRedirect(6);
    pressOnList(rowCentre(1));
    EXPECT_EQ(fake.popups.shown[1], (QStringList{"Properties", "Reinitialize", "Remove", "Remove All", "Monitor"}));
    EXPECT_TRUE(listRows::isRowSelected(list(), 1));

    pressOnList({20, 120});  // empty space below the rows: the selection stays
    EXPECT_EQ(fake.popups.shown[2], (QStringList{"Create", "Remove All"}));
    EXPECT_TRUE(listRows::isRowSelected(list(), 1));

    pressOnList(rowCentre(0), Qt::LeftButton);
    EXPECT_EQ(fake.popups.shown.size(), 3);  // a left press opens nothing and enables nothing
    EXPECT_FALSE(part<QAction>("mnuRemove")->isEnabled());

    vsp.addDevice("Connector", "7;0");  // a COM port without its TCP side: nothing to monitor
    window->ScanAvailPairs();
    pressOnList(rowCentre(2));
    EXPECT_EQ(fake.popups.shown[3], (QStringList{"Properties", "Reinitialize", "Remove", "Remove All"}));
}

TEST_F(DeviceCommands, RemoveDestroysTheClientFirstThenTheConnectorAndRescans)
{
    createRedirect();  // an unsaved change
    selectRow(0);
    const QString before = vsp.calls();
    trigger("mnuRemove");
    EXPECT_EQ(changes(before), (QStringList{"vsp_destroyDevice 1", "vsp_destroyDevice 0", "vsp_stopEmulation"}));
    EXPECT_TRUE(rows().isEmpty());
    EXPECT_TRUE(unsaved());  // removing does not mark the configuration
}

TEST_F(DeviceCommands, RemoveOnHalfRecordsLogsTheMissingIdAndDestroysTheOtherDevice)
{
    vsp.addDevice("Connector", "5;0");  // no client: the record holds the Connector's part
    window->ScanAvailPairs();
    selectRow(0);
    QString before = vsp.calls();
    trigger("mnuRemove");
    EXPECT_TRUE(folder.log().contains("Error 13 (Type mismatch) in procedure mnuRemove_Click of Form frmMain on line 10"));
    EXPECT_EQ(changes(before).mid(0, 1), QStringList{"vsp_destroyDevice 0"});

    // A client whose Connector vanished after a scan had listed the row.
    listRedirect(6);
    vsp.refuseType("Connector", 0);
    const int connectorId = 1;
    modVSP_APIs::vsp_destroyDevice(connectorId);
    window->ScanAvailPairs();
    selectRow(0);
    before = vsp.calls();
    trigger("mnuRemove");
    EXPECT_TRUE(folder.log().contains("Error 9 (Subscript out of range) in procedure mnuRemove_Click of Form frmMain on line 10"));
    EXPECT_EQ(changes(before).mid(0, 1), QStringList{"vsp_destroyDevice 2"});  // text 0: the client's id
    EXPECT_TRUE(rows().isEmpty());
}

TEST_F(DeviceCommands, ReinitializeCallsConnectorThenClientAndDoesNotRescan)
{
    listRedirect(5);
    selectRow(0);
    const QString before = vsp.calls();
    trigger("mnuReinitialize");
    EXPECT_EQ(vsp.calls().mid(before.size()), "vsp_reinitializeDevice 0\nvsp_reinitializeDevice 1\n");
}

TEST_F(DeviceCommands, WithoutASelectedRowEveryStepLogsAndNothingIsCalled)
{
    listRedirect(5);
    list()->clearSelection();
    const QString before = vsp.calls();
    for (const char* command : {"mnuReinitialize", "mnuRemove", "mnuProperties"})
        trigger(command);
    const QString log = QString::fromUtf8(folder.log());
    for (const char* step : {"mnuReinitialize_Click of Form frmMain on line 10", "mnuReinitialize_Click of Form frmMain on line 20",
                             "mnuRemove_Click of Form frmMain on line 10", "mnuRemove_Click of Form frmMain on line 20",
                             "mnuProperties_Click of Form frmMain on line 20", "mnuProperties_Click of Form frmMain on line 30"})
        EXPECT_TRUE(log.contains(QString("Error 91 (Object variable or With block variable not set) in procedure ") + step)) << step;
    EXPECT_FALSE(vsp.calls().mid(before.size()).contains("vsp_destroyDevice"));
    EXPECT_FALSE(vsp.calls().mid(before.size()).contains("vsp_reinitializeDevice"));
    EXPECT_TRUE(editorShown());  // Properties prepared the editor all the same
}

TEST_F(DeviceCommands, RemoveAllAsksEvenWithAnEmptyListAndStopsTwice)
{
    fake.messages.answers = {msgbox::Answer::No};
    trigger("mnuRemoveAll");
    EXPECT_EQ(fake.messages.texts(), QStringList{"Are you sure you want to remove all the COM <-> TCP redirections?"});
    EXPECT_EQ(fake.messages.shown[0].defaultAnswer, msgbox::Answer::Yes);
    EXPECT_TRUE(vsp.calls().isEmpty());

    fake.messages.answers = {msgbox::Answer::Yes};
    trigger("mnuRemoveAll");
    EXPECT_EQ(changes(""), (QStringList{"vsp_destroyAllDevices", "vsp_stopEmulation", "vsp_stopEmulation"}));
    EXPECT_EQ(fake.messages.shown.size(), 2);
}

}  // namespace

#include "deviceapi/modVSP_APIs.h"
#include "support/EditorFixture.h"

#include <QAction>
#include <QCoreApplication>
#include <QMouseEvent>

namespace {

class DeviceCommands : public EditorFixture {
protected:
    QPoint rowCentre(int row) const
    {
        return listRows::rowRect(window->lstPairs, row).center();
    }
    void rightClick(QPoint at) { window->lstPairs_MouseDown(Qt::RightButton, Qt::NoModifier, at.x(), at.y()); }
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
    rightClick({20, 100});  // an empty list
    ASSERT_EQ(fake.popups.shown.size(), 1);
    EXPECT_EQ(fake.popups.shown[0], (QStringList{"Create", "Remove All"}));

    listRedirect(5);
    listRedirect(6);
    rightClick(rowCentre(1));
    EXPECT_EQ(fake.popups.shown[1], (QStringList{"Properties", "Reinitialize", "Remove", "Remove All"}));
    EXPECT_TRUE(listRows::isRowSelected(window->lstPairs, 1));

    rightClick({20, 120});  // empty space below the rows: the selection stays
    EXPECT_EQ(fake.popups.shown[2], (QStringList{"Create", "Remove All"}));
    EXPECT_TRUE(listRows::isRowSelected(window->lstPairs, 1));

    window->lstPairs_MouseDown(Qt::LeftButton, Qt::NoModifier, rowCentre(0).x(), rowCentre(0).y());
    EXPECT_EQ(fake.popups.shown.size(), 3);  // a left press opens nothing and enables nothing
    EXPECT_FALSE(window->mnuRemove->isEnabled());

    // The press reaches the handler through the list itself.
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(rowCentre(0)), window->lstPairs->viewport()->mapToGlobal(QPointF(rowCentre(0))),
                      Qt::RightButton, Qt::RightButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window->lstPairs->viewport(), &press);
    EXPECT_EQ(fake.popups.shown.size(), 4);
    EXPECT_TRUE(listRows::isRowSelected(window->lstPairs, 0));
}

TEST_F(DeviceCommands, RemoveDestroysTheClientFirstThenTheConnectorAndRescans)
{
    listRedirect(5);
    window->m_ConfigChanged = true;
    selectRow(0);
    const QString before = vsp.calls();
    window->mnuRemove_Click();
    EXPECT_EQ(changes(before), (QStringList{"vsp_destroyDevice 1", "vsp_destroyDevice 0", "vsp_stopEmulation"}));
    EXPECT_TRUE(rows().isEmpty());
    EXPECT_TRUE(window->m_ConfigChanged);  // removing does not mark the configuration
}

TEST_F(DeviceCommands, RemoveOnHalfRecordsLogsTheMissingIdAndDestroysTheOtherDevice)
{
    vsp.addDevice("Connector", "5;0");  // no client: the record holds the Connector's part
    window->ScanAvailPairs();
    selectRow(0);
    QString before = vsp.calls();
    window->mnuRemove_Click();
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
    window->mnuRemove_Click();
    EXPECT_TRUE(folder.log().contains("Error 9 (Subscript out of range) in procedure mnuRemove_Click of Form frmMain on line 10"));
    EXPECT_EQ(changes(before).mid(0, 1), QStringList{"vsp_destroyDevice 2"});  // text 0: the client's id
    EXPECT_TRUE(rows().isEmpty());
}

TEST_F(DeviceCommands, ReinitializeCallsConnectorThenClientAndDoesNotRescan)
{
    listRedirect(5);
    selectRow(0);
    const QString before = vsp.calls();
    window->mnuReinitialize_Click();
    EXPECT_EQ(vsp.calls().mid(before.size()), "vsp_reinitializeDevice 0\nvsp_reinitializeDevice 1\n");
}

TEST_F(DeviceCommands, WithoutASelectedRowEveryStepLogsAndNothingIsCalled)
{
    listRedirect(5);
    window->lstPairs->clearSelection();
    const QString before = vsp.calls();
    window->mnuReinitialize_Click();
    window->mnuRemove_Click();
    window->mnuProperties_Click();
    const QString log = QString::fromUtf8(folder.log());
    for (const char* step : {"mnuReinitialize_Click of Form frmMain on line 10", "mnuReinitialize_Click of Form frmMain on line 20",
                             "mnuRemove_Click of Form frmMain on line 10", "mnuRemove_Click of Form frmMain on line 20",
                             "mnuProperties_Click of Form frmMain on line 20", "mnuProperties_Click of Form frmMain on line 30"})
        EXPECT_TRUE(log.contains(QString("Error 91 (Object variable or With block variable not set) in procedure ") + step)) << step;
    EXPECT_FALSE(vsp.calls().mid(before.size()).contains("vsp_destroyDevice"));
    EXPECT_FALSE(vsp.calls().mid(before.size()).contains("vsp_reinitializeDevice"));
    EXPECT_FALSE(window->fraNewRedirect->isHidden());  // Properties prepared the editor all the same
}

TEST_F(DeviceCommands, RemoveAllAsksEvenWithAnEmptyListAndStopsTwice)
{
    fake.messages.answers = {msgbox::Answer::No};
    window->mnuRemoveAll_Click();
    EXPECT_EQ(fake.messages.texts(), QStringList{"Are you sure you want to remove all the COM <-> TCP redirections?"});
    EXPECT_EQ(fake.messages.shown[0].defaultAnswer, msgbox::Answer::Yes);
    EXPECT_TRUE(vsp.calls().isEmpty());

    fake.messages.answers = {msgbox::Answer::Yes};
    window->mnuRemoveAll_Click();
    EXPECT_EQ(changes(""), (QStringList{"vsp_destroyAllDevices", "vsp_stopEmulation", "vsp_stopEmulation"}));
    EXPECT_EQ(fake.messages.shown.size(), 2);
}

}  // namespace

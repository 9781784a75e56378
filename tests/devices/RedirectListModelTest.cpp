#include "app/RuntimeError.h"
#include "deviceapi/modVSP_APIs.h"
#include "devices/RedirectList.h"
#include "support/EditorFixture.h"
#include "support/FailedSteps.h"

#include <QTreeView>

namespace {

// The cells a model announces as changed, and how often rows came, went or all reset.
struct ModelChanges {
    explicit ModelChanges(QAbstractItemModel* model)
    {
        QObject::connect(model, &QAbstractItemModel::dataChanged, &receiver,
                         [this](const QModelIndex& from, const QModelIndex& to) {
                             ++announced;
                             for (int r = from.row(); r <= to.row(); ++r)
                                 for (int c = from.column(); c <= to.column(); ++c)
                                     cells.insert({r, c});
                         });
        const auto count = [this] { ++reshaped; };
        QObject::connect(model, &QAbstractItemModel::modelReset, &receiver, count);
        QObject::connect(model, &QAbstractItemModel::layoutChanged, &receiver, count);
        QObject::connect(model, &QAbstractItemModel::rowsInserted, &receiver, count);
        QObject::connect(model, &QAbstractItemModel::rowsRemoved, &receiver, count);
        QObject::connect(model, &QAbstractItemModel::rowsMoved, &receiver, count);
    }
    QObject receiver;
    QSet<QPair<int, int>> cells;
    int announced = 0;
    int reshaped = 0;
};

class RedirectRows : public EditorFixture {
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

TEST_F(RedirectRows, ARowRemovedAboveTheSelectedOneLeavesTheCommandsOnTheSameRedirect)
{
    listRedirect(9);  // ids 0, 1
    listRedirect(2);  // ids 2, 3
    listRedirect(7);  // ids 4, 5
    pressOnList(rowCentre(2));
    modVSP_APIs::vsp_destroyDevice(3);
    modVSP_APIs::vsp_destroyDevice(2);
    window->ScanAvailPairs();
    ASSERT_EQ(rows().size(), 2);
    EXPECT_TRUE(listRows::isRowSelected(list(), 1));
    EXPECT_EQ(list()->currentIndex().row(), 1);

    const QString before = vsp.calls();
    trigger("mnuRemove");
    EXPECT_EQ(changes(before), (QStringList{"vsp_destroyDevice 5", "vsp_destroyDevice 4"}));
    EXPECT_EQ(rows(), QStringList{"COM9|19200,0,8,1,0,0|10.0.0.9|4001|Emulation is OFF"});
}

TEST_F(RedirectRows, AScanThatChangesOnlyAStatusKeepsEveryRowInPlace)
{
    listRedirect(5);
    listRedirect(6);
    vsp.setFlags(3, 1, 0);
    ModelChanges changes(list()->model());
    window->ScanAvailPairs();

    EXPECT_EQ(rows()[1], "COM6|19200,0,8,1,0,0|10.0.0.9|4001|Ready");
    // No row comes, goes or moves and nothing is reset, so the view keeps its
    // selection, current row and scroll position; the row's key is never rewritten.
    EXPECT_TRUE(changes.cells.contains({1, frmMain::ColStatus}));
    EXPECT_FALSE(changes.cells.contains({0, frmMain::ColComPort}));
    EXPECT_FALSE(changes.cells.contains({1, frmMain::ColComPort}));
    EXPECT_EQ(changes.reshaped, 0);
}

// The list on its own, as a status refresh between scans drives it.
class RedirectListAlone : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        vsp.addDevice("Connector", "5;0");
        vsp.addDevice("TcpClient", "h;3001;5;19200,0,8,1,0,0;1;0;", 1, 0);
        vsp.addDevice("Connector", "8;0");
        scan();
    }
    void scan()
    {
        FailedSteps<ScanStep> failed;
        list.forgetRecords();
        list.readDevices(failed.sink());
        EXPECT_TRUE(failed.list.empty());
        list.dropRowsWithoutRecord();
    }
    QTreeView view;
    RedirectList list{view};
};

TEST_F(RedirectListAlone, GivesEachRowsIdsAndTakesAStatusAndATooltipWithoutMovingTheSelection)
{
    ASSERT_EQ(list.rowCount(), 2);
    EXPECT_EQ(list.connectorIdAt(0), 0);
    EXPECT_EQ(list.clientIdAt(0), 1);
    EXPECT_EQ(list.connectorIdAt(1), 2);
    EXPECT_THROW(list.clientIdAt(1), RuntimeError);  // a Connector without its client
    EXPECT_THROW(list.connectorIdAt(2), RuntimeError);

    list.select(1);
    ModelChanges changes(view.model());
    list.setStatusText(0, "Connecting");
    EXPECT_EQ(changes.announced, 1);
    EXPECT_EQ(changes.cells, (QSet<QPair<int, int>>{{0, RedirectRow::ColStatus}}));
    EXPECT_EQ(changes.reshaped, 0);
    EXPECT_EQ(listRows::rowText(&view, 0, RedirectRow::ColStatus), "Connecting");
    EXPECT_EQ(listRows::rowText(&view, 0, RedirectRow::ColComPort), "COM5");
    EXPECT_TRUE(listRows::isRowSelected(&view, 1));
    EXPECT_FALSE(listRows::isRowSelected(&view, 0));

    list.setToolTipText(0, "connected to h:3001");
    for (int c = 0; c < RedirectRow::ColumnCount; ++c)
        EXPECT_EQ(view.model()->index(0, c).data(Qt::ToolTipRole).toString(), "connected to h:3001") << c;
    EXPECT_FALSE(view.model()->index(1, 0).data(Qt::ToolTipRole).isValid());

    // The next scan writes the status again and leaves the tooltip to its owner.
    scan();
    EXPECT_EQ(listRows::rowText(&view, 0, RedirectRow::ColStatus), "Ready");
    EXPECT_EQ(view.model()->index(0, 0).data(Qt::ToolTipRole).toString(), "connected to h:3001");
    EXPECT_TRUE(listRows::isRowSelected(&view, 1));
}

}  // namespace

// The list's context menu and the commands on a listed redirect. They act on the
// selected row's device record: connector id, Connector string, client id,
// TcpClient string, joined by the character with code 8.
#include "app/windows/frmMain.h"

#include "app/RuntimeError.h"
#include "app/Trap.h"
#include "deviceapi/modVSP_APIs.h"
#include "redirect/InitStrings.h"

#include <QAction>
#include <QMenu>
#include <QTreeWidget>

using namespace modVSP_APIs;
using namespace redirect;

namespace {
// The selected row's device record, split; "Object variable ... not set" without one.
QStringList selectedRecord(QTreeWidget* list)
{
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    if (selected.isEmpty())
        throw RuntimeError(ErrorCode::ObjectNotSet);
    return splitFields(frmMain::deviceRecordOf(selected.first()), recordSeparator);
}

std::int16_t idAt(QTreeWidget* list, qsizetype text)
{
    return deviceIdFromText(field(selectedRecord(list), text));
}
}  // namespace

void frmMain::lstPairs_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers /*shift*/, int x, int y)
{
    Trap trap(QStringLiteral("lstPairs_MouseDown"));
    if (button != Qt::RightButton)
        return;
    QTreeWidgetItem* row = nullptr;
    trap(10, [&] {
        if (lstPairs->topLevelItemCount() > 0)
            row = lstPairs->itemAt(x, y);
    });
    trap(20, [&] {
        if (row) {
            lstPairs->clearSelection();
            lstPairs->setCurrentItem(row);
            row->setSelected(true);
        }
    });
    trap(30, [&] {
        for (QAction* a : {mnuProperties, mnuReinitialize, mnuRemove})
            a->setEnabled(row != nullptr);
        mnuCreate->setEnabled(row == nullptr);
    });
    trap(40, [&] { platform_.popups->popup(mnuDevices, lstPairs->viewport()->mapToGlobal(QPoint(x, y))); });
}

void frmMain::mnuProperties_Click()
{
    if (m_PreparingEditor)
        return;
    Trap trap(QStringLiteral("mnuProperties_Click"));
    trap(10, [&] { loadPairPropertiesFrame(); });
    trap(20, [&] { selectedRecord(lstPairs); });
    trap(30, [&] {
        const QStringList record = selectedRecord(lstPairs);
        showPairProperties(buildDevicePair(field(record, 0), field(record, 2)),
                           buildCombinedText(field(record, 1), field(record, 3)));
    });
}

void frmMain::mnuReinitialize_Click()
{
    if (m_PreparingEditor)
        return;
    Trap trap(QStringLiteral("mnuReinitialize_Click"));
    trap(10, [&] { vsp_reinitializeDevice(idAt(lstPairs, 0)); });
    trap(20, [&] { vsp_reinitializeDevice(idAt(lstPairs, 2)); });
}

void frmMain::mnuRemove_Click()
{
    if (m_PreparingEditor)
        return;
    Trap trap(QStringLiteral("mnuRemove_Click"));
    trap(10, [&] { vsp_destroyDevice(idAt(lstPairs, 2)); });
    trap(20, [&] { vsp_destroyDevice(idAt(lstPairs, 0)); });
    trap(30, [&] { ScanAvailPairs(); });
}

void frmMain::mnuRemoveAll_Click()
{
    if (m_PreparingEditor)
        return;
    Trap trap(QStringLiteral("mnuRemoveAll_Click"));
    msgbox::Answer answer = msgbox::Answer::No;
    trap(10, [&] {
        answer = platform_.messages->show({QStringLiteral("Are you sure you want to remove all the COM <-> TCP redirections?"),
                                           msgbox::Buttons::YesNo, msgbox::Icon::Question,
                                           QString::fromLatin1(msgbox::defaultCaption), msgbox::Answer::Yes});
    });
    if (answer != msgbox::Answer::Yes)
        return;
    trap(20, [&] { vsp_destroyAllDevices(); });
    trap(30, [&] { ChangeEmuStatus(false); });
    trap(40, [&] { ScanAvailPairs(); });
}

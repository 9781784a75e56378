// The list of redirects and the emulation switch as the main window commands them:
// the scan, the list's context menu, the commands on a listed redirect (its monitor
// window among them), and the Emulation menu.
#include "windows/frmMain.h"

#include "app/Trap.h"
#include "devices/DeviceCommands.h"
#include "redirect/InitStrings.h"
#include "windows/LogSteps.h"
#include "windows/MonitorWindow.h"

#include <QAction>
#include <QMenu>
#include <QTreeView>

using namespace redirect;

void frmMain::ScanAvailPairs()
{
    Trap trap(QStringLiteral("ScanAvailPairs"));
    trap(10, [&] { platform_.cursor->setBusy(); });
    trap(20, [&] { redirects_->forgetRecords(); });
    redirects_->readDevices(logSteps<ScanStep>());
    trap(90, [&] { redirects_->dropRowsWithoutRecord(); });
    trap(100, [&] {
        if (redirects_->isEmpty())
            ChangeEmuStatus(false);
    });
    trap(110, [&] { platform_.cursor->restore(); });
}

void frmMain::ChangeEmuStatus(bool wanted)
{
    Trap trap(QStringLiteral("ChangeEmuStatus"));
    // A library call that fails counts as refused, so the user hears of it.
    bool accepted = false;
    trap(10, [&] { accepted = emulation_.ask(wanted); });
    trap(20, [&] {
        if (!accepted)
            showMessage(wanted ? QStringLiteral("Error: can not start emulation")
                               : QStringLiteral("Error: emulation can not be stopped: maybe one of devices is still in use."));
        else
            emulation_.accept(wanted);
    });
    trap(30, [&] { UpdateTitle(); });
}

void frmMain::mnuEmulation_Click()
{
    Trap trap(QStringLiteral("mnuEmulation_Click"));
    trap(10, [&] { ChangeEmuStatus(!emulation_.isRunning()); });
    trap(20, [&] { ScanAvailPairs(); });
}

void frmMain::lstPairs_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers /*shift*/, int x, int y)
{
    Trap trap(QStringLiteral("lstPairs_MouseDown"));
    if (button != Qt::RightButton)
        return;
    std::optional<int> row;
    bool monitorable = false;  // a whole redirect's row: its port can be watched
    trap(10, [&] {
        row = redirects_->rowAt(QPoint(x, y));
        monitorable = row && redirects_->redirectComNumber(*row);
    });
    trap(20, [&] {
        if (row)
            redirects_->select(*row);
    });
    trap(30, [&] {
        for (QAction* a : {mnuProperties, mnuReinitialize, mnuRemove})
            a->setEnabled(row.has_value());
        mnuCreate->setEnabled(!row);
        mnuMonitor->setEnabled(monitorable);
    });
    trap(40, [&] { platform_.popups->popup(mnuDevices, lstPairs->viewport()->mapToGlobal(QPoint(x, y))); });
}

void frmMain::mnuProperties_Click()
{
    if (m_PreparingEditor)
        return;
    Trap trap(QStringLiteral("mnuProperties_Click"));
    trap(10, [&] { loadPairPropertiesFrame(); });
    trap(20, [&] { redirects_->selectedRow(); });
    trap(30, [&] {
        // The editor is filled from the two strings joined; an update that the library
        // refuses brings back the devices' own strings, which that join cannot always
        // tell apart again (a Connector string with more than two fields).
        const auto [connector, client] = redirects_->devicesAt(redirects_->selectedRow());
        showRedirectInEditor(buildCombinedText(connector.init, client.init), [&] {
            return UpdatingRedirect{DevicePair{connector.id, client.id}, DeviceStrings{connector.init, client.init}};
        });
    });
}

void frmMain::mnuReinitialize_Click()
{
    if (m_PreparingEditor)
        return;
    Trap trap(QStringLiteral("mnuReinitialize_Click"));
    trap(10, [&] { deviceCommands::reinitialize(redirects_->selectedConnectorId()); });
    trap(20, [&] { deviceCommands::reinitialize(redirects_->selectedClientId()); });
}

void frmMain::mnuRemove_Click()
{
    if (m_PreparingEditor)
        return;
    Trap trap(QStringLiteral("mnuRemove_Click"));
    trap(10, [&] { deviceCommands::destroy(redirects_->selectedClientId()); });
    trap(20, [&] { deviceCommands::destroy(redirects_->selectedConnectorId()); });
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
    trap(20, [&] { deviceCommands::destroyAll(); });
    trap(30, [&] { ChangeEmuStatus(false); });
    trap(40, [&] { ScanAvailPairs(); });
}

void frmMain::mnuMonitor_Click()
{
    Trap trap(QStringLiteral("mnuMonitor_Click"));
    std::optional<int> com;
    trap(10, [&] { com = redirects_->redirectComNumber(redirects_->selectedRow()); });
    if (!com)
        return;
    trap(20, [&] {
        QPointer<MonitorWindow>& monitor = monitors_[*com];
        if (!monitor)
            monitor = new MonitorWindow(*com, platform_, this);  // deletes itself when closed
        monitor->show();
        monitor->raise();
        monitor->activateWindow();
    });
}

void frmMain::closeMonitors()
{
    for (auto& [com, monitor] : monitors_)
        if (monitor)
            monitor->close();
    monitors_.clear();
}
